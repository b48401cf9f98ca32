// A board of 300 points on a 4000 x 3000 photo in the Signatures dock's Board
// tab: opening the file, panning, and highlighting the next point as a run
// does, each frame painted at once. A frame is within its budget under 16 ms.
#include "dockcontext.h"
#include "figure.h"
#include "offscreen.h"
#include "timedapplication.h"

#include "boardview.h"
#include "devicesession.h"
#include "signature.h"
#include "signaturesdock.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000, kPoints = 300;

// Something like a board photo: a green board with parts, traces and grain,
// as a JPEG, the form a camera gives.
QByteArray boardPhoto()
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(QColor(0x1d, 0x5c, 0x2e));
    QPainter p(&image);
    QRandomGenerator random(7);
    for (int k = 0; k < 3000; ++k) {
        p.setPen(QPen(QColor(0xc8, 0x9b, 0x3c), 1 + random.bounded(6)));
        const QPoint a(random.bounded(kWidth), random.bounded(kHeight));
        p.drawLine(a, a + QPoint(random.bounded(-400, 400), random.bounded(-400, 400)));
    }
    for (int k = 0; k < 400; ++k) {
        p.fillRect(random.bounded(kWidth), random.bounded(kHeight), 40 + random.bounded(300),
            30 + random.bounded(200),
            QColor::fromHsv(random.bounded(360), 60, 40 + random.bounded(80)));
    }
    p.end();
    for (int y = 0; y < kHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            const int grain = random.bounded(-12, 12);
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + grain, 0, 255),
                std::clamp(qGreen(c) + grain, 0, 255), std::clamp(qBlue(c) + grain, 0, 255));
        }
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return data;
}

struct Stats
{
    double best, median, worst;
};

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return { v.front(), v[v.size() / 2], v.back() };
}

// Milliseconds of one change and the frame it paints.
template <class Change> double frame(QWidget *viewport, Change &&change)
{
    QElapsedTimer t;
    t.start();
    change();
    viewport->repaint();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    offscreenWithoutDisplay();
    TimedApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("board.json"));
    {
        sig::Signature board;
        board.board = QStringLiteral("bench");
        board.settings = sig::defaultSettings();
        QString error;
        board.image = sig::pictureFromData(boardPhoto(), &error);
        for (int k = 0; k < kPoints; ++k) {
            sig::Point p;
            p.name = QStringLiteral("P%1").arg(k + 1);
            // Rows of 20, as pins and parts are probed across a board.
            p.at = QPointF(150 + (k % 20) * 185.0, 150 + (k / 20) * 180.0);
            board.points.push_back(p);
        }
        if (!board.image || !sig::save(board, path, &error)) {
            std::fprintf(stderr, "cannot write the board: %s\n", qPrintable(error));
            return 1;
        }
    }

    DeviceSession session;
    DockContext context(session);
    SignaturesDock dock(context);
    dock.resize(1100, 760);
    dock.show();
    dock.newSignature();
    auto *tabs = dock.findChild<QTabWidget *>(QStringLiteral("signatureTabs"));
    tabs->setCurrentIndex(1);
    auto *view = dock.findChild<BoardView *>(QStringLiteral("boardView"));
    auto *table = dock.findChild<QTableView *>(QStringLiteral("signatureTable"));
    if (!QTest::qWaitForWindowExposed(&dock))
        return 1;

    // Opening as the Open dialog does: the file read and checked off the
    // window's thread, then the table and markers built and drawn on it; the
    // photo is decoded off the window's thread too. Each step on the window's
    // thread is one event, so the longest event is the longest frame.
    double read = 0;
    QElapsedTimer t;
    QObject::connect(
        &dock, &SignaturesDock::fileOpened, &dock, [&] { read = t.nsecsElapsed() / 1e6; });
    t.start();
    app.watching = true;
    dock.openFileInBackground(path);
    const bool decoded = QTest::qWaitFor([&] { return view->pictureShown(); }, 30000);
    QTest::qWait(50); // the paints that follow
    app.watching = false;
    if (!decoded) {
        std::fprintf(stderr, "the photo was not shown\n");
        return 1;
    }
    view->viewport()->repaint();
    const double shown = t.nsecsElapsed() / 1e6;

    std::vector<double> fitFrames, pan1, pan4, highlight;
    for (int k = 0; k < 20; ++k)
        fitFrames.push_back(frame(view->viewport(), [&] { view->fit(); }));
    // Panning at full size and at a quarter, 40 screen pixels a frame.
    for (const double zoom : { 1.0, 0.25 }) {
        view->resetTransform();
        view->scale(zoom, zoom);
        view->centerOn(kWidth / 2.0, kHeight / 2.0);
        QScrollBar *bar = view->horizontalScrollBar();
        std::vector<double> &out = zoom == 1.0 ? pan1 : pan4;
        for (int k = 0; k < 60; ++k)
            out.push_back(frame(
                view->viewport(), [&] { bar->setValue(bar->value() + (k < 30 ? 40 : -40)); }));
    }
    // The next point highlighted, as a run moves on, at half size: a point
    // out of view is brought into it.
    view->resetTransform();
    view->scale(0.5, 0.5);
    for (int k = 0; k < kPoints; ++k)
        highlight.push_back(
            frame(view->viewport(), [&] { table->setCurrentIndex(table->model()->index(k, 1)); }));

    figure("board of 300 points on a 4000 x 3000 JPEG: file read and checked (off the window's "
           "thread) / photo decoded and drawn",
        "-", "%.0f / %.0f ms (file %.1f MB)", read, shown, QFileInfo(path).size() / 1e6);
    figure("the same: longest event on the window's thread, from the open to the photo drawn "
           "(the board put in the table, 300 markers built, painted)",
        "< 16 ms", "%.1f ms", app.longest);
    const auto row = [](const char *what, const Stats &s) {
        figure(what, "< 16 ms", "%.2f / %.2f / %.2f ms", s.best, s.median, s.worst);
    };
    row("board: whole board fitted and drawn, best / median / worst of 20", stats(fitFrames));
    row("board: pan by 40 pixels at full size, best / median / worst of 60", stats(pan1));
    row("board: pan by 40 pixels at a quarter size, best / median / worst of 60", stats(pan4));
    row("board: next point highlighted (into view when out of it), half size, best / median / "
        "worst of 300",
        stats(highlight));
    return 0;
}
