// A board's signature: the points to probe, the settings to probe them with
// and, once learned, each point's reference curves. Read and written as JSON
// (format described in docs/test-engineer.md, "Signature files").
#pragma once

#include "ivcurve.h"
#include "zem.h"

#include <QByteArray>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

namespace sig {

// Version 2 adds references from several boards ("references") and groups;
// a file that uses neither is written as version 1, which older programs read.
// Board positions ("mm", "side", "fiducials") need no new version: a program
// that does not know them tests the board as well, only without them.
// Version 3 adds a point's variants and its check: an older program would
// fail a board built with a second source's part, or probe a point marked
// to skip, so it must refuse such a file rather than test by it. A file is
// written as the lowest version that holds what it uses.
inline constexpr int kFormatVersion = 3;
inline constexpr double kDefaultTolerance = 10.0; // percent
// Of a point whose references are predicted from the CAD: a model is
// further from a real board than another good board is.
inline constexpr double kDefaultPredictionTolerance = 25.0; // percent

// One measurement of a point: its own settings (else the board's) and the
// reference curve once learned: the first good board's, and those of the good
// boards learned after it (at most kMaxReferences in all).
struct Measurement
{
    std::optional<measurement_settings> settings;
    std::optional<IvCurve> reference;
    std::vector<IvCurve> moreBoards;

    // Every good board's curve, the first one first.
    std::vector<IvCurve> references() const;
    // Adds a good board's curve; beyond the limit the oldest but the first goes.
    void addReference(IvCurve curve);
};

// Another build of a good board at a point: a second source's part, a
// jumper set the other way. Its measurements pair with the point's, by
// index, and are measured with their settings: only their references count.
struct Variant
{
    QString name; // unique among the point's variants, e.g. "maker B"
    std::vector<Measurement> measurements;
};

// What a test does with a point. Info: measured and scored, shown, but its
// verdict never fails the board (a potentiometer, a jumper, a switch).
// Skip: neither learned nor tested.
enum class Check { Test, Info, Skip };

// "test", "info", "skip": the file's words.
const char *checkName(Check check);

// Which side of the board a point is probed from.
enum class Side { Top, Bottom };

// What a two-pin part between a point and its partner should measure, from
// the board's BOM: "ohms", "farads" or "henries", and the value in them;
// or "open" (value 0): a pin that reads open on a good board, which a learn
// takes as it is.
struct Expected
{
    QString quantity;
    double value = 0;
    bool operator==(const Expected &o) const { return quantity == o.quantity && value == o.value; }
};

struct Point
{
    QString name;
    std::optional<double> tolerance; // percent; else the board's
    std::vector<Measurement> measurements = std::vector<Measurement>(1);
    QString group; // points that should look alike share one, e.g. "D" for a bus
    std::optional<QPointF> at; // where the point is on the board's picture, in its pixels
    QString component; // the part whose pin it is ("U1"), or empty
    // Where the point is on the board, in millimetres: origin at the board's
    // lower-left corner, y up, as CAD tools give it. A machine probes there.
    std::optional<QPointF> mm;
    std::optional<Side> side; // none when the file does not say
    // The net the point is on, from the board's CAD ("GND", "/SDA"), or
    // empty. Points of one net must read alike.
    QString net;
    std::optional<Expected> expect; // JSON "expect": {"ohms": 4700}
    Check check = Check::Test;
    // The version of the models its references were predicted with; empty
    // when they were learned from a board (JSON "origin": "predicted").
    QString predictedBy;
    bool predicted() const { return !predictedBy.isEmpty(); }
    // A point matches its own references or any of these; learned only once
    // it has references of its own.
    std::vector<Variant> variants;
    // The index of the variant of that name, or -1.
    int findVariant(const QString &name) const;
    // What a resistor should read in circuit, from the bill of materials.
    std::optional<double> expectedOhms() const
    {
        return expect && expect->quantity == QLatin1String("ohms") ? std::optional(expect->value)
                                                                   : std::nullopt;
    }

