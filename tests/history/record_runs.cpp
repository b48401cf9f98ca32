// record_runs LOCATION COUNT POINTS CURVE_POINTS [UUID...]: records COUNT runs
// of board type "helper", printing "begin UUID" before and "done UUID" after
// each. Runs take the UUIDs given, in order, with the serial SN- and their
// first four characters, so that tests can name them.
#include "samplerun.h"
#include "store.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QString error;
    const auto where
        = args.size() >= 5 ? zem::history::parseLocation(args[1], &error) : std::nullopt;
    zem::history::Store store;
    if (!where || !store.open(*where)) {
        std::fprintf(stderr, "record_runs: %s\n", qPrintable(error + store.errorString()));
        return 2;
    }
    for (int k = 0; k < args[2].toInt(); ++k) {
        zem::history::Run run = sampleRun("helper", args[3].toInt(), args[4].toInt());
        if (5 + k < args.size()) {
            run.uuid = QUuid::fromString(args[5 + k]);
            run.boardSerial = "SN-" + args[5 + k].left(4);
        }
        const QByteArray uuid = run.uuid.toByteArray(QUuid::WithoutBraces);
        std::printf("begin %s\n", uuid.constData());
        std::fflush(stdout);
        if (store.record(run) != zem::history::Store::Outcome::Stored) {
            std::fprintf(stderr, "record_runs: %s\n", qPrintable(store.errorString()));
            return 1;
        }
        std::printf("done %s\n", uuid.constData());
        std::fflush(stdout);
    }
    return 0;
}
