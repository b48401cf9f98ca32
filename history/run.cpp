#include "run.h"

#include <QSysInfo>
#include <QtEndian>

#include <cstring>

namespace zem::history {

namespace {

constexpr char kCurveFormat = 1;
constexpr int kHeader = 1 + 2 * 4;
// Far beyond any curve the instrument takes; keeps a damaged blob from asking
// qUncompress for gigabytes.
constexpr quint32 kMaxPacked = 64u << 20;

void putFloats(char *out, const std::vector<double> &values)
{
    for (double v : values) {
        const float f = float(v);
        quint32 bits;
        std::memcpy(&bits, &f, 4);
        qToLittleEndian(bits, out);
        out += 4;
    }
}

void getFloats(const char *in, quint32 count, std::vector<double> *values)
{
    values->resize(count);
    for (quint32 k = 0; k < count; ++k, in += 4) {
        const quint32 bits = qFromLittleEndian<quint32>(in);
        float f;
        std::memcpy(&f, &bits, 4);
        (*values)[k] = f;
    }
}

} // namespace

QString Run::defaultStation()
{
    return QSysInfo::machineHostName();
}

bool isFailure(const QString &verdict)
{
    return verdict == QLatin1String("different") || verdict == QLatin1String("unstable");
}

bool isTested(const QString &verdict)
{
    return verdict != QLatin1String("not_learned");
}

QByteArray packCurve(const std::vector<double> &volts, const std::vector<double> &milliamps)
{
    QByteArray raw(kHeader + 4 * qsizetype(volts.size() + milliamps.size()), Qt::Uninitialized);
    char *p = raw.data();
    *p++ = kCurveFormat;
    qToLittleEndian(quint32(volts.size()), p);
    qToLittleEndian(quint32(milliamps.size()), p + 4);
    putFloats(p + 8, volts);
    putFloats(p + 8 + 4 * volts.size(), milliamps);
    return qCompress(raw);
}

bool unpackCurve(const QByteArray &packed, std::vector<double> *volts,
    std::vector<double> *milliamps)
{
    volts->clear();
    milliamps->clear();
    if (packed.size() < 4 || qFromBigEndian<quint32>(packed.constData()) > kMaxPacked)
        return false;
    const QByteArray raw = qUncompress(packed);
    if (raw.size() < kHeader || raw.at(0) != kCurveFormat)
        return false;
    const quint32 nv = qFromLittleEndian<quint32>(raw.constData() + 1);
    const quint32 nm = qFromLittleEndian<quint32>(raw.constData() + 5);
    if (quint64(raw.size()) != kHeader + 4 * (quint64(nv) + nm))
        return false;
    getFloats(raw.constData() + kHeader, nv, volts);
    getFloats(raw.constData() + kHeader + 4 * qsizetype(nv), nm, milliamps);
    return true;
}

} // namespace zem::history
