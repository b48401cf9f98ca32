// Figures of the Curve dock: one click to a drawn curve against the device's
// own time, a large curve's redraw, and repeating at a short period. Prints
// figures; asserts nothing.
#include "figure.h"
#include "offscreen.h"

#include "curvedock.h"
#include "mainwindow.h"
#include "shownwindow.h"
#include "zem.h"

#include <QApplication>
#include <QChartView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void connectTo(MainWindow &window, const QString &url)
{
    window.findChild<QLineEdit *>(QStringLiteral("comEdit"))->setText(url);
    window.findChild<QPushButton *>(QStringLiteral("cntButton"))->click();
}

// The settings of zem_example's run.
void useExampleSettings(MainWindow &window)
{
    measurement_settings s {};
    s.SamplingRate = 10000;
    s.ProbeSignalFrequency = 100;
    s.NumberPoints = 100;
    s.MaxVoltage = 12;
    s.CurrentSensorMode = CURRENT_SENSE_MODE_I_MID;
    s.OutputMode = OUT_MODE_PROBE_SIGNAL_CONTINUOUS;
    if (zem_set_measurement_settings(window.deviceHandle(), &s) != ZEM_RESULT_OK)
        std::fprintf(stderr, "settings refused\n");
}

// Click to the curve drawn: the new series painted by the chart view.
void clickToCurve()
{
    auto window = shownWindow();
    connectTo(*window, QStringLiteral("virtual://resistor?ohms=1000"));
    useExampleSettings(*window);
    CurveDock *dock = window->curveDock();
    auto *measure = dock->findChild<QPushButton *>(QStringLiteral("measureButton"));
    auto *view = dock->findChild<QChartView *>(QStringLiteral("curveView"));
    std::vector<double> ms;
    for (int i = 0; i < 21; ++i) {
        QSignalSpy shown(dock, &CurveDock::curveShown);
        const Clock::time_point start = Clock::now();
        QTest::mouseClick(measure, Qt::LeftButton);
        if (!shown.wait(5000)) {
            std::fprintf(stderr, "no curve\n");
            return;
        }
        view->viewport()->repaint();
        if (i > 0) // the first run also lays the chart out
            ms.push_back(msSince(start));
    }
    const double ideal = 100.0 / 10000.0 * 1000.0;
    figure("Measure click to curve drawn, 100 points at 10 kHz, best / median of 20 (ideal 10 ms)",
        "<= ideal + 20 ms", "%.1f / %.1f ms (+%.1f ms)", *std::min_element(ms.begin(), ms.end()),
        median(ms), median(ms) - ideal);
}

// Showing and painting a 10,000-point curve.
void largeCurve()
{
    auto window = shownWindow();
    CurveDock *dock = window->curveDock();
    auto *view = dock->findChild<QChartView *>(QStringLiteral("curveView"));
    Curve curve;
    for (int i = 0; i < 10000; ++i) {
        const double v = 12 * std::sin(2 * M_PI * i / 1000.0);
        curve.voltage.push_back(float(v));
        curve.current.push_back(float(v / 1.5));
    }
    curve.complete = true;
    std::vector<double> ms;
    for (int i = 0; i < 11; ++i) {
        curve.current[0] = float(i); // a new curve each time
        const Clock::time_point start = Clock::now();
        dock->showCurve(curve);
        view->viewport()->repaint();
        if (i > 0)
            ms.push_back(msSince(start));
    }
    figure("chart update with 10,000 points (replace, axes, figures, paint), best / median of 10",
        "< 30 ms", "%.1f / %.1f ms", *std::min_element(ms.begin(), ms.end()), median(ms));
}

// Repeat at 100 ms for 10 s, with a 5 ms ticker that sees any stall of the event loop.
void repeat()
{
    auto window = shownWindow();
    connectTo(*window, QStringLiteral("virtual://resistor?ohms=1000"));
    useExampleSettings(*window);
    CurveDock *dock = window->curveDock();
    dock->findChild<QSpinBox *>(QStringLiteral("repeatBox"))->setValue(100);
    int curves = 0;
    QObject::connect(dock, &CurveDock::runFinished, dock, [&](MeasurementSequence::Outcome o) {
        curves += o == MeasurementSequence::Outcome::Complete;
    });
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    Clock::time_point last = Clock::now();
    double stall = 0;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        stall = std::max(stall, msSince(last) - 5);
        last = Clock::now();
    });
    ticker.start(5);
    dock->findChild<QPushButton *>(QStringLiteral("repeatButton"))->click();
    QTest::qWait(10000);
    dock->findChild<QPushButton *>(QStringLiteral("repeatButton"))->click();
    figure("Repeat at 100 ms for 10 s: curves / longest event-loop stall", ">= 90 / <= 50 ms",
        "%d / %.1f ms", curves, stall);
}

// One Measure on an instrument that takes 40 ms a call, with a 1 ms ticker:
// the longest the event loop went without turning.
void slowDevice()
{
    auto window = shownWindow();
    connectTo(*window, QStringLiteral("virtual://resistor?ohms=1000&delay_ms=40"));
    CurveDock *dock = window->curveDock();
    QSignalSpy finished(dock, &CurveDock::runFinished);
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    Clock::time_point last = Clock::now();
    double gap = 0;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        gap = std::max(gap, msSince(last));
        last = Clock::now();
    });
    ticker.start(1);
    QTest::qWait(20);
    gap = 0;
    last = Clock::now();
    const Clock::time_point start = Clock::now();
    dock->findChild<QPushButton *>(QStringLiteral("measureButton"))->click();
    finished.wait(10000);
    const double run = msSince(start);
    ticker.stop();
    figure("longest event-loop gap during one Measure, 40 ms a call (run time)", "< 25 ms",
        "%.1f ms (%.0f ms)", gap, run);
}

} // namespace

int main(int argc, char *argv[])
{
    offscreenWithoutDisplay();
    QApplication app(argc, argv);
    clickToCurve();
    largeCurve();
    repeat();
    slowDevice();
    return 0;
}
