// A self-contained HTML report of a board test: the board, the date, the
// settings and a table of points with score and verdict; each point that is
// different or not learned also gets an inline SVG plot of its curves, and
// a board with a picture shows it with every point's marker.
#pragma once

#include "session.h"

#include <QDateTime>

namespace zem {
class Connection;
}

namespace sig {

// Who tested which board where, with what and when: the report's header.
struct ReportInfo
{
    QString serial; // the board's
    QString operatorName;
    QString station; // the host name when empty
    QString instrument; // the instrument's identity, see instrumentIdentity()
    QDateTime started; // the test's own start and end, shown with their time zone
    QDateTime finished;
};

// "serial 1234567, firmware 1.2.3" from get_identity_information; empty when
// the call fails, so a report never waits on a lost device.
QString instrumentIdentity(zem::Connection &device);
// The instrument's serial number alone; empty when the call fails.
QString instrumentSerial(zem::Connection &device);

// A time as the report shows it: local, with its offset and zone name.
QString reportTime(const QDateTime &when);

QByteArray htmlReport(
    const Signature &signature, const std::vector<PointResult> &results, const ReportInfo &info);

// An SVG plot of the reference (if any) and the test curve, in a frame that
// holds both, with its axes and their ranges.
QString svgPlot(const IvCurve *reference, const IvCurve &test);

// The board's picture with a marker on every placed point in its verdict's
// colour, each flagged marker a link to the point's plot; empty without a
// picture.
QString svgBoard(const Signature &signature, const std::vector<PointResult> &results);

// Writes the report atomically.
bool writeReport(const Signature &signature, const std::vector<PointResult> &results,
    const ReportInfo &info, const QString &path, QString *error);

} // namespace sig
