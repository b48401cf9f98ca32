// Saves a picture of the main window connected to a virtual instrument, with
// the get_measurement page filled and the Curve dock showing the instrument's
// curve over a held resistor curve: `zem_screenshot out.png [url]`.
#include "base_io_widget.h"
#include "curvedock.h"
#include "historydock.h"
#include "iopanel.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDockWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: zem_screenshot <file.png> [url [dock]]\n");
        return 2;
    }
    MainWindow window;
    // Wide enough for several values of each array field to show beside the dock.
    window.resize(1760, 860);
    window.show();
    auto *url = window.findChild<QLineEdit *>(QStringLiteral("comEdit"));
    auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("cntButton"));
    CurveDock *dock = window.curveDock();
    const auto measure = [&] {
        QSignalSpy finished(dock, &CurveDock::runFinished);
        dock->findChild<QPushButton *>(QStringLiteral("measureButton"))->click();
        return finished.wait(5000);
    };

    // A resistor's curve, held as the reference.
    url->setText(QStringLiteral("virtual://resistor?ohms=1000&seed=1"));
    connectButton->click();
    if (!measure()) {
        std::fprintf(stderr, "the resistor measurement did not finish\n");
        return 1;
    }
    dock->hold();

    url->setText(args.value(2, QStringLiteral("virtual://diode?seed=1")));
    connectButton->click();

    // One measurement, its first frame shown.
    window.page(QStringLiteral("start_measurement"))->sendButton->click();
    QTest::qWait(50);
    iopanel *status = window.page(QStringLiteral("check_measurement_status"));
    status->sendButton->click();
    iopanel *measurement = window.page(QStringLiteral("get_measurement"));
    measurement->GetRequest(0)->SetValue(QStringLiteral("0"));
    measurement->sendButton->click();
    QTest::qWait(200);
    // The instrument's whole curve, measured with one click.
    if (!measure()) {
        std::fprintf(stderr, "the measurement did not finish\n");
        return 1;
    }
    // A filled field shows its end; the picture should show the first values.
    for (QLineEdit *edit : measurement->findChildren<QLineEdit *>())
        edit->setCursorPosition(0);
    // The dock to show on top, e.g. callsDock; the Curve dock otherwise.
    if (args.size() > 3) {
        if (auto *shown = window.findChild<QDockWidget *>(args.at(3))) {
            shown->show(); // a dock hidden at start, as the View menu shows it
            shown->raise();
        }
        // The history is read only when asked: ask, and show the failures.
        if (auto *refresh
            = window.findChild<QPushButton *>(QStringLiteral("historyRefreshButton"))) {
            // Read on the history's thread: wait for what comes back.
            QSignalSpy shown(window.findChild<HistoryDock *>(), &HistoryDock::shown);
            refresh->click();
            shown.wait(5000);
            QTest::qWait(500); // runs uploaded from the spool come with a second refresh
            if (auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("historyTabs")))
                tabs->setCurrentIndex(std::min(1, tabs->count() - 1));
        }
    }
    // The Calls dock with the frame's call selected and its request field's
    // bytes marked in the dump.
    if (auto *calls = window.findChild<QTableView *>(QStringLiteral("callsView"))) {
        calls->selectRow(calls->model()->rowCount() - 1);
        auto *fields = window.findChild<QTreeWidget *>(QStringLiteral("callFields"));
        if (fields && fields->topLevelItemCount() > 1)
            fields->setCurrentItem(fields->topLevelItem(1)->child(0));
    }
    QTest::qWait(50);

    if (!window.grab().save(args.at(1))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
