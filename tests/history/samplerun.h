// A run to record: points P0, P1, ... with sine curves, every seventh
// point different; each point's reference is the same in every run.
#pragma once

#include "run.h"

#include <cmath>

inline zem::history::Run sampleRun(const QString &board, int points, int curvePoints)
{
    zem::history::Run run;
    run.boardType = board;
    run.boardSerial = QStringLiteral("SN-%1").arg(run.uuid.toString(QUuid::Id128).left(6));
    run.operatorName = QStringLiteral("test");
    run.started = QDateTime::currentDateTimeUtc();
    run.finished = run.started.addSecs(60);
    run.verdict = QStringLiteral("pass");
    run.signature = board + QStringLiteral(".json");
    for (int k = 0; k < points; ++k) {
        zem::history::PointResult p;
        p.name = QStringLiteral("P%1").arg(k);
        p.verdict = QLatin1String(k % 7 == 3 ? "different" : "pass");
        p.score = k % 7 == 3 ? 25.0 : 1.5;
        p.tolerance = 10;
        p.reading = QStringLiteral("resistor, 1.00 kΩ");
        for (int i = 0; i < curvePoints; ++i) {
            p.volts.push_back(5 * std::sin(i * 0.0628));
            p.milliamps.push_back(p.volts.back() + 0.001 * ((i * 7919 + k) % 13));
            p.refVolts.push_back(p.volts.back());
            p.refMilliamps.push_back(p.volts.back() + 0.001 * k);
        }
        run.points.push_back(std::move(p));
    }
    return run;
}
