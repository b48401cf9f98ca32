#include "faultcache.h"

#include "qatomicfile.h"
#include "readfile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

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

// A file's first word, "ZEMF".
constexpr quint32 kMagic = 0x5a454d46;
// A net's faults in a file are a few hundred kB at most; beyond this it is
// not one of ours.
constexpr std::size_t kFileLimit = 64u << 20;
constexpr quint32 kMostFaults = 100000, kMostCurves = 64, kMostPoints = 1u << 20;

bool finite(const std::vector<double> &v)
{
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

QByteArray serialized(const QByteArray &key, const FaultCurves &curves)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagic << quint32(kFormat) << key << quint32(curves.size());
    for (const std::vector<sig::IvCurve> &fault : curves) {
        out << quint32(fault.size());
        for (const sig::IvCurve &c : fault) {
            out << quint32(c.volts.size());
            for (double v : c.volts)
                out << v;
            for (double i : c.milliamps)
                out << i;
        }
    }
    return bytes;
}

// The curves of a file, or null for one that is not a whole file of this
// format and key.
std::shared_ptr<FaultCurves> parsed(const std::string &bytes, const QByteArray &key)
{
    QDataStream in(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())));
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0, format = 0, faults = 0;
    QByteArray named;
    in >> magic >> format >> named >> faults;
    if (in.status() != QDataStream::Ok || magic != kMagic || format != quint32(kFormat)
        || named != key || faults > kMostFaults)
        return nullptr;
    auto curves = std::make_shared<FaultCurves>(faults);
    for (std::vector<sig::IvCurve> &fault : *curves) {
        quint32 count = 0;
        in >> count;
        if (in.status() != QDataStream::Ok || count > kMostCurves)
            return nullptr;
        fault.resize(count);
        for (sig::IvCurve &c : fault) {
            quint32 points = 0;
            in >> points;
            // Never more samples than the bytes left could hold.
            if (in.status() != QDataStream::Ok || points > kMostPoints
                || qint64(points) * 16 > in.device()->bytesAvailable())
                return nullptr;
            c.volts.resize(points);
            c.milliamps.resize(points);
            for (double &v : c.volts)
                in >> v;
            for (double &i : c.milliamps)
                in >> i;
            if (in.status() != QDataStream::Ok || !finite(c.volts) || !finite(c.milliamps))
                return nullptr;
        }
    }
    return in.atEnd() ? curves : nullptr;
}

std::size_t bytesOf(const FaultCurves &curves)
{
    std::size_t bytes = 0;
    for (const std::vector<sig::IvCurve> &fault : curves)
        for (const sig::IvCurve &c : fault)
            bytes += (c.volts.size() + c.milliamps.size()) * sizeof(double);
    return bytes;
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

FaultCache::FaultCache(QString folder, std::size_t bytes)
    : m_limit(bytes)
    , m_folder(std::move(folder))
{
}

FaultCache &FaultCache::shared()
{
    static FaultCache cache([] {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        return base.isEmpty() ? QString() : base + QStringLiteral("/zem-tools/faults");
    }());
    return cache;
}

QString FaultCache::fileOf(const QByteArray &key) const
{
    return m_folder + QLatin1Char('/') + QString::fromLatin1(key.toHex()) + QStringLiteral(".bin");
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
    // Kept curves of another shape are not these faults': simulate again.
    const auto usable = [&](const FaultCurves &curves) {
        return curves.size() == faults
            && std::all_of(curves.begin(), curves.end(),
                [&](const std::vector<sig::IvCurve> &c) { return fits(c, stimuli); });
    };
    {
        QMutexLocker lock(&m_mutex);
        const auto found = m_kept.constFind(key);
        if (found != m_kept.constEnd() && usable(**found)) {
            ++m_counts.hits;
            // Used again: the last to go.
            m_order.erase(std::find(m_order.begin(), m_order.end(), key));
            m_order.push_back(key);
            return *found;
        }
    }
    std::shared_ptr<const FaultCurves> fromFile;
    bool refused = false;
    if (!m_folder.isEmpty() && QFile::exists(fileOf(key))) {
        std::string bytes;
        const std::string error = zem::files::readFile(QFile::encodeName(fileOf(key)).toStdString(),
            kFileLimit, "fault cache", bytes, zem::files::Accept::RegularFile);
        std::shared_ptr<FaultCurves> curves = error.empty() ? parsed(bytes, key) : nullptr;
        if (curves && usable(*curves))
            fromFile = std::move(curves);
        else
            refused = true;
    }
    QMutexLocker lock(&m_mutex);
    m_counts.refused += refused;
    if (!fromFile) {
        ++m_counts.misses;
        return nullptr;
    }
    ++m_counts.hits;
    ++m_counts.fromFiles;
    lock.unlock();
    keep(key, fromFile);
    return fromFile;
}

void FaultCache::insert(const QByteArray &key, FaultCurves curves)
{
    auto kept = std::make_shared<const FaultCurves>(std::move(curves));
    if (!m_folder.isEmpty() && QDir().mkpath(m_folder))
        zem::files::writeFile(fileOf(key), serialized(key, *kept));
    keep(key, std::move(kept));
}

void FaultCache::keep(const QByteArray &key, std::shared_ptr<const FaultCurves> curves)
{
    QMutexLocker lock(&m_mutex);
    if (const auto old = m_kept.constFind(key); old != m_kept.constEnd()) {
        m_bytes -= bytesOf(**old);
        m_order.erase(std::find(m_order.begin(), m_order.end(), key));
    }
    m_bytes += bytesOf(*curves);
    m_order.push_back(key);
    m_kept.insert(key, std::move(curves));
    while (m_bytes > m_limit && m_order.size() > 1) {
        m_bytes -= bytesOf(*m_kept.value(m_order.front()));
        m_kept.remove(m_order.front());
        m_order.pop_front();
    }
}

void FaultCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_kept.clear();
    m_order.clear();
    m_bytes = 0;
    m_counts = {};
}

FaultCache::Counts FaultCache::counts() const
{
    QMutexLocker lock(&m_mutex);
    return m_counts;
}

} // namespace predict
