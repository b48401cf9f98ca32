// Predicted signatures: a board of 500 two-pin parts (1,000 pads, three
// settings each) predicted with one and two copies of ngspice, the same
// from the window's Predict from CAD (how long the event loop waited at
// most, and the undo), the likely faults of one of its points (first time
// and again, from the cache), and one simulation of a 1 kHz cycle at 200
// points.
#include "figure.h"
#include "offscreen.h"

#include "faultcache.h"
#include "faults.h"
#include "models.h"
#include "ngspice.h"
#include "predictor.h"
#include "referenceprediction.h"
#include "signature.h"
#include "signaturedocument.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QUndoStack>

namespace {

// Clusters of four parts on two nets: a resistor between them, and a
// resistor, a capacitor and a diode to the common.
sig::Signature board(int parts)
{
    sig::Signature b;
    b.settings = sig::defaultSettings();
    const char *values[] = { "4k7", "10k", "100n", "SD" };
    for (int k = 0; k < parts; ++k) {
        const int cluster = k / 4, role = k % 4;
        const QString a = QStringLiteral("N%1A").arg(cluster),
                      bnet = QStringLiteral("N%1B").arg(cluster);
        const QString ref = QStringLiteral("%1%2")
                                .arg(role < 2       ? "R"
                                        : role == 2 ? "C"
                                                    : "D")
                                .arg(k);
        const QString first = role == 0 ? a
            : role == 1                 ? bnet
            : role == 2                 ? a
                                        : QStringLiteral("GND");
        const QString second = role == 0 ? bnet : role == 3 ? bnet : QStringLiteral("GND");
        b.parts.push_back(
            { ref, QLatin1String(values[role]), { { "1", first }, { "2", second } } });
        for (const auto &[pin, net] : { std::pair { "1", first }, { "2", second } }) {
            sig::Point p;
            p.name = ref + QLatin1Char('.') + QLatin1String(pin);
            p.net = net;
            p.component = ref;
            p.measurements.clear();
            for (std::uint32_t mode :
                { CURRENT_SENSE_MODE_I_LOW, CURRENT_SENSE_MODE_I_MID, CURRENT_SENSE_MODE_I_HIGH }) {
                measurement_settings s = b.settings;
                s.CurrentSensorMode = mode;
                p.measurements.push_back({ s, {}, {} });
            }
            b.points.push_back(std::move(p));
        }
    }
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    offscreenWithoutDisplay();
    QGuiApplication app(argc, argv);
    const predict::Models models = predict::Models::builtIn();
    for (int copies : { 1, 2 }) {
        predict::NgspiceSimulator simulator(copies);
        if (!simulator.loadError().isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(simulator.loadError()));
            return 1;
        }
        sig::Signature b = board(500);
        QElapsedTimer clock;
        clock.start();
        const predict::Prediction result
            = predict::predictBoard(b, models, simulator, { simulator.copies() });
        const double seconds = clock.nsecsElapsed() / 1e9;
        int predicted = 0;
        for (const auto &p : result.points)
            predicted += p.predicted;
        char what[120];
        std::snprintf(what, sizeof what,
            "predict 500 two-pin parts (1,000 pads, 3 settings: %d simulations), %d ngspice cop%s",
            result.simulations, simulator.copies(), simulator.copies() == 1 ? "y" : "ies");
        figure(what, "<= 10 s on 2 cores", "%.2f s (%d of %zu points; %.2f ms a simulation)",
            seconds, predicted, result.points.size(), 1000 * seconds / result.simulations);
    }

