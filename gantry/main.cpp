// zem_gantry_sim: a virtual GRBL 1.1 gantry carrying a board, for tests,
// demonstrations and CI.
#include "board.h"
#include "controller.h"
#include "server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

// Termination goes through the event loop, so the pseudo-terminal's link is
// removed on the way out.
void onSignal(int)
{
    const char c = 1;
    if (::write(signalPipe[1], &c, 1) < 0) { }
}

[[noreturn]] void refuse(const QString &message)
{
    std::fprintf(stderr, "zem_gantry_sim: %s\nTry 'zem_gantry_sim --help' for more information.\n",
        qPrintable(message));
    std::exit(1);
}

double number(const QString &text, const char *what)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        refuse(QString("%1: expected a number, got '%2'").arg(what, text));
    return v;
}

constexpr const char *kDescription
    = "A virtual 3-axis gantry that speaks GRBL 1.1 over TCP (and a pseudo-terminal),\n"
      "carrying a board whose points are read from a signature file's \"mm\" places.\n"
      "\n"
      "A client whose first line is 'zem-tip 1' gets the tip protocol instead: 'tip'\n"
      "answers 'tip X Y Z POINT' (machine mm, the point under the lowered tip or -1),\n"
      "and 'fault ...' injects faults and presses the machine's buttons (docs/gantry.md).\n"
      "The virtual instrument joins with virtual://open?pins=...&gantry=127.0.0.1:PORT.\n"
      "\n"
      "Machine travel ($130-$132: 300, 200, 50 mm): with --frame positive (the default)\n"
      "X 0..300, Y 0..200, Z 0..-50; with --frame stock, GRBL's own, X 0..-300,\n"
      "Y 0..-200, Z 0..-50. The board's lower-left corner lies at --board-origin, top\n"
      "side up. Exit status: 0 when stopped by a signal, 1 for bad arguments, a bad\n"
      "points file or a port in use.";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zem_gantry_sim");
    QCoreApplication::setApplicationVersion(ZEM_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption tcp("tcp",
        "Listen on ADDRESS:PORT; port 0 picks a free one. The first line of output is "
        "'listening ADDRESS:PORT'.",
        "ADDRESS:PORT");
    const QCommandLineOption pty(
        "pty", "Also serve the machine on a pseudo-terminal linked at LINK.", "LINK");
    const QCommandLineOption points("points", "The signature file whose points' \"mm\" places lie "
                                              "on the board (required).",
        "FILE.json");
    const QCommandLineOption feed(
        "feed", "Top speed of every axis, mm/s ($110-$112; default 50).", "MM_S", "50");
    const QCommandLineOption origin("board-origin",
        "Machine X,Y of the board's lower-left corner, mm (default 20,20; -280,-180 with "
        "--frame stock: the same place on the bed).",
        "X,Y");
    const QCommandLineOption frame("frame",
        "positive: homing towards -X and -Y ($23=3), the origin set at home, X and Y from 0 up, "
        "soft limits on (the default); stock: GRBL's own build and defaults, homing towards "
        "+X, +Y ($23=0), every axis from 0 down, homed at -$27, soft limits off.",
        "positive|stock", "positive");
    const QCommandLineOption trace("trace",
        "Write every position the machine passes to FILE, one 'X Y Z' line each time it changes.",
        "FILE");
    const QCommandLineOption surface("surface",
        "Machine Z of the board's top; a tip at or below it touches (default -40).", "Z", "-40");
    const QCommandLineOption timeScale("time-scale",
        "Run the machine's clock N times as fast as real time: moves, dwells (G4) and "
        "homing end N times sooner, on the same paths and through the same positions "
        "(default 1; from 0.01 to 1000).",
        "N", "1");
    parser.addOptions({ tcp, pty, points, feed, origin, surface, timeScale, frame, trace });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        refuse("unexpected argument '" + parser.positionalArguments().first() + "'");
    if (!parser.isSet(tcp) || !parser.isSet(points))
        refuse("--tcp and --points are required");

    const QString endpoint = parser.value(tcp);
    const int colon = endpoint.lastIndexOf(':');
    bool portOk = false;
    const uint port = endpoint.mid(colon + 1).toUInt(&portOk);
    const QHostAddress address(endpoint.left(colon));
    if (colon < 0 || !portOk || port > 65535 || address.isNull())
        refuse("--tcp: expected ADDRESS:PORT, got '" + endpoint + "'");
    const double speed = number(parser.value(feed), "--feed");
    if (speed <= 0 || speed > 10000)
        refuse("--feed: expected more than 0 and at most 10000 mm/s");
    const double scale = number(parser.value(timeScale), "--time-scale");
    if (scale < 0.01 || scale > 1000)
        refuse("--time-scale: expected at least 0.01 and at most 1000");
    if (parser.value(frame) != "positive" && parser.value(frame) != "stock")
        refuse("--frame: expected positive or stock");
    const bool stock = parser.value(frame) == "stock";
    const QStringList xy
        = (parser.isSet(origin) ? parser.value(origin) : QString(stock ? "-280,-180" : "20,20")).split(',');
    if (xy.size() != 2)
        refuse("--board-origin: expected X,Y");

    QString reason;
    gantry::Board board;
    board.originX = number(xy[0], "--board-origin");
    board.originY = number(xy[1], "--board-origin");
    board.surface = number(parser.value(surface), "--surface");
    std::string error;
    const auto read = gantry::readPoints(parser.value(points).toStdString(), error);
    if (!read)
        refuse(QString::fromStdString(error));
    board.points = *read;

    auto *controller = new gantry::Controller(speed, scale, stock, &app);
    if (parser.isSet(trace) && !controller->traceTo(parser.value(trace), &reason))
        refuse("--trace: " + reason);
    auto *server = new gantry::Server(controller, board, &app);
    if (!server->listen(address, quint16(port), &reason))
        refuse("--tcp " + endpoint + ": " + reason);
    if (parser.isSet(pty) && !server->servePty(parser.value(pty), &reason))
        refuse("--pty: " + reason);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("listening %s:%u\n", qPrintable(address.toString()), unsigned(server->port()));
    std::fflush(stdout);
    return app.exec();
}
