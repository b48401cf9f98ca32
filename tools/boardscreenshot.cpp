// Pictures of the Board tab: `zem_board_screenshot board.png report.html`.
// A drawn board (resistors, a diode, a capacitor and an 8-pin package whose
// pins are placed with three clicks) is learned on one virtual instrument,
// then a second board, whose diode is a resistor, is tested: the window is
// grabbed halfway through the test, with D1 flagged and the next point
// highlighted; the test then runs to its end and the report is written.
#include "boardview.h"
#include "driving.h"
#include "drawnboard.h"
#include "mainwindow.h"
#include "signaturesdock.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (app.arguments().size() < 3) {
        std::fprintf(stderr, "usage: zem_board_screenshot <board.png> <report.html>\n");
        return 2;
    }
    MainWindow window;
    window.resize(1500, 860);
    window.show();
    auto *dock = window.findChild<SignaturesDock *>(QStringLiteral("signaturesDock"));
    dock->raise();
    window.resizeDocks({ dock }, { 1000 }, Qt::Horizontal);
    const auto click = [&](const char *name) { clickNamed(dock, name); };
    const auto measurePoints = [&](int count) {
        for (int k = 0; k < count && dock->isRunning(); ++k) {
            QSignalSpy done(dock, &SignaturesDock::pointDone);
            click("signatureMeasureButton");
            done.wait(5000);
        }
    };

    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("board.png"));
    drawBoard().save(photo);
    QTest::keyClicks(dock->findChild<QLineEdit *>(QStringLiteral("signatureBoardEdit")),
        QStringLiteral("Controller rev B"));
    dock->setPicture(photo);
    dock->addPoints(QStringLiteral("R1, D1, C1, R2"));
    dock->addComponent(QStringLiteral("U1"), 8);
    auto *tabs = dock->findChild<QTabWidget *>(QStringLiteral("signatureTabs"));
    tabs->setCurrentIndex(1);
    auto *view = dock->findChild<BoardView *>(QStringLiteral("boardView"));
    if (!QTest::qWaitFor([&] { return view->pictureShown(); }, 10000)) {
        std::fprintf(stderr, "the board's picture was not shown\n");
        return 1;
    }
    // The parts' first pads, clicked in turn (the next point is chosen after each).
    const auto clickAt = [&](QPointF at) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(at));
    };
    for (const QPointF at :
        { QPointF(180, 255), QPointF(180, 555), QPointF(200, 815), QPointF(1220, 735) })
        clickAt(at);
    dock->placeComponent(QStringLiteral("U1"), true);
    for (const QPointF at : { QPointF(720, 320), QPointF(1100, 320), QPointF(720, 560) })
        clickAt(at);

    const char *loads = "resistor:1000,diode,capacitor:1e-6,resistor:4700,resistor_diode:2200,"
                        "resistor:10000,diode,open,open,resistor:10000,resistor_diode:2200,short";
    connectTo(window, QByteArray("virtual://open?seed=1&pins=").append(loads).constData());
    tabs->setCurrentIndex(0);
    // Each run from the first point.
    auto *table = dock->findChild<QTableView *>(QStringLiteral("signatureTable"));
    table->setCurrentIndex(table->model()->index(0, 1));
    click("signatureRunButton");
    measurePoints(12);
    QByteArray tested(loads);
    tested.replace("resistor:1000,diode,", "resistor:1000,resistor:1000,");
    connectTo(
        window, QByteArray("virtual://open?seed=2&per_pin=2&pins=").append(tested).constData());
    click("signatureTestButton");
    tabs->setCurrentIndex(1);
    table->setCurrentIndex(table->model()->index(0, 1));
    click("signatureRunButton");
    measurePoints(6);
    QTest::qWait(200);
    if (!window.grab().save(app.arguments().at(1))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(app.arguments().at(1)));
        return 1;
    }
    measurePoints(6);
    return dock->writeReport(app.arguments().at(2)) ? 0 : 1;
}
