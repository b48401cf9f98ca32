#include "faultcache.h"

#include <QCryptographicHash>
#include <QMutexLocker>

#include <algorithm>

namespace predict {
namespace {

// Raised whenever what a fault's curves are changes (the faults tried, how
// a curve is made what the instrument reads), so that no old entry is used.
constexpr int kFormat = 1;

void addNumber(QCryptographicHash &hash, double x)
{
    hash.addData(QByteArray::number(x, 'g', 17));
    hash.addData(QByteArrayView("\n"));
}

void addText(QCryptographicHash &hash, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    // Its length first, so that no two lists of texts hash alike.
    addNumber(hash, double(bytes.size()));
    hash.addData(bytes);
}

bool fits(const std::vector<sig::IvCurve> &curves, const std::vector<zem::Stimulus> &stimuli)
{
    if (curves.empty())
        return true; // a fault the simulator could not show
    if (curves.size() != stimuli.size())
        return false;
    for (std::size_t m = 0; m < curves.size(); ++m)
        if (curves[m].volts.size() != stimuli[m].points
            || curves[m].milliamps.size() != stimuli[m].points)
            return false;
    return true;
}

} // namespace

FaultCache::FaultCache(std::size_t entries)
    : m_entries(std::max<std::size_t>(entries, 1))
{
}

FaultCache &FaultCache::shared()
{
    static FaultCache cache;
    return cache;
}

QByteArray FaultCache::key(
    const Circuit &circuit, const std::vector<zem::Stimulus> &stimuli, const QString &models)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addNumber(hash, kFormat);
    addText(hash, models);
    addText(hash, circuit.probe);
    addText(hash, circuit.common);
    addNumber(hash, double(circuit.elements.size()));
    for (const Element &e : circuit.elements) {
        addNumber(hash, int(e.kind));
        addText(hash, e.part);
        addText(hash, e.a);
        addText(hash, e.b);
        addNumber(hash, e.value);
        const Junction &j = e.junction;
        for (double x :
            { j.saturationAmps, j.emission, j.seriesOhms, j.breakdownVolts, j.breakdownAmps })
            addNumber(hash, x);
    }
    addNumber(hash, double(stimuli.size()));
    for (const zem::Stimulus &s : stimuli)
        for (double x : { s.amplitude, s.frequency, s.samplingRate, double(s.points), s.sourceOhms,
                 s.fullScaleMilliamps, double(s.isolated) })
            addNumber(hash, x);
    return hash.result();
}

std::shared_ptr<const FaultCurves> FaultCache::find(
    const QByteArray &key, std::size_t faults, const std::vector<zem::Stimulus> &stimuli)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_kept.constFind(key);
    // Kept curves of another shape are not these faults': simulate again.
    if (found == m_kept.constEnd() || (*found)->size() != faults
        || !std::all_of((*found)->begin(), (*found)->end(),
            [&](const std::vector<sig::IvCurve> &c) { return fits(c, stimuli); })) {
        ++m_counts.misses;
        return nullptr;
    }
    ++m_counts.hits;
    return *found;
}

void FaultCache::insert(const QByteArray &key, FaultCurves curves)
{
    QMutexLocker lock(&m_mutex);
    if (!m_kept.contains(key))
        m_order.push_back(key);
    m_kept.insert(key, std::make_shared<const FaultCurves>(std::move(curves)));
    while (m_order.size() > m_entries) {
        m_kept.remove(m_order.front());
        m_order.pop_front();
    }
}

void FaultCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_kept.clear();
    m_order.clear();
    m_counts = {};
}

FaultCache::Counts FaultCache::counts() const
{
    QMutexLocker lock(&m_mutex);
    return m_counts;
}

} // namespace predict
