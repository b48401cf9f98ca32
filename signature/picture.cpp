#include "signature.h"

#include "readfile.h"

#include <QCoreApplication>
#include <QFile>

namespace sig {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("sig::Signature", text);
}

std::uint32_t bigEndian(const QByteArray &d, qsizetype at, int bytes)
{
    std::uint32_t v = 0;
    for (int k = 0; k < bytes; ++k)
        v = v << 8 | std::uint8_t(d[at + k]);
    return v;
}

// The size in a JPEG's start-of-frame segment, walking the segments before it.
QSize jpegSize(const QByteArray &d)
{
    qsizetype at = 2;
    while (at + 9 < d.size()) {
        if (std::uint8_t(d[at]) != 0xff)
            return QSize();
        const std::uint8_t marker = std::uint8_t(d[at + 1]);
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        const qsizetype length = qsizetype(bigEndian(d, at + 2, 2));
        const bool startOfFrame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4
            && marker != 0xc8 && marker != 0xcc;
        if (startOfFrame)
            return QSize(int(bigEndian(d, at + 7, 2)), int(bigEndian(d, at + 5, 2)));
        if (length < 2)
            return QSize();
        at += 2 + length;
    }
    return QSize();
}

} // namespace

std::optional<Picture> pictureFromData(const QByteArray &data, QString *error)
{
    Picture p;
    p.data = data;
    if (data.startsWith("\x89PNG\r\n\x1a\n") && data.size() >= 24 && data.mid(12, 4) == "IHDR") {
        p.type = "image/png";
        p.size = QSize(int(bigEndian(data, 16, 4)), int(bigEndian(data, 20, 4)));
    } else if (data.startsWith("\xff\xd8")) {
        p.type = "image/jpeg";
        p.size = jpegSize(data);
    } else {
        if (error)
            *error = tr("not a PNG or JPEG picture");
        return std::nullopt;
    }
    if (p.size.width() <= 0 || p.size.height() <= 0 || p.size.width() > 65535
        || p.size.height() > 65535) {
        if (error)
            *error = tr("a %1 picture without a size").arg(QString::fromLatin1(p.type));
        return std::nullopt;
    }
    return p;
}

QString checkPictureSize(const Picture &p)
{
    // Decoded, a pixel takes 4 bytes, and 8 when a PNG has 16 bits a channel.
    constexpr qint64 kMaxDecodedBytes = qint64(256) << 20;
    const bool wide = p.type == "image/png" && p.data.size() > 24 && p.data[24] == 16;
    const qint64 most = kMaxDecodedBytes / (wide ? 8 : 4);
    if (qint64(p.size.width()) * p.size.height() <= most)
        return QString();
    return tr("%1 x %2 is larger than %3 pixels, the most a picture can have to be shown")
        .arg(p.size.width())
        .arg(p.size.height())
        .arg(most);
}

std::optional<Picture> readPicture(const QString &path, QString *error)
{
    std::string bytes;
    const std::string failure = zem::files::readFile(
        QFile::encodeName(path).toStdString(), kMaxPictureFileSize, "a board picture", bytes,
        zem::files::Accept::RegularFile);
    QString why = QString::fromLocal8Bit(failure.c_str());
    std::optional<Picture> picture;
    if (failure.empty()) {
        picture = pictureFromData(QByteArray::fromStdString(bytes), &why);
        if (picture)
            why = checkPictureSize(*picture);
        if (!why.isEmpty()) {
            picture.reset();
            why = tr("%1: %2").arg(path, why);
        }
    }
    if (!picture && error)
        *error = why;
    return picture;
}

} // namespace sig
