#include "ipcd356.h"

#include <QHash>
#include <QSet>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace cad {
namespace {


// Columns as the format numbers them, from 1; past the line's end is blank.
QByteArrayView columns(QByteArrayView line, int first, int last)
{
    if (line.size() < first)
        return {};
    return line.sliced(first - 1, std::min<qsizetype>(last - first + 1, line.size() - first + 1));
}

QString text(QByteArrayView line, int first, int last)
{
    // Trimmed as text: a Latin-1 no-break space is a blank too.
    return QString::fromLatin1(columns(line, first, last)).trimmed();
}

bool allDigits(QByteArrayView digits)
{
    return !digits.isEmpty()
        && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A signed coordinate: '+', '-' or a blank, then digits.
double signedValue(QByteArrayView field, int line, const char *what)
{
    const char sign = field.isEmpty() ? ' ' : field[0];
    const QByteArrayView digits = field.isEmpty() ? field : field.sliced(1).trimmed();
    if ((sign != '+' && sign != '-' && sign != ' ') || !allDigits(digits))
        fail(line,
            QStringLiteral("expected %1 as a sign and digits, found \"%2\"")
                .arg(QLatin1String(what), QString::fromLatin1(field)));
    const double v = digits.toDouble();
    return sign == '-' ? -v : v;
}

// A coordinate's counts in mm, refused when they land past any board.
double countsToMm(double counts, double mmPerCount, int line, const char *what)
{
    const double mm = counts * mmPerCount;
    if (!onAnyBoard(mm))
        fail(line,
            QStringLiteral("%1 %2 mm is out of range: expected at most %3 mm from the origin")
                .arg(QLatin1String(what))
                .arg(mm)
                .arg(kMaxCoordinateMm));
    return mm;
}

struct Units
{
    Unit unit = Unit::Inch;
    double mmPerCount = 0.0001 * 25.4;
};

// The counts each unit system's coordinates are in: 0.0001 in, 0.001 mm, 1 mil.
Units unitsOf(Unit unit)
{
    return { unit, unit == Unit::Inch ? 0.0001 * 25.4 : unit == Unit::Mm ? 0.001 : 0.0254 };
}

void readUnits(QByteArrayView line, int number, Units &units)
{
    const QStringList words
        = QString::fromLatin1(columns(line, 4, int(line.size()))).simplified().split(QLatin1Char(' '));
    const QString said = words.mid(1).join(QLatin1Char(' ')).toUpper();
    if (said == QLatin1String("CUST 0") || said == QLatin1String("ENG")
        || said == QLatin1String("CUST"))
        units = unitsOf(Unit::Inch);
    else if (said == QLatin1String("CUST 1") || said == QLatin1String("SI"))
        units = unitsOf(Unit::Mm);
    else if (said == QLatin1String("CUST 2"))
        units = unitsOf(Unit::Mil);
    else
        fail(number,
            QStringLiteral("unknown units \"%1\": expected CUST 0, CUST 1, CUST 2, SI or ENG")
                .arg(said));
}

// X and Y pairs of an outline's series, "X+012345Y-000100" with blanks between.
void readSeries(QByteArrayView series, int number, double mmPerCount,
    std::vector<QPointF> &outline)
{
    static const QRegularExpression pair(QStringLiteral("^X([+\\-]?\\d{1,9})Y([+\\-]?\\d{1,9})$"));
    static const QRegularExpression blank(QStringLiteral("\\s"));
    const QStringList parts
        = QString::fromLatin1(series).remove(blank).split(QLatin1Char('X'), Qt::SkipEmptyParts);
    for (const QString &p : parts) {
        const auto m = pair.match(QLatin1Char('X') + p);
        if (!m.hasMatch())
            fail(number, QStringLiteral("expected X and Y coordinates as signs and digits, found "
                                        "\"X%1\"")
                             .arg(p));
        outline.emplace_back(countsToMm(m.captured(1).toDouble(), mmPerCount, number, "X"),
            countsToMm(m.captured(2).toDouble(), mmPerCount, number, "Y"));
    }
}

void readTest(QByteArrayView line, int number, double mmPerCount, TestRecord &r)
{
    r.line = number;
    if (line.size() < 57)
        fail(number,
            QStringLiteral("truncated record: expected X and Y coordinates in columns 42-57"));
    r.type = columns(line, 1, 3).toInt();
    r.net = text(line, 4, 17);
    r.refdes = text(line, 21, 26);
    r.pin = text(line, 28, 31);
    r.midpoint = columns(line, 32, 32) == "M";
    const QByteArrayView hole = columns(line, 33, 38);
    if (hole.startsWith('D')) {
        const QByteArrayView diameter = columns(hole, 2, 5);
        if (!allDigits(diameter))
            fail(number, QStringLiteral("expected the hole's diameter as D and 4 digits"));
        r.holeMm = diameter.toDouble() * mmPerCount;
    }
    const QByteArrayView access = columns(line, 39, 41);
    // A through hole written without an access code is reached from both sides.
    if (access == "A00" || access == "A01" || access.trimmed().isEmpty())
        r.side = Side::Top;
    else if (access == "A02")
        r.side = Side::Bottom;
    else
        fail(number,
            QStringLiteral("expected the access side A00, A01 or A02 in columns 39-41, found "
                           "\"%1\"")
                .arg(QString::fromLatin1(access)));
    if (line[41] != 'X' || line[49] != 'Y')
        fail(number, QStringLiteral("expected X in column 42 and Y in column 50"));
    r.mm = QPointF(
        countsToMm(signedValue(columns(line, 43, 49), number, "X"), mmPerCount, number, "X"),
        countsToMm(signedValue(columns(line, 51, 57), number, "Y"), mmPerCount, number, "Y"));
    // The feature's size, rotation and soldermask are read when they are there.
    const auto after = [](QByteArrayView field) { return columns(field, 2, int(field.size())); };
    const QByteArrayView sx = columns(line, 58, 62), sy = columns(line, 63, 67);
    if (sx.startsWith('X') && allDigits(after(sx)))
        r.sizeMm = QPointF(after(sx).toDouble() * mmPerCount,
            sy.startsWith('Y') && allDigits(after(sy)) ? after(sy).toDouble() * mmPerCount : 0);
    const QByteArrayView rot = columns(line, 68, 71);
    if (rot.startsWith('R') && allDigits(after(rot)))
        r.rotation = after(rot).toDouble();
    const QByteArrayView mask = columns(line, 73, 74);
    if (mask.startsWith('S') && allDigits(after(mask)))
        r.soldermask = after(mask).toInt();
}

Netlist read(const QByteArray &bytes, std::optional<Unit> unitsIfUnsaid)
{
    // The format's default is inches.
    Units units = unitsOf(unitsIfUnsaid.value_or(Unit::Inch));
    Netlist out;
    QHash<QString, QString> aliases; // NNAME1 to the net's whole name
    QHash<QString, int> names; // point name to the line it was first given on
    QSet<QString> nets;
    QString lastPart;
    int previous = 0; // the type of the record a continuation continues, 0 for none
    bool inOutline = false;
    int outlineLine = 0;
    int number = 0;
    bool ended = false;
    for (const QByteArrayView line : lineViews(bytes)) {
        ++number;
        if (line.trimmed().isEmpty() || ended)
            continue;
        const char kind = line[0];
        if (kind == 'C')
            continue;
        if (kind == 'P') {
            // Parameters: only the units matter, and they must come before
            // any coordinate.
            const QString parameter
                = QString::fromLatin1(columns(line, 4, int(line.size()))).simplified();
            if (parameter.startsWith(QLatin1String("NNAME"), Qt::CaseInsensitive)) {
                // A long net name, given once; records carry its short alias.
                const qsizetype blank = parameter.indexOf(QLatin1Char(' '));
                if (blank > 0)
                    aliases.insert(parameter.left(blank), parameter.mid(blank + 1));
            } else if (parameter.startsWith(QLatin1String("UNITS"), Qt::CaseInsensitive)) {
                if (!out.records.empty() || !out.outline.empty())
                    fail(number, QStringLiteral("the units must be given before any record"));
                readUnits(line, number, units);
            }
            continue;
        }
        if (line.startsWith("999")) {
            ended = true;
            continue;
        }
        if (kind == '0') {
            if (previous == 0)
                fail(number, QStringLiteral("a continuation record with no record before it"));
            if (inOutline)
                readSeries(columns(line, 4, int(line.size())), number, units.mmPerCount,
                    out.outline);
            continue;
        }
        if (line.size() < 3 || !allDigits(line.first(3)))
            fail(number,
                QStringLiteral("expected a record type (C, P, 3xx, 0xx continuation or 999), "
                               "found \"%1\"")
                    .arg(QString::fromLatin1(columns(line, 1, 20))));
        previous = line.first(3).toInt();
        inOutline = false;
        if (previous == 317 || previous == 327 || previous == 367) {
            TestRecord r;
            readTest(line, number, units.mmPerCount, r);
            // A board has few nets and a part few pins: their names are
            // held once, not once a record.
            r.net = *nets.insert(r.net);
            if (r.refdes == lastPart)
                r.refdes = lastPart;
            lastPart = r.refdes;
            // A via is no part's pin, and an unnamed tooling hole no point.
            if (r.refdes.compare(QLatin1String("VIA"), Qt::CaseInsensitive) == 0
                || (r.refdes.isEmpty() && r.type == 367))
                continue;
            if (r.refdes.isEmpty())
                fail(number, QStringLiteral("expected a reference designator in columns 21-26"));
            const QString name = pointName(r);
            if (const auto first = names.constFind(name); first != names.constEnd())
                fail(number,
                    QStringLiteral("a second test point %1 (the first is on line %2)")
                        .arg(name)
                        .arg(*first));
            names.insert(name, number);
            out.records.push_back(std::move(r));
        } else if (previous == 389 && text(line, 4, 17).toUpper() == QLatin1String("BOARD_EDGE")) {
            if (!out.outline.empty())
                fail(number, QStringLiteral("a second board outline"));
            inOutline = true;
            outlineLine = number;
            readSeries(columns(line, 18, int(line.size())), number, units.mmPerCount, out.outline);
        }
        // Other records (conductors, other outlines) do not make points.
    }
    // Without its end record a file may have been cut short, its last
    // points missing.
    if (!ended)
        fail(number, QStringLiteral("the end record (999) is missing: the file may be cut short"));
    out.unit = units.unit;
    for (TestRecord &r : out.records)
        r.net = aliases.value(r.net, r.net);
    if (!out.outline.empty()) {
        if (out.outline.size() < 3)
            fail(outlineLine, QStringLiteral("a board outline needs at least 3 points"));
        double left = out.outline[0].x(), right = left, bottom = out.outline[0].y(), top = bottom;
        for (const QPointF &p : out.outline) {
            left = std::min(left, p.x());
            right = std::max(right, p.x());
            bottom = std::min(bottom, p.y());
            top = std::max(top, p.y());
        }
        constexpr double kSlack = 1e-6;
        for (const TestRecord &r : out.records)
            if (r.mm.x() < left - kSlack || r.mm.x() > right + kSlack
                || r.mm.y() < bottom - kSlack || r.mm.y() > top + kSlack)
                fail(r.line,
                    QStringLiteral("%1 at (%2, %3) mm is off the board (%4 to %5, %6 to %7 mm)")
                        .arg(pointName(r))
                        .arg(r.mm.x())
                        .arg(r.mm.y())
                        .arg(left)
                        .arg(right)
                        .arg(bottom)
                        .arg(top));
    }
    return out;
}

} // namespace

QString pointName(const TestRecord &r)
{
    return r.pin.isEmpty() ? r.refdes : r.refdes + QLatin1Char('.') + r.pin;
}

std::optional<Netlist> readIpcD356(const QByteArray &bytes, const QString &file,
    QString *error, std::optional<Unit> unitsIfUnsaid)
{
    try {
        return read(bytes, unitsIfUnsaid);
    } catch (const Failure &f) {
        *error = failure(file, f.line, f.what);
        return std::nullopt;
    }
}

std::optional<Netlist> readIpcD356File(
    const QString &path, QString *error, std::optional<Unit> unitsIfUnsaid)
{
    const auto bytes = readCadFile(path, error);
    if (!bytes)
        return std::nullopt;
    return readIpcD356(*bytes, path, error, unitsIfUnsaid);
}

bool looksLikeIpcD356(const QByteArray &bytes)
{
    const QByteArray head = bytes.left(4096);
    for (const QByteArrayView line : lineViews(head)) {
        if (line.trimmed().isEmpty())
            continue;
        return line.startsWith("C ") || line.startsWith("P ") || line == "C"
            || (line.size() >= 3 && line[0] == '3' && allDigits(line.first(3)));
    }
    return false;
}

} // namespace cad
