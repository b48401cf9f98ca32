#include "positions.h"

#include <QHash>
#include <QRegularExpression>

namespace cad {
namespace {


// Where each field is in a row, -1 for none.
struct Columns
{
    int refdes = -1, value = -1, package = -1, x = -1, y = -1, rotation = -1, side = -1;
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
    return c;
}

Side sideNamed(const QString &text, int line)
{
    const QString s = text.toLower().remove(QLatin1Char(' '));
    if (s.startsWith(QLatin1String("top")) || s == QLatin1String("t")
        || s == QLatin1String("front") || s == QLatin1String("f"))
        return Side::Top;
    if (s.startsWith(QLatin1String("bot")) || s == QLatin1String("b")
        || s == QLatin1String("back"))
        return Side::Bottom;
    fail(line, QStringLiteral("expected the side as top, bottom, T, B, front or back, found \"%1\"")
                   .arg(text));
}

// A length with an optional unit after it ("12.5", "12.5mm", "500mil").
double length(const QString &text, std::optional<Unit> unit, int line, const char *what)
{
    static const QRegularExpression form(
        QStringLiteral("^([+\\-]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][+\\-]?\\d+)?)\\s*([a-zA-Z]*)$"));
    const auto m = form.match(text.trimmed());
    const auto suffix = m.hasMatch() && !m.captured(2).isEmpty() ? unitNamed(m.captured(2))
                                                                 : std::nullopt;
    const auto v = m.hasMatch() ? number(m.captured(1)) : std::nullopt;
    if (!v || (!m.captured(2).isEmpty() && !suffix))
        fail(line,
            QStringLiteral("expected %1 as a number (with mm, mil or in after it), found \"%2\"")
                .arg(QLatin1String(what), text));
    return *v * mmPer(suffix ? *suffix : unit.value_or(Unit::Mm));
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
            if (line.isEmpty())
                continue;
            if (m_header.isEmpty())
                findHeader(line, k + 1);
            else if (!line.startsWith('#'))
                row(m_kicad ? QString::fromUtf8(line).simplified().split(QLatin1Char(' '))
                            : csvFields(line, m_delimiter),
                    k + 1);
        }
        if (m_header.isEmpty())
            fail(0,
                QStringLiteral("no header naming the reference designator, X and Y columns "
                               "(such as \"Ref,Val,Package,PosX,PosY,Rot,Side\")"));
        return std::move(m_out);
    }

private:
    void findHeader(const QByteArray &line, int number)
    {
        if (line.startsWith("##")) {
            // KiCad's "## Unit = mm, Angle = deg."
            static const QRegularExpression unit(
                QStringLiteral("Unit\\s*=\\s*([A-Za-z]+)"), QRegularExpression::CaseInsensitiveOption);
            if (const auto m = unit.match(QString::fromUtf8(line)); m.hasMatch()) {
                m_unit = unitNamed(m.captured(1));
                if (!m_unit)
                    fail(number, QStringLiteral("unknown unit \"%1\": expected mm or inches")
                                     .arg(m.captured(1)));
            }
            return;
        }
        QStringList header;
        if (line.startsWith('#')) {
            header = QString::fromUtf8(line.mid(1)).simplified().split(QLatin1Char(' '));
            m_kicad = true;
        } else {
            m_delimiter = csvDelimiter(line);
            header = csvFields(line, m_delimiter);
            m_kicad = false;
        }
        const Columns c = findColumns(header);
        if (c.refdes < 0 || c.x < 0 || c.y < 0)
            return; // a title or note before the header
        m_header = header;
        m_columns = c;
        if (const auto u = headerUnit(header[c.x]))
            m_unit = u;
    }

    // The field of a header column. KiCad's ASCII rows are split at blanks,
    // and a value or package may hold one: the columns after them are taken
    // from the row's end.
    QString field(const QStringList &row, int index) const
    {
        if (index < 0)
            return {};
        if (m_kicad && row.size() > m_header.size() && index > m_columns.package
            && index > m_columns.value)
            return row[row.size() - (m_header.size() - index)];
        return index < row.size() ? row[index] : QString();
    }

    void row(const QStringList &row, int number)
    {
        if (blankRow(row))
            return;
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
        p.mm = QPointF(
            length(field(row, c.x), m_unit, number, "X"), length(field(row, c.y), m_unit, number, "Y"));
        if (c.rotation >= 0) {
            const QString rot = field(row, c.rotation);
            const auto r = number_(rot);
            if (!r)
                fail(number, QStringLiteral("expected the rotation as a number, found \"%1\"").arg(rot));
            p.rotation = *r;
        }
        if (c.side >= 0)
            p.side = sideNamed(field(row, c.side), number);
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

    std::optional<Unit> m_unit;
    QStringList m_header;
    Columns m_columns;
    bool m_kicad = false;
    char m_delimiter = ',';
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
