// The curve as files people keep. Each writer replaces the file atomically:
// on any failure the file keeps what it had and the error text says why.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

struct Curve;

// Comment lines ("# key: value") with the start time and the settings, then
// a header row with the units, then one row per point:
// index,time_ms,voltage_V,current_mA. Unread points have empty cells.
QByteArray curveCsv(const Curve &curve);

// The layout zem_example writes to results.json: "voltage" and "current"
// arrays of "%f" numbers (null for an unread point), then the unit names.
QByteArray curveJson(const Curve &curve);

// Several curves in one file (the latest, the page's, the held ones), with
// what they were measured on: the device's URL and, when it was read, its
// serial number. Settings name their named values (CURRENT_SENSE_MODE_I_MID).
struct CurveSource
{
    QString url; // empty when not known
    std::optional<std::uint32_t> serialNumber;
};
struct NamedCurve
{
    QString name;
    const Curve *curve = nullptr;
};

// "# key: value" lines for the source and each curve ("# curve 2: name",
// "# curve 2 settings: Field=value ..."), then one row per point of every
// curve: curve,index,time_ms,voltage_V,current_mA.
QByteArray curvesCsv(const std::vector<NamedCurve> &curves, const CurveSource &source);
// {"url", "serial_number", "curves": [{"name", "started", "complete",
// "settings", "voltage", "current"}], "voltage_units", "current_units"}.
QByteArray curvesJson(const std::vector<NamedCurve> &curves, const CurveSource &source);