    {
        // The window's way: off the GUI thread, its event loop timed by a
        // timer that should fire every 5 ms, then applied as one edit.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("board.json"));
        QString error;
        SignatureDocument document;
        if (!sig::save(board(500), file, &error) || !document.open(file)) {
            std::fprintf(stderr, "%s\n", qPrintable(error + document.errorString()));
            return 1;
        }
        ReferencePrediction prediction(document);
        QElapsedTimer clock, tick;
        double longest = 0;
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
            longest = std::max(longest, tick.nsecsElapsed() / 1e6);
            tick.start();
        });
        QEventLoop loop;
        QObject::connect(&prediction, &ReferencePrediction::finished, &loop, &QEventLoop::quit);
        clock.start();
        tick.start();
        timer.start();
        prediction.start();
        loop.exec();
        const double seconds = clock.nsecsElapsed() / 1e9;
        longest = std::max(longest, tick.nsecsElapsed() / 1e6);
        const auto &points = document.signature().points;
        const auto learned = std::count_if(
            points.begin(), points.end(), [](const sig::Point &p) { return p.learned(); });
        clock.start();
        document.undoStack()->undo();
        const double undo = clock.nsecsElapsed() / 1e6;
        figure("Predict from CAD in the window, 500 two-pin parts: predicted and applied as one "
               "edit",
            "<= 10 s on 2 cores", "%.2f s (%zu of %zu points)", seconds, std::size_t(learned),
            points.size());
        figure("the window's longest event-loop wait while it predicts (a 5 ms timer)", "<= 100 ms",
            "%.0f ms", longest);
        figure("undo of that prediction", "-", "%.0f ms", undo);
    }

    {
        // A failing point of the big board: its net's parts, each fault at
        // every setting of the point.
        predict::NgspiceSimulator simulator(1);
        sig::Signature b = board(500);
        predict::predictBoard(b, models, simulator);
        std::vector<sig::IvCurve> measured;
        for (const sig::Measurement &m : b.points[0].measurements)
            measured.push_back(*m.reference);
        std::vector<double> first, cached;
        std::size_t found = 0;
        predict::FaultCache cache;
        for (int k = 0; k < 5; ++k) {
            cache.clear();
            QElapsedTimer clock;
            clock.start();
            found = predict::likelyFaults(b, models, simulator, 0, measured, 3, &cache).size();
            first.push_back(clock.nsecsElapsed() / 1e6);
            clock.restart();
            predict::likelyFaults(b, models, simulator, 0, measured, 3, &cache);
            cached.push_back(clock.nsecsElapsed() / 1e6);
        }
        figure("likely faults of one failing point (4 parts on its net, 3 settings), first time",
            "<= 200 ms", "%.0f ms (top %zu)", median(first), found);
        figure("the same point failing again: its faults' curves cached", "-", "%.2f ms (%zu hits)",
            median(cached), cache.counts().hits);
        // The next process: a cache of the same folder, nothing in memory.
        QTemporaryDir folder;
        predict::FaultCache written(folder.path());
        predict::likelyFaults(b, models, simulator, 0, measured, 3, &written);
        std::vector<double> fromFile;
        for (int k = 0; k < 5; ++k) {
            predict::FaultCache next(folder.path());
            QElapsedTimer clock;
            clock.start();
            predict::likelyFaults(b, models, simulator, 0, measured, 3, &next);
            fromFile.push_back(clock.nsecsElapsed() / 1e6);
            if (next.counts().fromFiles != 1)
                std::fprintf(stderr, "the cache's file was not used\n");
        }
        figure("the same point failing in the next process: its faults' curves from the cache's "
               "file",
            "-", "%.2f ms", median(fromFile));
    }
    predict::NgspiceSimulator simulator;
    measurement_settings s = sig::defaultSettings();
    s.ProbeSignalFrequency = 1000;
    s.SamplingRate = 200000;
    s.NumberPoints = 200;
    predict::Element r;
    r.a = QStringLiteral("N1");
    r.b = QStringLiteral("GND");
    r.value = 4700;
    predict::Element d = r;
    d.kind = predict::Element::Kind::Diode;
    std::vector<double> ms;
    for (int k = 0; k < 50; ++k) {
        QElapsedTimer clock;
        clock.start();
        simulator.simulate({ r.a, r.b, { r, d } }, zem::stimulusOf(s));
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    figure("one simulation: a resistor and a diode, a 1 kHz cycle at 200 points", "-", "%.2f ms",
        median(ms));
    return 0;
}
