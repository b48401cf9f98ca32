#include "bom.h"

#include <QHash>
#include <QRegularExpression>

#include <cmath>

namespace cad {
namespace {

std::optional<double> prefix(QChar c)
{
    switch (c.unicode()) {
    case 'p':
        return 1e-12;
    case 'n':
        return 1e-9;
    case 'u':
    case 0x00b5: // micro sign
    case 0x03bc: // Greek mu
        return 1e-6;
    case 'm':
        return 1e-3;
    case 'R':
    case 'r':
        return 1.0;
    case 'k':
    case 'K':
        return 1e3;
    case 'M':
        return 1e6;
    case 'G':
        return 1e9;
    default:
        return std::nullopt;
    }
}

std::optional<Quantity> quantityOfDesignator(const QString &refdes)
{
    static const QRegularExpression letters(QStringLiteral("^([A-Za-z]+)"));
    const QString l = letters.match(refdes).captured(1).toUpper();
    if (l == QLatin1String("R") || l == QLatin1String("RN"))
        return Quantity::Ohms;
    if (l == QLatin1String("C"))
        return Quantity::Farads;
    if (l == QLatin1String("L"))
        return Quantity::Henries;
    return std::nullopt;
}

// "R1, R2 R5", "R1-R4": a range keeps its letters and counts its number.
// The row is refused when it would bring the file's designators (`before`
// of them on the rows above) past `most`: a file of long ranges must not
// take all memory.
void designators(
    const QString &cell, int line, std::size_t before, std::size_t most, QStringList &out)
{
    static const QRegularExpression range(QStringLiteral("^([A-Za-z_]+)(\\d+)-\\1?(\\d+)$"));
    const auto separator
        = [](QChar c) { return c == QLatin1Char(',') || c == QLatin1Char(';') || c.isSpace(); };
    const auto tooMany = [&] {
        fail(line,
            QStringLiteral("more than %1 designators in all, the most a BOM may list").arg(most));
    };
    const QStringView all(cell);
    for (qsizetype at = 0; at < all.size();) {
        if (separator(all[at])) {
            ++at;
            continue;
        }
        qsizetype end = at;
        while (end < all.size() && !separator(all[end]))
            ++end;
        const QString d = all.mid(at, end - at).toString();
        at = end;
        const auto m = range.match(d);
        if (!m.hasMatch()) {
            if (before + std::size_t(out.size()) >= most)
                tooMany();
            out << d;
            continue;
        }
        const int first = m.captured(2).toInt(), last = m.captured(3).toInt();
        if (last < first || last - first > 10000)
            fail(line, QStringLiteral("expected a range such as R1-R4, found \"%1\"").arg(d));
        if (before + std::size_t(out.size()) + std::size_t(last - first) + 1 > most)
            tooMany();
        for (int k = first; k <= last; ++k)
            out << m.captured(1) + QString::number(k);
    }
}

// A value as written, its number unchecked; nothing when it is no value.
std::optional<Value> readValue(const QString &value, const QString &refdes)
{
    // digits, an optional prefix or R in place of the point, digits, a unit.
    static const QRegularExpression form(QStringLiteral(
        "^([+\\-]?)(\\d+(?:\\.\\d+)?|\\.\\d+)\\s*([pnuµμmRrkKMG])?(\\d*)\\s*(ohms?|Ω|F|H)?$"));
    const auto m = form.match(value.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QString p = m.captured(3), tail = m.captured(4), unit = m.captured(5);
    if (!tail.isEmpty() && (p.isEmpty() || m.captured(2).contains(QLatin1Char('.'))))
        return std::nullopt; // "4.7k7", "47 7"
    double v = (m.captured(2) + (tail.isEmpty() ? QString() : QLatin1Char('.') + tail)).toDouble();
    if (!p.isEmpty())
        v *= *prefix(p[0]);
    if (m.captured(1) == QLatin1String("-"))
        v = -v;
    std::optional<Quantity> q;
    if (unit == QLatin1String("F"))
        q = Quantity::Farads;
    else if (unit == QLatin1String("H"))
        q = Quantity::Henries;
    else if (!unit.isEmpty() || p == QLatin1String("R") || p == QLatin1String("r"))
        q = Quantity::Ohms;
    const auto byDesignator = quantityOfDesignator(refdes);
    if (!byDesignator || (q && q != byDesignator))
        return std::nullopt;
    return Value { v, *byDesignator };
}

// What a part can be: a femto- to a peta- ohm, farad or henry, or a 0 ohm
// jumper, which real BOMs list. Any other zero, a negative value or one of
// 300 digits is a mistake in the BOM, and would make every reading look off.
bool plausible(const Value &v)
{
    if (v.number == 0)
        return v.quantity == Quantity::Ohms;
    return std::isfinite(v.number) && v.number >= kMinValue && v.number <= kMaxValue;
}

} // namespace

QString quantityName(Quantity q)
{
    switch (q) {
    case Quantity::Farads:
        return QStringLiteral("farads");
    case Quantity::Henries:
        return QStringLiteral("henries");
    case Quantity::Ohms:
        break;
    }
    return QStringLiteral("ohms");
}

std::optional<Quantity> quantityNamed(const QString &name)
{
    for (const Quantity q : { Quantity::Ohms, Quantity::Farads, Quantity::Henries })
        if (quantityName(q) == name)
            return q;
    return std::nullopt;
}

std::optional<Value> parseValue(const QString &value, const QString &refdes)
{
    const auto v = readValue(value, refdes);
    if (!v || !plausible(*v))
        return std::nullopt;
    return v;
}

namespace {

std::vector<BomLine> read(const QByteArray &bytes, std::size_t most)
{
    const QList<QByteArray> all = lines(bytes);
    int refCol = -1, valueCol = -1;
    char delimiter = ',';
    std::vector<BomLine> out;
    QHash<QString, int> seen;
    QStringList refs;
    for (int k = 0; k < all.size(); ++k) {
        const QByteArray line = all[k].trimmed();
        if (line.isEmpty())
            continue;
        if (refCol < 0) {
            // Titles before the header are passed over.
            delimiter = csvDelimiter(line);
            const QStringList header = csvFields(line, delimiter);
            refCol = column(header, { "designator", "designators", "reference", "references",
                                        "ref", "refdes" });
            valueCol = column(header, { "value", "comment", "val" });
            if (refCol < 0 || valueCol < 0)
                refCol = -1;
            continue;
        }
        const QStringList row = csvFields(line, delimiter);
        if (blankRow(row))
            continue;
        if (row.size() <= std::max(refCol, valueCol))
            fail(k + 1,
                QStringLiteral("expected %1 fields as the header names, found %2")
                    .arg(std::max(refCol, valueCol) + 1)
                    .arg(row.size()));
        refs.clear();
        designators(row[refCol], k + 1, out.size(), most, refs);
        for (const QString &r : refs) {
            if (const auto first = seen.constFind(r); first != seen.constEnd())
                fail(k + 1,
                    QStringLiteral("%1 is listed again (first on line %2)").arg(r).arg(*first));
            seen.insert(r, k + 1);
            const auto value = readValue(row[valueCol], r);
            if (value && !plausible(*value))
                fail(k + 1,
                    QStringLiteral("%1's value \"%2\" is no part's: expected from %3 to %4 %5")
                        .arg(r, row[valueCol].left(40))
                        .arg(kMinValue)
                        .arg(kMaxValue)
                        .arg(quantityName(value->quantity)));
            out.push_back({ k + 1, r, row[valueCol], value });
        }
    }
    if (refCol < 0)
        fail(0,
            QStringLiteral("no header naming the designator (Designator, Reference, Ref) and "
                           "value (Value, Comment) columns"));
    return out;
}

} // namespace

std::optional<std::vector<BomLine>> readBom(
    const QByteArray &bytes, const QString &file, QString *error, std::size_t most)
{
    error->clear();
    try {
        return read(bytes, most);
    } catch (const Failure &f) {
        *error = failure(file, f.line, f.what);
        return std::nullopt;
    }
}

std::optional<std::vector<BomLine>> readBomFile(
    const QString &path, QString *error, std::size_t most)
{
    const auto bytes = readCadFile(path, error);
    if (!bytes)
        return std::nullopt;
    return readBom(*bytes, path, error, most);
}

} // namespace cad
