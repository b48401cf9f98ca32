// Figures of the CAD import: reading a 10,000-record IPC-D-356 netlist, and
// merging it into a signature, new and then again over itself (every point
// updated). Prints, asserts nothing.
#include "figure.h"

#include "cadimport.h"

#include <chrono>

namespace {

constexpr int kRecords = 10000;

// A board of 2,500 four-pin parts on 50 nets, in mm, with its outline.
QByteArray netlist()
{
    QByteArray out = "C  bench board\nP  UNITS CUST 1\n";
    out.reserve(kRecords * 82);
    for (int k = 0; k < kRecords; ++k)
        out += QString::asprintf(
            "327N%-13d   U%-5d-%-4d       %sX+%06dY+%06dX0600Y0600R000 S0\n", k % 50, k / 4,
            k % 4 + 1, k % 3 == 0 ? "A02" : "A01", 1000 + (k % 100) * 2000, 1000 + (k / 100) * 2000)
                   .toLatin1();
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
        sig::importNetlist(board, *read, {});
    });
    figure("10,000 records merged into a new signature", "-", "%.1f ms", fresh);
    const double again = bestMs([&] { sig::importNetlist(board, *read, {}); });
    figure("10,000 records merged again (all updated)", "-", "%.1f ms", again);
    const double filtered = bestMs([&] {
        sig::importNetlist(board, *read,
            { sig::Side::Top, { QStringLiteral("N1*") }, { QStringLiteral("U1*") } });
    });
    figure("10,000 records merged with side, net and part globs", "-", "%.1f ms", filtered);
    return 0;
}