    bool learned() const;
    // How many good boards its references come from (the fewest of its
    // measurements'), 0 when not learned.
    int boards() const;
};

// A picture of the board, kept as its file's bytes so that the signature
// stays one file and the picture is never encoded twice.
struct Picture
{
    QByteArray type; // "image/png" or "image/jpeg"
    QByteArray data;
    QSize size; // in pixels, read from the data's header
};

// The picture in these bytes, when they are a PNG or JPEG file with a size;
// else nothing, and *error says why.
std::optional<Picture> pictureFromData(const QByteArray &data, QString *error);

// A photo's file is megabytes; more than this is no photo (or never ends).
inline constexpr std::size_t kMaxPictureFileSize = std::size_t(64) << 20;
// Empty when the picture can be decoded to be shown, else why not: decoded,
// it must fit the image reader's allocation limit of 256 MiB.
QString checkPictureSize(const Picture &picture);
// The one way a board's picture is taken from a file (the window, zemctl):
// read up to kMaxPictureFileSize, a PNG or JPEG that can be shown. Else
// nothing, and *error names the file and says why.
std::optional<Picture> readPicture(const QString &path, QString *error);

// Whether a place on the picture can be kept: both coordinates finite.
inline bool isPlace(const QPointF &at)
{
    return std::isfinite(at.x()) && std::isfinite(at.y());
}

// A mark on the board at a known position, to register the photo with:
// where it is on the board and, once clicked, where it is on the photo.
struct Fiducial
{
    QString name;
    QPointF mm;
    std::optional<QPointF> px;
    // Where a probing machine found it (its X and Y, mm), taught by jogging
    // to it: it places the board on that machine.
    std::optional<QPointF> machine;
};

// A part of the board as its CAD gives it: every pad of the netlist (a
// point or not) and the BOM's value, which a prediction builds its circuit
// from.
struct Pad
{
    QString pin; // "1", "B"
    QString net; // empty when on none
};

struct Part
{
    QString refdes;
    QString value; // as the BOM gives it, else empty
    std::vector<Pad> pads;
    // From a position file: the part's centre (board mm) and, where the file
    // gives one, its height above the board (mm), which a machine keeps
    // clear of when it goes from point to point.
    std::optional<QPointF> mm;
    std::optional<double> height;
};

// A board registers its photo with two or three fiducials.
inline constexpr std::size_t kMaxFiducials = 3;

struct Signature
{
    QString board;
    std::optional<Picture> image;
    measurement_settings settings {};
    double tolerance = kDefaultTolerance;
    double predictionTolerance = kDefaultPredictionTolerance; // of predicted points
    std::vector<Point> points;
    std::vector<Part> parts; // from the netlist and BOM; empty without them
    // The net the probe's return is on; empty for "GND".
    QString common;
    std::vector<Fiducial> fiducials; // at most kMaxFiducials, names unique
    // The board's edge in mm, as its CAD gives it (a closed polygon, the
    // last corner joined to the first); empty when unknown.
    std::vector<QPointF> outline;
    // What reading the file let go of, for the user; never written. A point
    // whose place is not two numbers is read unplaced: its references stay
    // usable.
    QStringList warnings;

    double toleranceOf(const Point &p) const
    {
        return p.tolerance.value_or(p.predicted() ? predictionTolerance : tolerance);
    }
    QString commonNet() const { return common.isEmpty() ? QStringLiteral("GND") : common; }
    const measurement_settings &settingsOf(const Point &p, std::size_t measurement) const;
    // The index of the point of that name, or -1.
    int find(const QString &name) const;
    // The points a test or learn probes: all but those marked to skip.
    std::vector<int> probedPoints() const;
    // The order without the points marked to skip.
    std::vector<int> withoutSkipped(std::vector<int> order) const;
    // The index of the fiducial of that name, or -1.
    int findFiducial(const QString &name) const;
};

// The settings a new signature starts from: the instrument's defaults.
measurement_settings defaultSettings();
// Empty when the settings are ones an instrument accepts, else what is wrong.
QString checkSettings(const measurement_settings &s);

// Parses a signature file's text. On error returns nothing and sets *error to
// a message that names the point and field at fault.
std::optional<Signature> parse(const QByteArray &json, QString *error);
QByteArray serialize(const Signature &signature);

// Reads the file; an error names the file, and the point and field.
std::optional<Signature> load(const QString &path, QString *error);
// Writes the file atomically: a failure leaves any old file as it was.
bool save(const Signature &signature, const QString &path, QString *error);

// Names from pasted text: one per line or separated by commas, trimmed,
// empty ones dropped.
QStringList splitNames(const QString &text);

// Empty when the text can name a point, else why not. A control character
// (a NUL, a line break) is refused wherever a name comes in: a database
// server cannot store a NUL, and a report or a log line would be broken.
QString checkPointName(const QString &name);

} // namespace sig
