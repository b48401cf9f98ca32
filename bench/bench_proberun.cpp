// Figures of the probe run on the virtual board: from the probe on a point to
// its verdict, per capture; and, measuring on contact, the wait for a still
// curve apart from the measurement itself. Prints, asserts nothing.
#include "figure.h"

#include "connection.h"
#include "proberun.h"
#include "signature.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

using Clock = sig::ProbeRun::Clock;
using Event = sig::ProbeRun::Event;

double millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Times
{
    std::vector<double> perCapture; // from the probe there to the verdict, a capture
    std::vector<double> still; // measuring on contact: the wait for a still curve
    std::vector<double> measuring; // after the curve held still, to the verdict
};

Times run(zem::Connection &device, sig::Signature &board, sig::Session::Mode mode, int repeat,
    bool onContact)
{
    sig::ProbeRun::Options options;
    options.autoMeasure = true;
    options.measureOnContact = onContact;
    options.session.repeat = repeat;
    Times times;
    Clock::time_point there {}, still {};
    sig::ProbeRun probe(device, board, mode, options, {}, [&](const Event &e) {
        switch (e.kind) {
        case Event::Waiting:
            there = Clock::now();
            break;
        case Event::Still:
            still = Clock::now();
            times.still.push_back(millis(e.waited));
            break;
        case Event::PointDone:
            times.perCapture.push_back(millis(Clock::now() - there) / (onContact ? 1 : repeat));
            if (onContact)
                times.measuring.push_back(millis(Clock::now() - still) / repeat);
            break;
        default:
            break;
        }
    });
    runToEnd(probe);
    if (mode == sig::Session::Mode::Learn)
        board = probe.signature();
    return times;
}

} // namespace

int main()
{
    zem::Connection device;
    if (device.open("virtual://open?pins=resistor:1000,diode,capacitor:1e-6,resistor:47000") == -1) {
        figure("probe run", "-", "the virtual board did not open");
        return 1;
    }
    sig::Signature board;
    board.settings = sig::defaultSettings();
    for (const char *name : { "R1", "D1", "C1", "R2" }) {
        sig::Point p;
        p.name = QString::fromLatin1(name);
        board.points.push_back(p);
    }
    run(device, board, sig::Session::Mode::Learn, 1, false);
    const Times test = run(device, board, sig::Session::Mode::Test, 3, false);
    figure("probe on a point to its verdict, per capture (test, 3 captures), median", "-",
        "%.1f ms", median(test.perCapture));
    const Times contact = run(device, board, sig::Session::Mode::Test, 1, true);
    figure("measuring on contact: the wait for a still curve, median", "-", "%.1f ms",
        median(contact.still));
    figure("measuring on contact: the measurement after it, median", "-", "%.1f ms",
        median(contact.measuring));
    return 0;
}
