// Arbitrary bytes as a component position file: refused with a message that
// names the file, or read into parts each with a finite position.
#include "positions.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(
        reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString error;
    const auto parts = cad::readPositions(bytes, QStringLiteral("f.pos"), &error);
    if (!parts) {
        if (!error.startsWith(QLatin1String("f.pos")))
            std::abort();
        return 0;
    }
    for (const cad::Placement &p : *parts)
        if (p.refdes.isEmpty() || !std::isfinite(p.mm.x()) || !std::isfinite(p.mm.y()))
            std::abort();
    return 0;
}
