// zem_bench at 1280x800 after a failed board, for the front page:
// `zem_bench_screenshot bench.png [history.png [machine.png]]`. The drawn board's points are placed on
// its picture, a good board is learned on one virtual instrument, then a
// board whose diode is shorted and whose R2 has drifted is tested.
#include "benchwindow.h"
#include "dockcontext.h"
#include "drawnboard.h"
#include "signature.h"
#include "worker.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

// The pads of the drawn board, in probing order.
const std::vector<std::pair<const char *, QPointF>> kPoints = { { "R1", { 180, 255 } },
    { "D1", { 180, 555 } }, { "C1", { 200, 815 } }, { "R2", { 1220, 735 } },
    { "U1.1", { 720, 320 } }, { "U1.2", { 720, 400 } }, { "U1.3", { 720, 480 } },
    { "U1.4", { 720, 560 } }, { "U1.5", { 1100, 560 } }, { "U1.6", { 1100, 480 } },
    { "U1.7", { 1100, 400 } }, { "U1.8", { 1100, 320 } } };

const char kGood[] = "resistor:1000,diode,capacitor:1e-6,resistor:4700,resistor_diode:2200,"
                     "resistor:10000,diode,open,open,resistor:10000,resistor_diode:2200,short";

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (app.arguments().size() < 2) {
        std::fprintf(stderr, "usage: zem_bench_screenshot <bench.png> [history.png [machine.png]]\n");
        return 2;
    }
    QTemporaryDir dir;
    sig::Signature board;
    board.board = QStringLiteral("Controller rev B");
    board.settings = sig::defaultSettings();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    drawBoard().save(&buffer, "PNG");
    board.image = sig::pictureFromData(png, nullptr);
    for (const auto &[name, at] : kPoints) {
        sig::Point p;
        p.name = QLatin1String(name);
        p.at = at;
        board.points.push_back(p);
    }
    const QString file = dir.filePath(QStringLiteral("controller.json"));
    QString error;
    if (!sig::save(board, file, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    BenchWindow window;
    window.context().history()->setLocationText(dir.filePath(QStringLiteral("h.sqlite")));
    window.resize(1280, 800);
    window.show();
    QSignalSpy opened(&window, &BenchWindow::boardOpened);
    window.openBoard(file);
    if (!opened.wait(10000) || !opened.front().front().toBool())
        return 1;
    auto *table = window.findChild<QTableView *>(QStringLiteral("pointsTable"));
    const auto probeAll = [&] {
        for (std::size_t k = 0; k < kPoints.size(); ++k) {
            QSignalSpy done(&window, &BenchWindow::pointDone);
            window.measure();
            if (!done.wait(5000))
                return false;
        }
        return QTest::qWaitFor(
            [&] { return !window.findChild<QWidget *>("stopButton")->isEnabled(); });
    };
    // Learn, then test the suspect board from the first point.
    window.connectTo(QStringLiteral("virtual://open?seed=1&pins=") + QLatin1String(kGood));
    window.findChild<QComboBox *>(QStringLiteral("modeCombo"))->setCurrentIndex(1);
    window.startRun();
    if (!probeAll())
        return 1;
    QByteArray tested(kGood);
    tested.replace("resistor:1000,diode,", "resistor:1000,resistor:1000,");
    tested.replace("resistor:4700,", "resistor:6800,");
    window.connectTo(QStringLiteral("virtual://open?seed=2&per_pin=2&pins=")
        + QString::fromLatin1(tested));
    window.findChild<QLineEdit *>(QStringLiteral("operatorEdit"))->setText(QStringLiteral("Ann"));
    auto *serial = window.findChild<QLineEdit *>(QStringLiteral("serialEdit"));
    serial->setText(QStringLiteral("CB-20431"));
    QTest::keyClick(serial, Qt::Key_Return);
    if (!probeAll())
        return 1;
    table->selectRow(1); // the shorted diode's curve over its reference
    QTest::qWait(300);
    if (!window.grab().save(app.arguments().at(1))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(app.arguments().at(1)));
        return 1;
    }
    if (app.arguments().size() < 3)
        return 0;
    // The History tab after the two runs (the learn keeps none).
    window.findChild<QTabWidget *>(QStringLiteral("benchTabs"))
        ->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("historyTab")));
    QTest::qWait(1000);
    if (!window.grab().save(app.arguments().at(2)) || app.arguments().size() < 4)
        return app.arguments().size() < 4 ? 0 : 1;
    // The Machine tab, no machine connected.
    window.findChild<QTabWidget *>(QStringLiteral("benchTabs"))
        ->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("machineTab")));
    QTest::qWait(300);
    return window.grab().save(app.arguments().at(3)) ? 0 : 1;
}
