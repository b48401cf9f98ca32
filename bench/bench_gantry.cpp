// A machine probing random boards on the virtual gantry (100 mm/s, 500 mm/s²
// on every axis, the surface at Z -40, the safe height 5 mm above it, the
// last 1 mm of each lowering at the contact feed of 20 mm/s): points a minute
// and where the time goes (moving across, lifting and lowering, measuring,
// waiting) against the machine's own minimum for the same path. The 50-point
// board in the file's order, by the shortest length and by the least move
// time at the safe height, then by the least move time at a clearance of
// 0.5 mm between points; a 500-point board by the least move time at that
// clearance. Every run in real time on one line held open, so the machine is
// homed once; each timed from its first point's arrival.
#include "figure.h"

#include "boardprober.h"
#include "connection.h"
#include "probeorder.h"
#include "proberun.h"
#include "sequence.h"
#include "signature.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <random>

namespace {

using Clock = sig::ProbeRun::Clock;
using Event = sig::ProbeRun::Event;

constexpr double kFeed = 100; // mm/s, across and for the lift
constexpr double kContactFeed = 20; // mm/s, lowering
constexpr double kAccel = 500; // mm/s², the gantry's default
constexpr double kClearance = 0.5; // mm above the surface between points

struct Split
{
    int points = 0;
    double total = 0; // s, from the first point's arrival to the last verdict
    double measuring = 0; // s, from the machine there to the verdict
    double across = 0; // s, the machine's minimum for the moves in X and Y
    double lifting = 0; // s, the same for the lifts and lowerings
};

// The machine's own minimum for the path after the first point (each run
// is timed from there), hop by hop: the lift to the travel height, across,
// the lowering, at the gantry's rates and accelerations.
void minimum(const motion::GantryConfig &config, const std::vector<int> &order, Split *split)
{
    const motion::MachineFrame frame = motion::MachineFrame::assumed(kFeed, kAccel);
    const std::vector<motion::PlanePoint> at = motion::machineTargets(config, order);
    std::vector<motion::PlanePoint> b;
    for (int k : order)
        b.push_back(config.targets.at(k));
    for (std::size_t k = 1; k < at.size(); ++k) {
        const motion::grbl::MachinePoint from { at[k - 1].x, at[k - 1].y, config.contactZ };
        const motion::grbl::MachinePoint to { at[k].x, at[k].y, config.contactZ };
        const double z = motion::travelZ(config, from, motion::BoardHop { b[k - 1], b[k] });
        const motion::grbl::MachinePoint up { from.x, from.y, z }, over { to.x, to.y, z };
        const double hop = motion::hopSeconds(config, frame, b[k - 1], b[k]);
        const double across = motion::moveSeconds(frame, up, over, config.xyFeed);
        split->across += across;
        split->lifting += hop - across;
    }
}

Split run(const QString &url, const QString &prober, const sig::Signature &board,
    const std::vector<int> &order, sig::Session::Mode mode,
    const std::shared_ptr<motion::GantryLine> &line)
{
    zem::Connection device;
    device.open(url.toStdString());
    QString error;
    auto gantry = motion::boardProber(prober, board, order, &error, nullptr, line);
    if (!gantry || !device.isOpen()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    Split split;
    split.points = int(order.size());
    minimum(gantry->config(), order, &split);
    sig::ProbeRun::Options options;
    options.autoMeasure = true;
    options.session.repeat = 2;
    Clock::time_point there {}, start {};
    sig::ProbeRun probe(
        device, board, mode, options, order,
        [&](const Event &e) {
            // From the first capture of a point (a test takes two) to its verdict.
            if (e.kind == Event::Measuring && there == Clock::time_point {}) {
                there = Clock::now();
                if (start == Clock::time_point {})
                    start = there;
            }
            if (e.kind == Event::PointDone) {
                split.measuring += std::chrono::duration<double>(Clock::now() - there).count();
                there = {};
            }
            if (e.kind == Event::Failed)
                std::fprintf(stderr, "%s\n", qPrintable(e.message));
        },
        std::move(gantry));
    runToEnd(probe);
    split.total = std::chrono::duration<double>(Clock::now() - start).count();
    probe.releaseProber(); // the held line stays open
    return split;
}

void print(const QString &what, const Split &s)
{
    const double hops = s.points - 1; // timed from the first point's arrival
    const double waiting = s.total - s.measuring - s.across - s.lifting;
    const auto share = [&](double t) { return 100 * t / s.total; };
    figure(qPrintable(QStringLiteral("gantry, %1: points a minute; across / lifting and lowering "
                                     "/ measuring / waiting, a point (the moves' minimum, x)")
                          .arg(what)),
        "-", "%.0f; %.0f / %.0f / %.0f / %.0f ms (%.0f / %.0f / %.0f / %.0f %%; %.1f s, x%.2f)",
        hops / s.total * 60, 1000 * s.across / hops, 1000 * s.lifting / hops,
        1000 * s.measuring / hops, 1000 * waiting / hops, share(s.across), share(s.lifting),
        share(s.measuring), share(waiting), s.across + s.lifting,
        (s.total - s.measuring) / (s.across + s.lifting));
}

struct Gantry
{
    QProcess sim;
    QString port;
    QString url; // the instrument
};

// A random board of n points on 96 x 76 mm, a resistor on each of the first
// 100 pins, and the gantry carrying it.
sig::Signature randomBoard(int n, QTemporaryDir &dir, Gantry *gantry)
{
    sig::Signature board;
    board.board = QStringLiteral("bench");
    board.settings = sig::defaultSettings();
    QStringList pins;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> x(2, 98), y(2, 78);
    for (int k = 0; k < n; ++k) {
        sig::Point p;
        p.name = QStringLiteral("P%1").arg(k);
        p.mm = QPointF(x(random), y(random));
        board.points.push_back(p);
        if (k < 100) // the instrument's URL holds no more; the rest read open
            pins << QStringLiteral("resistor:%1").arg(1000 + 100 * k);
    }
    board.fiducials
        = { { "F1", { 0, 0 }, {}, QPointF(20, 20) }, { "F2", { 100, 0 }, {}, QPointF(120, 20) } };
    const QString file = dir.filePath(QStringLiteral("b%1.json").arg(n));
    if (!sig::save(board, file, nullptr))
        std::exit(1);
    gantry->sim.start(QStringLiteral(ZEM_GANTRY_SIM),
        { "--tcp", "127.0.0.1:0", "--points", file, "--feed", QString::number(kFeed) });
    if (!gantry->sim.waitForReadyRead(10000))
        std::exit(1);
    const QByteArray listening = gantry->sim.readLine().trimmed();
    gantry->port = QString::fromLatin1(listening.mid(listening.lastIndexOf(':') + 1));
    gantry->url = QStringLiteral("virtual://open?gantry=127.0.0.1:%1&pins=%2")
                      .arg(gantry->port, pins.join(QLatin1Char(',')));
    return board;
}

QString proberUrl(const Gantry &g, const QString &more = {})
{
    return QStringLiteral("grbl-tcp://127.0.0.1:%1?safe=-35&surface=-40&feed=%2&contact_feed=%3%4")
        .arg(g.port)
        .arg(kFeed)
        .arg(kContactFeed)
        .arg(more);
}

std::vector<int> all(int n)
{
    std::vector<int> order;
    for (int k = 0; k < n; ++k)
        order.push_back(k);
    return order;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString clearance = QStringLiteral("&clearance=%1").arg(kClearance);
    {
        Gantry g;
        sig::Signature board = randomBoard(50, dir, &g);
        const auto line = std::make_shared<motion::GantryLine>();
        // Learned once, so that the test compares.
        run(g.url, proberUrl(g), board, all(50), sig::Session::Mode::Learn, line);
        QString error;
        const auto config = motion::boardProber(proberUrl(g, clearance), board, all(50), &error);
        const motion::GantryConfig &c = config->config();
        std::vector<QPointF> at;
        for (const motion::PlanePoint &p : motion::machineTargets(c, all(50)))
            at.emplace_back(p.x, p.y);
        const std::vector<int> byLength = sig::shortestPath(at);
        const std::vector<int> byTime = sig::machineOrder(c, all(50));
        const auto safe = motion::boardProber(proberUrl(g), board, all(50), &error);
        const std::vector<int> byTimeSafe = sig::machineOrder(safe->config(), all(50));
        const struct
        {
            const char *what;
            std::vector<int> order;
            QString more;
        } rows[] = { { "file order, safe height", all(50), {} },
            { "shortest length, safe height", byLength, {} },
            { "least move time, safe height", byTimeSafe, {} },
            { "least move time, clearance 0.5 mm", byTime, clearance } };
        for (const auto &row : rows)
            print(QStringLiteral("50 points, %1").arg(QLatin1String(row.what)),
                run(g.url, proberUrl(g, row.more), board, row.order, sig::Session::Mode::Test,
                    line));
        g.sim.kill();
        g.sim.waitForFinished();
    }
    {
        Gantry g;
        const sig::Signature board = randomBoard(500, dir, &g);
        QString error;
        const auto config = motion::boardProber(proberUrl(g, clearance), board, all(500), &error);
        const std::vector<int> byTime = sig::machineOrder(config->config(), all(500));
        print(QStringLiteral("500 points (learned), least move time, clearance 0.5 mm"),
            run(g.url, proberUrl(g, clearance), board, byTime, sig::Session::Mode::Learn,
                std::make_shared<motion::GantryLine>()));
        g.sim.kill();
        g.sim.waitForFinished();
    }
    return 0;
}
