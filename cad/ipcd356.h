// IPC-D-356 and IPC-D-356A netlists as CAD tools write them: fixed-column
// records of 80 characters, the test records (317 through-hole, 327 surface,
// 367 tooling hole) and the board's outline (389 BOARD_EDGE). Coordinates
// come back in millimetres whatever units the file uses.
#pragma once

#include "cadtext.h"

#include <QPointF>
#include <QString>

#include <optional>
#include <vector>

namespace cad {

struct TestRecord
{
    int line = 0; // in the file, for messages
    int type = 0; // 317, 327 or 367
    QString net; // empty when the record names none
    QString refdes; // "U1", "TP3"
    QString pin; // "3", empty for a test point or hole without one
    bool midpoint = false; // a via or other point along the net, not an end
    std::optional<double> holeMm; // drill diameter
    Side side = Side::Top; // A00 (both sides) is reached from the top
    QPointF mm;
    std::optional<QPointF> sizeMm; // the feature's width and height
    std::optional<double> rotation; // degrees
    std::optional<int> soldermask;
};

struct Netlist
{
    Unit unit = Unit::Inch; // as the file said, else as assumed
    std::vector<TestRecord> records; // vias (refdes "VIA") are left out
    std::vector<QPointF> outline; // mm; empty when the file has none
};

// A point's name from a test record: "U1.3", or "TP4" for a pin-less record.
QString pointName(const TestRecord &r);

// Reads the netlist; unitsIfUnsaid is taken when the file has no UNITS line
// (the format's own default is inches). A file without its end record (999)
// is refused as cut short. Errors name the file and line.
std::optional<Netlist> readIpcD356(const QByteArray &bytes, const QString &file,
    QString *error, std::optional<Unit> unitsIfUnsaid = std::nullopt);
std::optional<Netlist> readIpcD356File(
    const QString &path, QString *error, std::optional<Unit> unitsIfUnsaid = std::nullopt);

// Whether the bytes look like an IPC-D-356 file: its first record is a
// comment, a parameter or a 3xx record.
bool looksLikeIpcD356(const QByteArray &bytes);

} // namespace cad
