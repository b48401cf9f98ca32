// The net check of a 2,000-point board: 400 nets of five pads, one pad in
// eight open, each curve 1,000 points. Done once when a board's test ends
// (once per net as its last pad is measured), so it must stay well under the
// time of one capture.
#include "figure.h"
#include "netcheck.h"
#include "sigcurves.h"

#include <vector>

int main()
{
    sig::Signature board;
    board.settings = sig::defaultSettings();
    std::vector<sig::IvCurve> curves;
    const sig::IvCurve open = resistor(1e9);
    for (int n = 0; n < 400; ++n)
        for (int pad = 0; pad < 5; ++pad) {
            sig::Point p;
            p.name = QStringLiteral("N%1.%2").arg(n).arg(pad);
            p.net = QStringLiteral("NET%1").arg(n);
            board.points.push_back(p);
            curves.push_back((n * 5 + pad) % 8 == 0 ? open : resistor(100.0 + 10 * n));
        }
    std::vector<const sig::IvCurve *> measured;
    for (const sig::IvCurve &c : curves)
        measured.push_back(&c);
    std::size_t flagged = 0;
    const double micros = bestMicros(
        [&] {
            flagged = 0;
            for (const sig::NetAgreement &a : sig::checkNets(board, measured))
                flagged += a.disagreeing.size();
        },
        1);
    figure("net check, 2,000 points in 400 nets of 5", "< 100 ms", "%.1f ms (%zu pads flagged)",
        micros / 1000, flagged);
    const double net = bestMicros([&] { sig::checkNet(board, { 0, 1, 2, 3, 4 }, measured); }, 100);
    figure("one net of 5 as its last pad is measured", "< 1 ms", "%.1f µs", net);
    return 0;
}
