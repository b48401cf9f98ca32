// Saves pictures of the History dock: `zem_history_screenshot runs.png
// yield.png`. A history of two board types over three weeks is made in a
// temporary folder (one of them with a capacitor that starts failing), then
// the window reads it as a user would: Refresh, a failed run opened, its
// failing point's curve over the reference; then the yield per day.
#include "driving.h"
#include "historydock.h"
#include "mainwindow.h"
#include "store.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdio>

using namespace zem::history;

namespace {

enum class Part { Resistor, Diode, Capacitor };

// A load behind the instrument's 1 kOhm source, swept by a 5 V sine.
void curve(Part part, double value, std::vector<double> *volts, std::vector<double> *milliamps)
{
    volts->clear();
    milliamps->clear();
    for (int k = 0; k < 100; ++k) {
        const double phase = 2 * M_PI * k / 100, source = 5 * std::sin(phase);
        double v = source, ma = 0;
        if (part == Part::Resistor) {
            v = source * value / (value + 1000);
            ma = source / (value + 1000) * 1000;
        } else if (part == Part::Diode) {
            v = source > value ? value + (source - value) * 0.02 : source;
            ma = source > value ? (source - value) * 0.98 : 0;
        } else { // the current leads the voltage; value scales it
            v = 4 * std::sin(phase);
            ma = value * std::cos(phase);
        }
        volts->push_back(v);
        milliamps->push_back(ma);
    }
}

struct PointSpec
{
    const char *name;
    Part part;
    double value;
};

Run run(const QString &board, const std::vector<PointSpec> &points, const QDateTime &at, int serial,
    int failing, double drift)
{
    Run r;
    r.boardType = board;
    r.boardSerial
        = QStringLiteral("%1-%2").arg(board.left(3).toUpper()).arg(serial, 5, 10, QLatin1Char('0'));
    r.station = QStringLiteral("bench-2");
    r.operatorName = QLatin1String(serial % 3 ? "ann" : "raj");
    r.started = at;
    r.finished = at.addSecs(75);
    r.signature = board + QStringLiteral(".json");
    bool failed = false;
    for (int k = 0; k < int(points.size()); ++k) {
        const PointSpec &s = points[std::size_t(k)];
        PointResult p;
        p.name = QLatin1String(s.name);
        p.tolerance = 10;
        const bool bad = k == failing;
        const double value = s.value * (bad ? 1.6 : 1 + drift * (k == 5));
        curve(s.part, s.value, &p.refVolts, &p.refMilliamps);
        curve(s.part, value, &p.volts, &p.milliamps);
        p.score = bad ? 24.0 + serial % 7
                      : 0.8 + (serial * 7 + k * 3) % 25 / 10.0 + 60 * drift * (k == 5);
        p.verdict = QLatin1String(*p.score > p.tolerance ? "different" : "pass");
        failed = failed || *p.score > p.tolerance;
        p.reading = s.part == Part::Resistor
            ? QStringLiteral("resistor, %1 kΩ").arg(value / 1000, 0, 'f', 2)
            : s.part == Part::Diode ? QStringLiteral("diode, %1 V").arg(value, 0, 'f', 2)
                                    : QStringLiteral("capacitor");
        if (bad && s.part == Part::Capacitor) {
            p.causeClass = QStringLiteral("capacitance");
            p.causeText = QStringLiteral("capacitance 60 % higher");
        } else if (bad) {
            p.causeClass = QStringLiteral("resistance");
            p.causeText = QStringLiteral("resistance 60 % higher");
        }
        r.points.push_back(std::move(p));
    }
    r.verdict = QLatin1String(failed ? "fail" : "pass");
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (app.arguments().size() < 3) {
        std::fprintf(stderr, "usage: zem_history_screenshot <runs.png> <yield.png>\n");
        return 2;
    }
    QTemporaryDir dir;
    const QString where = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("h.sqlite"));
    {
        Store store;
        if (!store.open(*parseLocation(where, nullptr))) {
            std::fprintf(stderr, "%s\n", qPrintable(store.errorString()));
            return 1;
        }
        const std::vector<PointSpec> controller { { "R1", Part::Resistor, 1000 },
            { "R2", Part::Resistor, 4700 }, { "D1", Part::Diode, 0.62 },
            { "C3", Part::Capacitor, 1.2 }, { "R7", Part::Resistor, 220 },
            { "U1.4", Part::Diode, 0.35 }, { "U1.5", Part::Diode, 0.35 },
            { "C8", Part::Capacitor, 0.6 } };
        const std::vector<PointSpec> supply { { "F1", Part::Resistor, 10 },
            { "D2", Part::Diode, 0.7 }, { "C1", Part::Capacitor, 2.0 },
            { "R3", Part::Resistor, 10000 } };
        const QDateTime today(QDate::currentDate().addDays(-1), QTime(8, 0), Qt::UTC);
        int serial = 1200;
        for (int day = 20; day >= 0; --day) {
            const QDateTime morning = today.addDays(-day);
            // A capacitor lot goes bad in the last week: C3 fails more often.
            const int every = day < 7 ? 3 : 11;
            for (int n = 0; n < 9; ++n, ++serial) {
                const QDateTime at = morning.addSecs(n * 2400);
                const int failing = serial % every == 0 ? 3 : serial % 23 == 0 ? 1 : -1;
                store.record(run(QStringLiteral("Controller rev B"), controller, at, serial,
                    failing, 0.004 * (20 - day)));
                if (n % 2 == 0)
                    store.record(run(QStringLiteral("PSU-24"), supply, at.addSecs(600), serial,
                        serial % 17 == 0 ? 2 : -1, 0));
            }
        }
    }

    MainWindow window;
    window.resize(1500, 900);
    window.show();
    auto *dock = window.findChild<HistoryDock *>(QStringLiteral("historyDock"));
    dock->show();
    dock->raise();
    window.resizeDocks({ dock }, { 900 }, Qt::Horizontal);
    dock->setLocationText(where);
    QSignalSpy shown(dock, &HistoryDock::shown);
    const auto settle = [&] {
        if (!shown.wait(5000))
            std::fprintf(stderr, "the history did not answer\n");
        QTest::qWait(100);
    };
    dock->refresh();
    settle();
    // The newest failed run of the board, and its failing point.
    auto *runsTable = dock->findChild<QTableView *>(QStringLiteral("historyRunsTable"));
    for (int row = 0; row < dock->runsModel()->rowCount(); ++row) {
        const RunSummary *s = dock->runsModel()->runAt(row);
        if (s->run.verdict != QLatin1String("fail") || s->run.boardType.startsWith("PSU"))
            continue;
        runsTable->selectRow(row);
        emit runsTable->doubleClicked(dock->runsModel()->index(row, 0));
        settle();
        break;
    }
    auto *points = dock->findChild<QTableWidget *>(QStringLiteral("historyPointsTable"));
    for (int row = 0; row < points->rowCount(); ++row)
        if (points->item(row, 1)->text() == QLatin1String("different"))
            points->setCurrentCell(row, 0);
    QTest::qWait(100);
    if (!window.grab().save(app.arguments().at(1)))
        return 1;
    dock->findChild<QTabWidget *>(QStringLiteral("historyTabs"))->setCurrentIndex(2);
    QTest::qWait(100);
    return window.grab().save(app.arguments().at(2)) ? 0 : 1;
}
