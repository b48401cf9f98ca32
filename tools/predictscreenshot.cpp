// Predict from CAD at work: `zem_predict_screenshot dock.png bench.png`. The
// demo board with its parts but nothing learned is predicted in the
// Signatures dock's Board tab of zem_debugger, then in zem_bench, and each
// window is grabbed once the prediction is applied.
#include "benchwindow.h"
#include "mainwindow.h"
#include "signature.h"
#include "signaturesdock.h"

#include <QAction>
#include <QApplication>
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
        std::fprintf(stderr, "usage: zem_predict_screenshot <dock.png> <bench.png>\n");
        return 2;
    }
    QString error;
    auto board = sig::load(QStringLiteral(ZEM_DEMO_DIR "/demo.json"), &error);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("demo.json"));
    if (board)
        for (sig::Point &p : board->points)
            p.measurements = std::vector<sig::Measurement>(1);
    if (!board || !sig::save(*board, file, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    MainWindow window;
    window.resize(1280, 800);
    window.show();
    auto *dock = window.findChild<SignaturesDock *>(QStringLiteral("signaturesDock"));
    dock->raise();
    window.resizeDocks({ dock }, { 1000 }, Qt::Horizontal);
    auto *tabs = dock->findChild<QTabWidget *>(QStringLiteral("signatureTabs"));
    tabs->setCurrentWidget(dock->findChild<QWidget *>(QStringLiteral("boardPage")));
    if (!dock->openFile(file))
        return 1;
    auto *predict = dock->findChild<QPushButton *>(QStringLiteral("signaturePredictButton"));
    predict->click();
    if (!QTest::qWaitFor([&] { return predict->isEnabled(); }, 60000))
        return 1;
    QTest::qWait(300);
    if (!window.grab().save(app.arguments().at(1)))
        return 1;

    BenchWindow bench;
    bench.resize(1280, 800);
    bench.show();
    QSignalSpy opened(&bench, &BenchWindow::boardOpened);
    bench.openBoard(file);
    if (!opened.wait(10000))
        return 1;
    auto *action = bench.findChild<QAction *>(QStringLiteral("predictAction"));
    action->trigger();
    if (!QTest::qWaitFor([&] { return action->isEnabled(); }, 60000))
        return 1;
    bench.findChild<QTableView *>(QStringLiteral("pointsTable"))->selectRow(2);
    QTest::qWait(300);
    return bench.grab().save(app.arguments().at(2)) ? 0 : 1;
}
