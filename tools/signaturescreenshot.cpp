// Saves a picture of the Signatures dock in Test mode with a flagged point:
// `zem_signature_screenshot out.png`. A board is learned on one virtual
// instrument, then a second one, whose diode is a resistor, is tested.
#include "driving.h"
#include "mainwindow.h"
#include "signaturesdock.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (app.arguments().size() < 2) {
        std::fprintf(stderr, "usage: zem_signature_screenshot <file.png>\n");
        return 2;
    }
    MainWindow window;
    // The window and the dock at their default sizes, as a first start shows them.
    window.show();
    auto *dock = window.findChild<SignaturesDock *>(QStringLiteral("signaturesDock"));
    dock->raise();
    const auto click = [&](const char *name) { clickNamed(dock, name); };
    const auto measureAll = [&] {
        click("signatureRunButton");
        for (int k = 0; k < 4 && dock->isRunning(); ++k) {
            QSignalSpy done(dock, &SignaturesDock::pointDone);
            click("signatureMeasureButton");
            done.wait(5000);
        }
    };
    dock->findChild<QLineEdit *>(QStringLiteral("signatureBoardEdit"))->setText("Controller rev B");
    dock->addPoints(QStringLiteral("R1, D1, C1, R2"));
    connectTo(
        window, "virtual://open?seed=1&pins=resistor:1000,diode,capacitor:1e-6,resistor:4700");
    measureAll();
    connectTo(window,
        "virtual://"
        "open?seed=2&per_pin=2&pins=resistor:1000,resistor:1000,capacitor:1e-6,resistor:4700");
    click("signatureTestButton");
    measureAll();
    auto *table = dock->findChild<QTableView *>(QStringLiteral("signatureTable"));
    table->setCurrentIndex(table->model()->index(1, 1));
    QTest::qWait(200);
    if (!window.grab().save(app.arguments().at(1))) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(app.arguments().at(1)));
        return 1;
    }
    return 0;
}
