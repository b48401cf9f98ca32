#include "cadtext.h"

#include "readfile.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace cad {

QString failure(const QString &file, int line, const QString &what)
{
    return line > 0 ? QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(what)
                    : QStringLiteral("%1: %2").arg(file, what);
}

std::optional<QByteArray> readCadFile(const QString &path, QString *error)
{
    std::string bytes;
    const std::string why = zem::files::readFile(QFile::encodeName(path).toStdString(),
        kMaxCadFileSize, "a CAD file", bytes, zem::files::Accept::RegularFile);
    if (!why.empty()) {
        *error = QString::fromLocal8Bit(why.c_str());
        return std::nullopt;
    }
    return QByteArray::fromStdString(bytes);
}

double mmPer(Unit unit)
{
    switch (unit) {
    case Unit::Inch:
        return 25.4;
    case Unit::Mil:
        return 0.0254;
    case Unit::Mm:
        break;
    }
    return 1.0;
}

std::optional<Unit> unitNamed(const QString &name)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("mm") || n == QLatin1String("millimeters")
        || n == QLatin1String("millimetres"))
        return Unit::Mm;
    if (n == QLatin1String("in") || n == QLatin1String("inch") || n == QLatin1String("inches"))
        return Unit::Inch;
    if (n == QLatin1String("mil") || n == QLatin1String("mils"))
        return Unit::Mil;
    return std::nullopt;
}

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

QList<QByteArrayView> lineViews(const QByteArray &bytes)
{
    QByteArrayView rest(bytes);
    // A spreadsheet's CSV may start with the UTF-8 byte order mark.
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    QList<QByteArrayView> out;
    out.reserve(rest.count('\n') + 1);
    while (!rest.isEmpty()) {
        const qsizetype end = rest.indexOf('\n');
        QByteArrayView line = end < 0 ? rest : rest.first(end);
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        out.push_back(line);
    }
    return out;
}

QList<QByteArray> lines(const QByteArray &bytes)
{
    QList<QByteArray> out;
    for (const QByteArrayView line : lineViews(bytes))
        out.push_back(line.toByteArray());
    return out;
}

bool onAnyBoard(double mm)
{
    return std::isfinite(mm) && std::abs(mm) <= kMaxCoordinateMm;
}

std::optional<double> toMm(double value, Unit unit)
{
    const double mm = value * mmPer(unit);
    if (!onAnyBoard(mm))
        return std::nullopt;
    return mm;
}

bool blankRow(const QStringList &fields)
{
    return std::all_of(fields.begin(), fields.end(), [](const QString &f) { return f.isEmpty(); });
}

// One splitter for both: with a delimiter every field counts, empty ones
// too, each trimmed; without, runs of blanks separate the fields. A quoted
// field keeps its delimiters and blanks, and "" inside it is one quote.
static QStringList splitFields(const QByteArray &line, std::optional<char> delimiter)
{
    QStringList out;
    QByteArray field;
    bool quoted = false, inField = false;
    const auto endField = [&] {
        if (delimiter)
            out << QString::fromUtf8(field).trimmed();
        else if (inField)
            out << QString::fromUtf8(field);
        field.clear();
        inField = false;
    };
    for (qsizetype k = 0; k < line.size(); ++k) {
        const char c = line[k];
        if (quoted) {
            if (c == '"' && k + 1 < line.size() && line[k + 1] == '"')
                field += line[++k];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (delimiter ? c == *delimiter : (c == ' ' || c == '\t')) {
            endField();
        } else {
            inField = true;
            if (c == '"')
                quoted = true;
            else
                field += c;
        }
    }
    endField();
    return out;
}

QStringList csvFields(const QByteArray &line, char delimiter)
{
    return splitFields(line, delimiter);
}

QStringList blankFields(const QByteArray &line)
{
    return splitFields(line, std::nullopt);
}

std::optional<char> delimiterOf(const QByteArray &line)
{
    if (!line.contains(',') && !line.contains(';') && !line.contains('\t'))
        return std::nullopt;
    return csvDelimiter(line);
}

char csvDelimiter(const QByteArray &line)
{
    char best = ',';
    qsizetype most = line.count(',');
    for (const char c : { ';', '\t' })
        if (line.count(c) > most) {
            best = c;
            most = line.count(c);
        }
    return best;
}

namespace {

QString headerKey(const QString &header)
{
    QString h = header.toLower();
    if (const qsizetype open = h.indexOf(QLatin1Char('(')); open >= 0)
        h.truncate(open);
    static const QRegularExpression dropped(QStringLiteral("[\\s_\\-\"#]"));
    h.remove(dropped);
    return h;
}

} // namespace

int column(const QStringList &header, std::initializer_list<const char *> names)
{
    // The first name wins: "Mid X" before "Ref X" whatever their order.
    for (const char *n : names)
        for (qsizetype k = 0; k < header.size(); ++k)
            if (headerKey(header[k]) == QLatin1String(n))
                return int(k);
    return -1;
}

std::optional<Unit> headerUnit(const QString &header)
{
    const qsizetype open = header.indexOf(QLatin1Char('('));
    const qsizetype close = header.indexOf(QLatin1Char(')'), open);
    if (open < 0 || close < 0)
        return std::nullopt;
    return unitNamed(header.mid(open + 1, close - open - 1));
}

} // namespace cad
