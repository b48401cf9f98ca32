// Arbitrary bytes as a BOM: refused with a message that names the file, or
// read into designators whose values, when read as numbers, are finite.
#include "bom.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(
        reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString error;
    const auto bom = cad::readBom(bytes, QStringLiteral("f.csv"), &error);
    if (!bom) {
        if (!error.startsWith(QLatin1String("f.csv")))
            std::abort();
        return 0;
    }
    for (const cad::BomLine &l : *bom)
        if (l.refdes.isEmpty() || (l.parsed && !std::isfinite(l.parsed->number)))
            std::abort();
    return 0;
}
