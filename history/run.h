// One board run as the history keeps it: who tested which board where and
// when, the overall verdict, and every probed point with its curve.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>
#include <vector>

namespace zem::history {

struct PointResult
{
    QString name;
    // "pass", "different", "unstable", "not_learned", "no_contact" or
    // "net_disagrees" (sig::Verdict)
    QString verdict;
    std::optional<double> score; // percent; none when nothing was compared
    double tolerance = 0; // percent
    QString causeClass; // null when no cause was found
    QString causeText; // null when no cause was found
    QString reading; // e.g. "resistor, 1.00 kΩ"
    std::vector<double> volts;
    std::vector<double> milliamps;
    // The reference the curve was compared against; empty when there is none.
    std::vector<double> refVolts;
    std::vector<double> refMilliamps;
    // The point is for information only: shown, never counted as a failure.
    bool info = false;
};

struct Run
{
    QUuid uuid = QUuid::createUuid();
    QString boardType;
    QString boardSerial;
    QString station = defaultStation();
    QString operatorName;
    QDateTime started; // UTC, millisecond resolution
    QDateTime finished;
    // The board's verdict: "pass", "fail", "unstable", "no_contact" or
    // "partial" (sig::BoardVerdictKind); runs kept before partial and
    // no-contact runs had words of their own say "fail" for both.
    QString verdict;
    // A partial run: the board's points it did not test, and why it stopped
    // ("" when it was not stopped: a subset, a resumed run).
    QStringList untested;
    QString stopReason;
    QString signature; // the signature file or name the board was tested against
    int boards = 1; // boards tested together in this run
    std::vector<PointResult> points;

    static QString defaultStation();
};

// Whether a stored point verdict is a failure of the point (sig::isFaulty):
// every verdict but pass and not_learned, including one added later until
// verdict.h gives it its row; a point for information only never fails. A
// point never learned says nothing about the board and is not counted as
// tested.
bool isFailure(const QString &verdict, bool info = false);
bool isTested(const QString &verdict);

// What a runs filter may name: a run's verdict ("pass", "fail", "unstable",
// "no_contact", "partial"), or a point's that no run has ("different",
// "not_learned", "net_disagrees"), which selects the runs with such a point
// that is not for information only.
enum class VerdictKind { Unknown, Run, Point };
VerdictKind verdictKind(const QString &verdict);
// A verdict, a run's or a point's, as people read it in tables: "pass",
// "FAIL", "no contact", "net disagrees", "partial"; any other as it is.
QString verdictWords(const QString &verdict);

// The most points a curve of a stored run may have, volts and milliamps each.
inline constexpr std::size_t kMaxCurvePoints = 1'000'000;

// The stored form of a curve, in qCompress's format (qUncompress reads it):
// a little-endian header (format byte 1, the uint32 counts of volts and of
// milliamps), then the volts followed by the milliamps as IEEE float32,
// byte-shuffled: the lowest byte of every value, then the next byte of every
// value, and so on. The instrument measures in float32, so nothing is lost.
QByteArray packCurve(const std::vector<double> &volts, const std::vector<double> &milliamps);
// False (and both vectors empty) for anything packCurve did not make, and for
// anything that would unpack past kMaxCurvePoints.
bool unpackCurve(
    const QByteArray &packed, std::vector<double> *volts, std::vector<double> *milliamps);
// SHA-256 in hex of the curve's values as packCurve keeps them (float32),
// before compression: the same curve has the same digest whatever zlib
// packed it.
QString curveDigest(const std::vector<double> &volts, const std::vector<double> &milliamps);

} // namespace zem::history
