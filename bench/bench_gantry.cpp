// A machine probing a 50-point board on the virtual gantry (100 mm/s, 500
// mm/s², a 5 mm lift, the last 1 mm lowered at 20 mm/s): points a minute in the file's
// order and by the shortest path, and where the time goes (moving and
// lowering, measuring) against the machine's own minimum for that path.
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
constexpr double kLift = 5; // mm
constexpr double kApproach = 1; // mm: the last of the lowering at the contact feed

// The least time a move of d mm takes from rest to rest at v and a.
double moveTime(double d, double v)
{
    return d >= v * v / kAccel ? d / v + v / kAccel : 2 * std::sqrt(d / kAccel);
}

struct Split
{
    double total = 0; // s
    double measuring = 0; // s, from the machine there to the verdict
    double minimum = 0; // s, the moves at the machine's limits
};

Split run(const QString &url, const QString &prober, const sig::Signature &board,
    const std::vector<int> &order)
{
    zem::Connection device;
    device.open(url.toStdString());
    QString error;
    auto gantry = motion::boardProber(prober, board, order, &error);
    if (!gantry || !device.isOpen()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    // The machine's own minimum: lift, across, lower (full speed, then the
    // last millimetre at the contact feed) at every point.
    Split split;
    motion::PlanePoint at { 0, 0 };
    for (const motion::PlanePoint &p : motion::machineTargets(gantry->config(), order)) {
        split.minimum += moveTime(kLift, kFeed) + moveTime(std::hypot(p.x - at.x, p.y - at.y), kFeed)
            + moveTime(kLift - kApproach, kFeed) + moveTime(kApproach, kContactFeed);
        at = p;
    }
    sig::ProbeRun::Options options;
    options.autoMeasure = true;
    options.session.repeat = 2;
    Clock::time_point there {};
    sig::ProbeRun probe(device, board, sig::Session::Mode::Test, options, order,
        [&](const Event &e) {
            if (e.kind == Event::Measuring && e.measurement == 0)
                there = Clock::now();
            if (e.kind == Event::PointDone)
                split.measuring += std::chrono::duration<double>(Clock::now() - there).count();
            if (e.kind == Event::Failed)
                std::fprintf(stderr, "%s\n", qPrintable(e.message));
        },
        std::move(gantry));
    // The first point includes homing, which no order changes: timed from the first there.
    const auto start = Clock::now();
    runToEnd(probe);
    split.total = std::chrono::duration<double>(Clock::now() - start).count();
    return split;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    sig::Signature board;
    board.board = QStringLiteral("bench");
    board.settings = sig::defaultSettings();
    QStringList pins;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> x(2, 98), y(2, 78);
    for (int k = 0; k < 50; ++k) {
        sig::Point p;
        p.name = QStringLiteral("P%1").arg(k);
        p.mm = QPointF(x(random), y(random));
        board.points.push_back(p);
        pins << QStringLiteral("resistor:%1").arg(1000 + 100 * k);
    }
    board.fiducials = { { "F1", { 0, 0 }, {}, QPointF(20, 20) },
        { "F2", { 100, 0 }, {}, QPointF(120, 20) } };
    const QString file = dir.filePath(QStringLiteral("b.json"));
    if (!sig::save(board, file, nullptr))
        return 1;
    QProcess sim;
    sim.start(QStringLiteral(ZEM_GANTRY_SIM),
        { "--tcp", "127.0.0.1:0", "--points", file, "--feed", QString::number(kFeed) });
    if (!sim.waitForReadyRead(10000))
        return 1;
    const QByteArray listening = sim.readLine().trimmed();
    const QString port = QString::fromLatin1(listening.mid(listening.lastIndexOf(':') + 1));
    const QString url = QStringLiteral("virtual://open?gantry=127.0.0.1:%1&pins=%2")
                            .arg(port, pins.join(QLatin1Char(',')));
    const QString prober = QStringLiteral("grbl-tcp://127.0.0.1:%1?safe=-35&surface=-40&feed=%2"
                                          "&contact_feed=%3")
                               .arg(port)
                               .arg(kFeed)
                               .arg(kContactFeed);
    // Learned once, so that the test compares.
    {
        std::vector<int> all;
        for (int k = 0; k < 50; ++k)
            all.push_back(k);
        zem::Connection device;
        device.open(url.toStdString());
        QString error;
        sig::ProbeRun::Options options;
        options.autoMeasure = true;
        sig::ProbeRun learn(device, board, sig::Session::Mode::Learn, options, all, {},
            motion::boardProber(prober, board, all, &error));
        runToEnd(learn);
        board = learn.signature();
    }
    std::vector<int> fileOrder;
    std::vector<QPointF> at;
    for (int k = 0; k < 50; ++k) {
        fileOrder.push_back(k);
        at.push_back(QPointF(board.points[std::size_t(k)].mm->x() + 20,
            board.points[std::size_t(k)].mm->y() + 20));
    }
    const std::vector<int> pathOrder = sig::shortestPath(at);
    for (const auto &[name, order] :
        { std::pair { "file order", fileOrder }, std::pair { "shortest path", pathOrder } }) {
        const Split s = run(url, prober, board, order);
        const double moving = s.total - s.measuring;
        figure(qPrintable(QStringLiteral("gantry, 50 points, %1: points a minute; moving and "
                                         "lowering / measuring (the moves' minimum)")
                              .arg(QLatin1String(name))),
            "-", "%.0f; %.1f s / %.1f s (%.1f s, x%.2f)", 50 / s.total * 60, moving, s.measuring,
            s.minimum, moving / s.minimum);
    }
    sim.kill();
    sim.waitForFinished();
    return 0;
}
