#include "positions.h"

#include <QHash>
#include <QRegularExpression>

namespace cad {
namespace {

// Where each field is in a row, -1 for none.
struct Columns
{
    int refdes = -1, value = -1, package = -1, x = -1, y = -1, rotation = -1, side = -1,
        height = -1;
};

Columns findColumns(const QStringList &header)
{
    Columns c;
    c.refdes = column(header, { "designator", "ref", "refdes", "reference", "partdesignator" });
    c.value = column(header, { "val", "value", "comment" });
    c.package = column(header, { "package", "footprint" });
    c.x = column(header, { "midx", "posx", "centerx", "centrex", "x", "locationx", "refx" });
    c.y = column(header, { "midy", "posy", "centery", "centrey", "y", "locationy", "refy" });
    c.rotation = column(header, { "rotation", "rot", "angle" });
    c.side = column(header, { "layer", "side", "tb" });
    c.height = column(header, { "height", "partheight", "componentheight" });
    return c;
}

Side sideNamed(const QString &text, int line)
{
    const QString s = text.toLower().remove(QLatin1Char(' '));
    if (s.startsWith(QLatin1String("top")) || s == QLatin1String("t") || s == QLatin1String("front")
        || s == QLatin1String("f"))
        return Side::Top;
    if (s.startsWith(QLatin1String("bot")) || s == QLatin1String("b") || s == QLatin1String("back"))
        return Side::Bottom;
    fail(line,
        QStringLiteral("expected the side as top, bottom, T, B, front or back, found \"%1\"")
            .arg(text));
}

// A length with an optional unit after it ("12.5", "12.5mm", "500mil").
double length(const QString &text, std::optional<Unit> unit, int line, const char *what)
{
    static const QRegularExpression form(
        QStringLiteral("^([+\\-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+\\-]?\\d+)?)\\s*([a-zA-Z]*)$"));
    const auto m = form.match(text.trimmed());
    const auto suffix
        = m.hasMatch() && !m.captured(2).isEmpty() ? unitNamed(m.captured(2)) : std::nullopt;
    const auto v = m.hasMatch() ? number(m.captured(1)) : std::nullopt;
    if (!v || (!m.captured(2).isEmpty() && !suffix))
        fail(line,
            QStringLiteral("expected %1 as a number (with mm, mil or in after it), found \"%2\"")
                .arg(QLatin1String(what), text));
    const auto mm = toMm(*v, suffix ? *suffix : unit.value_or(Unit::Mm));
    if (!mm)
        fail(line,
            QStringLiteral("%1 \"%2\" is out of range: expected at most %3 mm from the origin")
                .arg(QLatin1String(what), text)
                .arg(kMaxCoordinateMm));
    return *mm;
}

class Reader
{
public:
    explicit Reader(std::optional<Unit> unitsIfUnsaid)
        : m_unit(unitsIfUnsaid)
    {
    }

    std::vector<Placement> read(const QByteArray &bytes)
    {
        const QList<QByteArray> all = lines(bytes);
        for (int k = 0; k < all.size(); ++k) {
            const QByteArray line = all[k].trimmed();
            if (line.isEmpty() || (line.startsWith('#') && unitLine(line, k + 1)))
                continue;
            if (m_header.isEmpty())
                findHeader(line);
            else if (!line.startsWith('#'))
                row(m_delimiter ? csvFields(line, *m_delimiter) : blankFields(line), k + 1);
        }
        if (m_header.isEmpty())
            fail(0,
                QStringLiteral("no header naming the reference designator, X and Y columns "
                               "(such as \"Ref,Val,Package,PosX,PosY,Rot,Side\")"));
        return std::move(m_out);
    }

private:
    // A comment that gives the file's unit: KiCad's "## Unit = mm, Angle =
    // deg.", "# Unit = inches". True when the line was one.
    bool unitLine(const QByteArray &line, int number)
    {
        static const QRegularExpression unit(QStringLiteral("\\bUnits?\\s*=\\s*([A-Za-z]+)"),
            QRegularExpression::CaseInsensitiveOption);
        const auto m = unit.match(QString::fromUtf8(line));
        if (!m.hasMatch())
            return false;
        if (!m_out.empty())
            fail(number, QStringLiteral("the unit must be given before the first part"));
        m_unit = unitNamed(m.captured(1));
        if (!m_unit)
            fail(number,
                QStringLiteral("unknown unit \"%1\": expected mm, mil or inches")
                    .arg(m.captured(1)));
        return true;
    }

