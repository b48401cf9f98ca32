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
QStringList designators(const QString &cell, int line, const QString &file, QString *error)
{
    QStringList out;
    static const QRegularExpression range(QStringLiteral("^([A-Za-z_]+)(\\d+)-\\1?(\\d+)$"));
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    for (const QString &d : cell.split(separators, Qt::SkipEmptyParts)) {
        const auto m = range.match(d);
        if (!m.hasMatch()) {
            out << d;
            continue;
        }
        const int first = m.captured(2).toInt(), last = m.captured(3).toInt();
        if (last < first || last - first > 10000) {
            *error = failure(file, line, QStringLiteral("expected a range such as R1-R4, found \"%1\"").arg(d));
            return {};
        }
        for (int k = first; k <= last; ++k)
            out << m.captured(1) + QString::number(k);
    }
    return out;
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
    // digits, an optional prefix or R in place of the point, digits, a unit.
    static const QRegularExpression form(QStringLiteral(
        "^(\\d+(?:\\.\\d+)?|\\.\\d+)\\s*([pnuµμmRrkKMG])?(\\d*)\\s*(ohms?|Ω|F|H)?$"));
    const auto m = form.match(value.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QString p = m.captured(2), tail = m.captured(3), unit = m.captured(4);
    if (!tail.isEmpty() && (p.isEmpty() || m.captured(1).contains(QLatin1Char('.'))))
        return std::nullopt; // "4.7k7", "47 7"
    double v = (m.captured(1) + (tail.isEmpty() ? QString() : QLatin1Char('.') + tail)).toDouble();
    if (!p.isEmpty())
        v *= *prefix(p[0]);
    std::optional<Quantity> q;
    if (unit == QLatin1String("F"))
        q = Quantity::Farads;
    else if (unit == QLatin1String("H"))
        q = Quantity::Henries;
    else if (!unit.isEmpty() || p == QLatin1String("R") || p == QLatin1String("r"))
        q = Quantity::Ohms;
    const auto byDesignator = quantityOfDesignator(refdes);
    if (!byDesignator || (q && q != byDesignator) || !std::isfinite(v))
        return std::nullopt;
    return Value { v, *byDesignator };
}

std::optional<std::vector<BomLine>> readBom(
    const QByteArray &bytes, const QString &file, QString *error)
{
    error->clear();
    const QList<QByteArray> all = lines(bytes);
    int refCol = -1, valueCol = -1;
    char delimiter = ',';
    std::vector<BomLine> out;
    QHash<QString, int> seen;
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
        if (row.size() <= std::max(refCol, valueCol)) {
            *error = failure(file, k + 1,
                QStringLiteral("expected %1 fields as the header names, found %2")
                    .arg(std::max(refCol, valueCol) + 1)
                    .arg(row.size()));
            return std::nullopt;
        }
        const QStringList refs = designators(row[refCol], k + 1, file, error);
        if (!error->isEmpty())
            return std::nullopt;
        for (const QString &r : refs) {
            if (const auto first = seen.constFind(r); first != seen.constEnd()) {
                *error = failure(file, k + 1,
                    QStringLiteral("%1 is listed again (first on line %2)").arg(r).arg(*first));
                return std::nullopt;
            }
            seen.insert(r, k + 1);
            out.push_back({ k + 1, r, row[valueCol], parseValue(row[valueCol], r) });
        }
    }
    if (refCol < 0) {
        *error = failure(file, 0,
            QStringLiteral("no header naming the designator (Designator, Reference, Ref) and "
                           "value (Value, Comment) columns"));
        return std::nullopt;
    }
    return out;
}

std::optional<std::vector<BomLine>> readBomFile(const QString &path, QString *error)
{
    const auto bytes = readCadFile(path, error);
    if (!bytes)
        return std::nullopt;
    return readBom(*bytes, path, error);
}

} // namespace cad
