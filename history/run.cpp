#include "run.h"

#include "verdict.h"

#include <QCryptographicHash>
#include <QSysInfo>
#include <QtEndian>

#include <zlib.h>

#include <cstring>

namespace zem::history {

namespace {

constexpr char kCurveFormat = 1;
constexpr int kHeader = 1 + 2 * 4;
// The largest curve a run may hold unpacked: nothing larger is inflated, so
// a damaged blob cannot ask for gigabytes.
constexpr quint32 kMaxPacked = kHeader + 4 * 2 * quint32(kMaxCurvePoints);

// Byte k of every value together: the sign and exponent bytes of a curve's
// values vary little and compress well once side by side.
void putShuffled(char *out, const std::vector<double> &volts, const std::vector<double> &milliamps)
{
    const std::size_t n = volts.size() + milliamps.size();
    for (std::size_t i = 0; i < n; ++i) {
        const float f = float(i < volts.size() ? volts[i] : milliamps[i - volts.size()]);
        quint32 bits;
        std::memcpy(&bits, &f, 4);
        for (int b = 0; b < 4; ++b)
            out[std::size_t(b) * n + i] = char(bits >> (8 * b));
    }
}

double getShuffled(const char *in, std::size_t n, std::size_t i)
{
    quint32 bits = 0;
    for (int b = 0; b < 4; ++b)
        bits |= quint32(quint8(in[std::size_t(b) * n + i])) << (8 * b);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// qCompress's format (the unpacked size as a big-endian uint32, then a zlib
// stream) from one deflate state kept per thread: qCompress sets up and
// clears a fresh one of about 256 KiB on every call, which costs more than
// compressing a curve.
QByteArray compress(const QByteArray &raw)
{
    struct Deflater
    {
        z_stream stream {};
        bool ok = deflateInit(&stream, Z_DEFAULT_COMPRESSION) == Z_OK;
        ~Deflater() { deflateEnd(&stream); }
    };
    thread_local Deflater deflater;
    z_stream &z = deflater.stream;
    if (!deflater.ok || deflateReset(&z) != Z_OK)
        return qCompress(raw);
    QByteArray out(4 + qsizetype(deflateBound(&z, uLong(raw.size()))), Qt::Uninitialized);
    qToBigEndian(quint32(raw.size()), out.data());
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(raw.constData()));
    z.avail_in = uInt(raw.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data() + 4);
    z.avail_out = uInt(out.size() - 4);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        return qCompress(raw);
    out.resize(4 + qsizetype(z.total_out));
    return out;
}

// Inflates qCompress's format into exactly the size its header gives, at
// most kMaxPacked: a stream that would grow past it is damaged, whatever the
// header says. Qt's qUncompress keeps growing its buffer instead.
std::optional<QByteArray> inflateCurve(const QByteArray &packed)
{
    if (packed.size() < 4)
        return std::nullopt;
    const quint32 size = qFromBigEndian<quint32>(packed.constData());
    if (size > kMaxPacked)
        return std::nullopt;
    // One byte more than expected tells a longer stream from one that ends.
    QByteArray raw(qsizetype(size) + 1, Qt::Uninitialized);
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData() + 4));
    z.avail_in = uInt(packed.size() - 4);
    z.next_out = reinterpret_cast<Bytef *>(raw.data());
    z.avail_out = uInt(raw.size());
    const int status = inflate(&z, Z_FINISH);
    const bool whole = status == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    if (!whole)
        return std::nullopt;
    raw.chop(1);
    return raw;
}

QByteArray rawCurve(const std::vector<double> &volts, const std::vector<double> &milliamps)
{
    const std::size_t n = volts.size() + milliamps.size();
    QByteArray raw(kHeader + 4 * qsizetype(n), Qt::Uninitialized);
    char *p = raw.data();
    *p++ = kCurveFormat;
    qToLittleEndian(quint32(volts.size()), p);
    qToLittleEndian(quint32(milliamps.size()), p + 4);
    putShuffled(p + 8, volts, milliamps);
    return raw;
}

} // namespace

QString Run::defaultStation()
{
    return QSysInfo::machineHostName();
}

bool isFailure(const QString &verdict, bool info)
{
    return sig::isFaulty(verdict, info);
}

bool isTested(const QString &verdict)
{
    return verdict != QLatin1String("not_learned");
}

VerdictKind verdictKind(const QString &verdict)
{
    // Board verdict names come first: "unstable" and "no_contact" name a
    // point's verdict too, and select the runs that ended so.
    if (sig::boardVerdictFromName(verdict))
        return VerdictKind::Run;
    if (sig::pointVerdictFromName(verdict))
        return VerdictKind::Point;
    return VerdictKind::Unknown;
}

QString verdictWords(const QString &verdict)
{
    return sig::verdictNameWords(verdict);
}

QByteArray packCurve(const std::vector<double> &volts, const std::vector<double> &milliamps)
{
    return compress(rawCurve(volts, milliamps));
}

bool unpackCurve(
    const QByteArray &packed, std::vector<double> *volts, std::vector<double> *milliamps)
{
    volts->clear();
    milliamps->clear();
    const std::optional<QByteArray> inflated = inflateCurve(packed);
    if (!inflated)
        return false;
    const QByteArray &raw = *inflated;
    if (raw.size() < kHeader || raw.at(0) != kCurveFormat)
        return false;
    const quint32 nv = qFromLittleEndian<quint32>(raw.constData() + 1);
    const quint32 nm = qFromLittleEndian<quint32>(raw.constData() + 5);
    const std::size_t n = std::size_t(nv) + nm;
    if (quint64(raw.size()) != kHeader + 4 * quint64(n))
        return false;
    const char *values = raw.constData() + kHeader;
    volts->resize(nv);
    milliamps->resize(nm);
    for (std::size_t i = 0; i < n; ++i)
        (i < nv ? (*volts)[i] : (*milliamps)[i - nv]) = getShuffled(values, n, i);
    return true;
}

QString curveDigest(const std::vector<double> &volts, const std::vector<double> &milliamps)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(rawCurve(volts, milliamps), QCryptographicHash::Sha256).toHex());
}

} // namespace zem::history