    // Headers as tools write them: "Ref,Val,...", "#, Ref, Val, ..." (its
    // comment marker a column of its own, as the rows' empty first field
    // shows), "# Ref Val Package PosX PosY" split at blanks, where a unit
    // may stand apart ("PosX (mm)").
    void findHeader(const QByteArray &line)
    {
        const std::optional<char> delimiter = delimiterOf(line);
        QStringList header;
        if (delimiter) {
            header = csvFields(line, *delimiter);
        } else {
            qsizetype marks = 0;
            while (marks < line.size() && line[marks] == '#')
                ++marks;
            for (const QString &f : blankFields(line.mid(marks))) {
                if (f.startsWith(QLatin1Char('(')) && !header.isEmpty())
                    header.last() += f;
                else
                    header << f;
            }
        }
        const Columns c = findColumns(header);
        if (c.refdes < 0 || c.x < 0 || c.y < 0)
            return; // a title or note before the header
        m_header = header;
        m_columns = c;
        m_delimiter = delimiter;
        m_xUnit = headerUnit(header[c.x]);
        m_yUnit = headerUnit(header[c.y]);
        if (c.height >= 0)
            m_hUnit = headerUnit(header[c.height]);
    }

    // The field of a header column. Rows split at blanks may hold one more
    // in a value or package: the columns after them are taken from the
    // row's end.
    QString field(const QStringList &row, int index) const
    {
        if (index < 0)
            return {};
        if (!m_delimiter && row.size() > m_header.size() && index > m_columns.package
            && index > m_columns.value)
            return row[row.size() - (m_header.size() - index)];
        return index < row.size() ? row[index] : QString();
    }

    void row(QStringList row, int number)
    {
        if (blankRow(row))
            return;
        // Rows that start with an empty field under a header that does not
        // (its comment marker dropped) are read from their second field.
        if (m_delimiter && row.size() == m_header.size() + 1 && row.first().isEmpty()
            && !m_header.first().isEmpty())
            row.removeFirst();
        const Columns &c = m_columns;
        const int needed = std::max({ c.refdes, c.x, c.y, c.side, c.rotation }) + 1;
        if (row.size() < needed)
            fail(number,
                QStringLiteral("expected %1 fields as the header names, found %2")
                    .arg(needed)
                    .arg(row.size()));
        Placement p;
        p.line = number;
        p.refdes = field(row, c.refdes);
        if (p.refdes.isEmpty())
            fail(number, QStringLiteral("expected a reference designator"));
        p.value = field(row, c.value);
        p.package = field(row, c.package);
        p.mm = QPointF(length(field(row, c.x), m_xUnit ? m_xUnit : m_unit, number, "X"),
            length(field(row, c.y), m_yUnit ? m_yUnit : m_unit, number, "Y"));
        if (c.rotation >= 0) {
            const QString rot = field(row, c.rotation);
            const auto r = number_(rot);
            if (!r)
                fail(number,
                    QStringLiteral("expected the rotation as a number, found \"%1\"").arg(rot));
            p.rotation = *r;
        }
        if (c.side >= 0)
            p.side = sideNamed(field(row, c.side), number);
        if (c.height >= 0 && !field(row, c.height).trimmed().isEmpty()) {
            p.height
                = length(field(row, c.height), m_hUnit ? m_hUnit : m_unit, number, "the height");
            if (*p.height < 0)
                fail(number, QStringLiteral("a height below the board: %1 mm").arg(*p.height));
        }
        if (const auto first = m_lines.constFind(p.refdes); first != m_lines.constEnd())
            fail(number,
                QStringLiteral("a second %1 (the first is on line %2)").arg(p.refdes).arg(*first));
        m_lines.insert(p.refdes, number);
        m_out.push_back(std::move(p));
    }

    static std::optional<double> number_(const QString &text)
    {
        return text.trimmed().isEmpty() ? 0.0 : number(text);
    }

    std::optional<Unit> m_unit; // the file's, or the caller's when it says none
    std::optional<Unit> m_xUnit, m_yUnit, m_hUnit; // as the header gives them
    QStringList m_header;
    Columns m_columns;
    std::optional<char> m_delimiter; // none: fields split at blanks
    QHash<QString, int> m_lines;
    std::vector<Placement> m_out;
};

} // namespace

std::optional<std::vector<Placement>> readPositions(
    const QByteArray &bytes, const QString &file, QString *error, std::optional<Unit> unitsIfUnsaid)
{
    try {
        return Reader(unitsIfUnsaid).read(bytes);
    } catch (const Failure &f) {
        *error = failure(file, f.line, f.what);
        return std::nullopt;
    }
}

std::optional<std::vector<Placement>> readPositionsFile(
    const QString &path, QString *error, std::optional<Unit> unitsIfUnsaid)
{
    const auto bytes = readCadFile(path, error);
    if (!bytes)
        return std::nullopt;
    return readPositions(*bytes, path, error, unitsIfUnsaid);
}

} // namespace cad
