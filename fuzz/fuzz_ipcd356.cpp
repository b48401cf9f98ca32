// Arbitrary bytes as an IPC-D-356 netlist: refused with a message that names
// the file, or read into points that merge into a signature which writes and
// reads back the same.
#include "cadimport.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(
        reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString error;
    const auto netlist = cad::readIpcD356(bytes, QStringLiteral("f.d356"), &error);
    if (!netlist) {
        if (!error.startsWith(QLatin1String("f.d356")))
            std::abort();
        return 0;
    }
    sig::Signature board;
    board.settings = sig::defaultSettings();
    const auto result = sig::importNetlist(board, *netlist, {}, &error);
    if (!result) {
        if (error.isEmpty() || !board.points.empty())
            std::abort();
        return 0;
    }
    if (result->added.size() != qsizetype(board.points.size()))
        std::abort();
    const QByteArray written = sig::serialize(board);
    const auto reread = sig::parse(written, &error);
    if (!reread || sig::serialize(*reread) != written)
        std::abort();
    return 0;
}
