// The runs the history figures record: as stations record them, with
// curves carrying a little noise.
#pragma once

#include "run.h"

#include <cmath>

namespace zem::history {

// A run as a station records it: every point scored, a few
// different, each with a 100-point curve with a little noise on it and the
// reference it was compared with, the same in every run (one signature).
inline Run makeRun(const Run &blank, int index, int curvePoints, const QDateTime &started)
{
    Run run = blank;
    run.uuid = QUuid::createUuid();
    run.boardSerial = QStringLiteral("SN%1").arg(index % 1000, 4, 10, QLatin1Char('0'));
    run.started = started;
    run.finished = started.addSecs(90);
    run.verdict = QLatin1String(index % 9 == 0 ? "fail" : "pass");
    for (int k = 0; k < int(run.points.size()); ++k) {
        PointResult &p = run.points[std::size_t(k)];
        const bool bad = index % 9 == 0 && (k * 7 + index) % 50 < 3;
        p.verdict = QLatin1String(bad ? "different" : "pass");
        p.score = bad ? 30.0 + k : 0.5 + (index * 31 + k) % 40 / 10.0;
        p.volts.clear();
        p.milliamps.clear();
        p.refVolts.clear();
        p.refMilliamps.clear();
        for (int i = 0; i < curvePoints; ++i) {
            const double v = 5 * std::sin(6.2832 * i / curvePoints);
            p.volts.push_back(v + 0.002 * ((i * 7919 + index) % 11));
            p.milliamps.push_back(v / (1 + k % 5) + 0.003 * ((i * 104729 + index) % 17));
            p.refVolts.push_back(v + 0.002 * ((i * 7919 + k) % 11));
            p.refMilliamps.push_back(v / (1 + k % 5) + 0.003 * ((i * 104729 + k) % 17));
        }
    }
    return run;
}

// A run of board type "bench" with points R1, R2, ... and nothing measured.
inline Run blankRun(int points = 50)
{
    Run run;
    run.boardType = QStringLiteral("bench");
    run.operatorName = QStringLiteral("bench");
    run.signature = QStringLiteral("bench.json");
    for (int k = 0; k < points; ++k) {
        PointResult p;
        p.name = QStringLiteral("R%1").arg(k + 1);
        p.tolerance = 10;
        p.reading = QStringLiteral("resistor, 1.00 kΩ");
        run.points.push_back(p);
    }
    return run;
}

} // namespace zem::history
