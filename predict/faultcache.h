// The simulated curves of a net's single faults, kept so that the next
// failing run of the same board ranks them without simulating again. They
// depend only on the circuit the probe sees (the board's parts by the
// models), the models' version and the stimulus, never on the measured
// curve, and the key is a hash of exactly those. Ranking against a measured
// curve stays the caller's, and is cheap.
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
    // Kept in memory only, the `entries` nets used last.
    explicit FaultCache(std::size_t entries = 256);
    // The process's cache, which the board test asks: whatever runs the
    // same board again in this process (the window, zem_bench, Python)
    // ranks its failing points without simulating.
    static FaultCache &shared();

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
    void clear();

    struct Counts
    {
        std::size_t hits = 0, misses = 0;
    };
    Counts counts() const;

private:
    mutable QMutex m_mutex;
    std::size_t m_entries;
    QHash<QByteArray, std::shared_ptr<const FaultCurves>> m_kept;
    std::deque<QByteArray> m_order; // oldest first
    Counts m_counts;
};

} // namespace predict
