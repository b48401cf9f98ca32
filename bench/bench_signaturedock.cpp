// Probe button to verdict in the Signatures dock on the virtual instrument:
// the instrument's button is pressed at known times (every other period from
// the open), the dock polls for it, measures, compares and shows the verdict.
#include "figure.h"
#include "offscreen.h"

#include "devicesession.h"
#include "signaturesdock.h"

#include "zem.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <vector>

using Clock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    offscreenWithoutDisplay();
    QApplication app(argc, argv);
    constexpr int kPoints = 12;
    constexpr int kPeriodMs
        = 113; // not a multiple of the poll period: presses fall anywhere between polls
    DeviceSession session;
    zem::Connection &device = session.connection();
    device.open("virtual://resistor");
    SignaturesDock dock(session);
    dock.show();
    QStringList names;
    for (int k = 1; k <= kPoints; ++k)
        names << QStringLiteral("R%1").arg(k);
    dock.addPoints(names.join(QLatin1Char(',')));
    auto *run = dock.findChild<QPushButton *>(QStringLiteral("signatureRunButton"));
    auto *measure = dock.findChild<QPushButton *>(QStringLiteral("signatureMeasureButton"));
    run->click();
    for (int k = 0; k < kPoints; ++k) {
        measure->click();
        QTest::qWait(30);
    }
    device.close();
    if (!dock.signature().points.back().learned()) {
        std::fprintf(stderr, "learning failed\n");
        return 1;
    }

    dock.findChild<QRadioButton *>(QStringLiteral("signatureTestButton"))->click();
    std::vector<double> latencies;
    Clock::time_point opened;
    QObject::connect(&dock, &SignaturesDock::pointDone, &dock, [&](int point) {
        dock.repaint();
        const auto press = opened + std::chrono::milliseconds(kPeriodMs * (2 * point + 1));
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - press).count());
    });
    opened = Clock::now();
    device.open(QStringLiteral("virtual://resistor?button_period_ms=%1").arg(kPeriodMs).toStdString());
    run->click();
    for (int k = 0; k < 100 && dock.isRunning(); ++k)
        QTest::qWait(2 * kPeriodMs);
    device.close();
    if (latencies.size() != std::size_t(kPoints)) {
        std::fprintf(stderr, "%zu verdicts of %d\n", latencies.size(), kPoints);
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    double mean = 0;
    for (double l : latencies)
        mean += l / kPoints;
    figure("probe button press to verdict shown, Signatures dock, 100 points at 10 kHz "
           "(10 ms): best / mean / worst of 12",
        "<= 10 + 70 ms", "%.1f / %.1f / %.1f ms", latencies.front(), mean, latencies.back());
    return 0;
}
