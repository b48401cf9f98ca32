// The simulated curves of a net's single faults, kept so that the next
// failing run of the same board ranks them without simulating again. They
// depend only on the circuit the probe sees (the board's parts by the
// models), the models' version and the stimulus, never on the measured
// curve, and the key is a hash of exactly those. Ranking against a measured
// curve stays the caller's, and is cheap.
//
// Kept in memory and, given a folder, in a file a net there, so that the
// next process (zemctl tests one board a run) finds them too. A file is
// written atomically and trusted only when it names the same key and holds
// finite curves of the expected shape; any other is ignored, simulated again
// and written over. A folder that cannot be written only costs the time.
#pragma once

#include "circuit.h"
#include "ivcurve.h"
#include "stimulus.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

namespace predict {

// For each fault, its curve at each stimulus as the instrument would read
// it; no curves for a fault the simulator could not show.
using FaultCurves = std::vector<std::vector<sig::IvCurve>>;

class FaultCache
{
public:
    // A net of 120 faults at three settings of 200 samples is about 1 MB.
    static constexpr std::size_t kDefaultBytes = std::size_t(64) << 20;

    // Kept in `folder` when one is given, and in memory, the nets used last
    // up to `bytes` of curves (and always the last one).
    explicit FaultCache(QString folder = {}, std::size_t bytes = kDefaultBytes);
    // The process's cache, which the board test asks, with its files in the
    // user's cache folder ($XDG_CACHE_HOME/zem-tools/faults): whatever runs
    // the same board again, in this process (the window, zem_bench, Python)
    // or the next (zemctl), ranks its failing points without simulating.
    static FaultCache &shared();
    QString folder() const { return m_folder; }

    // The key of a net's faults: a hash of its circuit (every element's
    // part, nodes, value and junction), the models' version and each stimulus.
    static QByteArray key(
        const Circuit &circuit, const std::vector<zem::Stimulus> &stimuli, const QString &models);

    // The curves kept for `key`, when they are `faults` faults of one curve
    // a stimulus, each of the stimulus's sample count, or none; null when
    // nothing of that shape is kept.
    std::shared_ptr<const FaultCurves> find(
        const QByteArray &key, std::size_t faults, const std::vector<zem::Stimulus> &stimuli);
    void insert(const QByteArray &key, FaultCurves curves);
    // Forgets what is kept in memory, and the counts; the files stay.
    void clear();

    struct Counts
    {
        std::size_t hits = 0, misses = 0;
        std::size_t fromFiles = 0; // of the hits
        std::size_t refused = 0; // files there but not trusted
    };
    Counts counts() const;

private:
    QString fileOf(const QByteArray &key) const;
    void keep(const QByteArray &key, std::shared_ptr<const FaultCurves> curves);

    mutable QMutex m_mutex;
    std::size_t m_limit;
    std::size_t m_bytes = 0; // of the curves kept in memory
    QString m_folder;
    QHash<QByteArray, std::shared_ptr<const FaultCurves>> m_kept;
    std::deque<QByteArray> m_order; // the least recently used first
    Counts m_counts;
};

} // namespace predict
