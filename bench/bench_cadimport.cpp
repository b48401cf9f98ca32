// Figures of the CAD import: reading a 10,000-record IPC-D-356 netlist, and
// merging it into a signature, new and then again over itself (every point
// updated); then a netlist of 750,000 records, just under the CAD file limit,
// read from disk, merged and written, with the time and the peak memory of
// each step. Prints, asserts nothing.
#include "procmemory.h"
#include "figure.h"

#include "cadimport.h"

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <fstream>
#include <string>

namespace {

constexpr int kRecords = 10000;
constexpr int kLargeRecords = 750000;

// A board of four-pin parts on 50 nets, in mm, with its outline: 100 pins a
// row 2 mm apart, or 1,000 pins a row 0.2 mm apart for a large one.
QByteArray netlist(int records = kRecords)
{
    QByteArray out = "C  bench board\nP  UNITS CUST 1\n";
    out.reserve(qsizetype(records) * 82);
    const int row = records > kRecords ? 1000 : 100, pitch = records > kRecords ? 200 : 2000;
    for (int k = 0; k < records; ++k) {
        // Part names fit their six columns: U0 to U99999, then V0 on.
        const int part = k / 4;
        out += QString::asprintf("327N%-13d   %c%-5d-%-4d       %sX+%06dY+%06dX0600Y0600R000 S0\n",
            k % 50, part < 100000 ? 'U' : 'V', part % 100000, k % 4 + 1, k % 3 == 0 ? "A02" : "A01",
            1000 + (k % row) * pitch, 1000 + (k / row) * pitch)
                   .toLatin1();
    }
    out += "389BOARD_EDGE       X+000000Y+000000 X+300000Y+000000\n"
           "089                 X+300000Y+300000 X+000000Y+300000\n999\n";
    return out;
}

template <class F> double bestMs(F &&f)
{
    std::vector<double> runs;
    for (int k = 0; k < 5; ++k) {
        const auto start = std::chrono::steady_clock::now();
        f();
        runs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return median(runs);
}

// A step's time and its peak memory above what the process held before it.
template <class F> void step(const char *what, F &&f)
{
    resetPeak();
    const double before = memoryMegabytes("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    f();
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figure(what, "-", "%.2f s, %.0f MB peak", seconds, memoryMegabytes("VmHWM:") - before);
}

// The import as zemctl board --import runs it: the file read from disk,
// merged into a new signature, the signature written.
int large()
{
    QTemporaryDir dir;
    const QString cad = dir.filePath(QStringLiteral("large.d356")),
                  json = dir.filePath(QStringLiteral("large.json"));
    {
        QFile f(cad);
        const QByteArray text = netlist(kLargeRecords);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return 1;
    }
    QString error;
    sig::Signature board;
    board.settings = sig::defaultSettings();
    std::optional<sig::CadImport> imported;
    bool saved = false;
    const double held = memoryMegabytes("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    step("750,000 netlist records (57 MB): read and merged into a new signature",
        [&] { imported = sig::importCadFile(board, cad, {}, std::nullopt, &error); });
    step("750,000 points: signature written", [&] { saved = sig::save(board, json, &error); });
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!imported || !saved) {
        std::fprintf(stderr, "bench_cadimport: %s\n", qPrintable(error));
        return 1;
    }
    figure("750,000 netlist records imported, whole (memory: the board held after it)", "<= 5 s",
        "%.2f s, %.0f MB held", seconds, memoryMegabytes("VmRSS:") - held);
    return 0;
}

} // namespace

int main()
{
    const QByteArray text = netlist();
    QString error;
    std::optional<cad::Netlist> read;
    const double parse = bestMs([&] { read = cad::readIpcD356(text, QStringLiteral("b.d356"), &error); });
    if (!read) {
        std::fprintf(stderr, "bench_cadimport: %s\n", qPrintable(error));
        return 1;
    }
    figure("IPC-D-356 netlist of 10,000 records: read", "-", "%.1f ms (%.1f MB)", parse,
        text.size() / 1e6);
    sig::Signature board;
    const double fresh = bestMs([&] {
        board = sig::Signature();
        sig::importNetlist(board, *read, {}, &error);
    });
    figure("10,000 records merged into a new signature", "-", "%.1f ms", fresh);
    const double again = bestMs([&] { sig::importNetlist(board, *read, {}, &error); });
    figure("10,000 records merged again (all updated)", "-", "%.1f ms", again);
    const double filtered = bestMs([&] {
        sig::importNetlist(board, *read,
            { sig::Side::Top, { QStringLiteral("N1*") }, { QStringLiteral("U1*") } }, &error);
    });
    figure("10,000 records merged with side, net and part globs", "-", "%.1f ms", filtered);
    return large();
}
