// The curve as files people keep. Each writer replaces the file atomically:
// on any failure the file keeps what it had and the error text says why.
#pragma once

#include <QByteArray>
#include <QString>

struct Curve;

// Comment lines ("# key: value") with the start time and the settings, then
// a header row with the units, then one row per point:
// index,time_ms,voltage_V,current_mA. Unread points have empty cells.
QByteArray curveCsv(const Curve &curve);

// The layout zem_example writes to results.json: "voltage" and "current"
// arrays of "%f" numbers (null for an unread point), then the unit names.
QByteArray curveJson(const Curve &curve);

