// Arbitrary bytes as a signature file: the reader either refuses them with a
// message or accepts a signature that it writes back to a file it reads as
// the same signature. The same bytes as a board's picture: taken with a size,
// or refused with a message.
#include "signature.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data),
        static_cast<qsizetype>(size));
    QString error;
    if (const auto picture = sig::pictureFromData(text, &error)) {
        if (picture->size.isEmpty())
            std::abort();
        sig::checkPictureSize(*picture);
    } else if (error.isEmpty()) {
        std::abort();
    }
    error.clear();
    const auto signature = sig::parse(text, &error);
    if (!signature) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    const QByteArray written = sig::serialize(*signature);
    const auto reread = sig::parse(written, &error);
    // What was written holds no place that is no number.
    if (!reread || sig::serialize(*reread) != written
        || reread->warnings.size() > signature->warnings.size())
        std::abort();
    return 0;
}
