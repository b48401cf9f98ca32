// What the CAD readers share: the one failure of a file (its name, line and
// what was expected there), the bounded read of a CAD file, units, CSV rows
// and the headers that name their columns.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace cad {

// A reader's way out of a malformed file, caught at its entry point and
// turned into "file:line: what"; it never leaves the reader.
struct Failure
{
    int line;
    QString what;
};

[[noreturn]] inline void fail(int line, const QString &what)
{
    throw Failure { line, what };
}

// CAD outputs of the largest boards are megabytes; more is no CAD output.
inline constexpr std::size_t kMaxCadFileSize = std::size_t(64) << 20;

// A reader's failure, "board.d356:12: expected ...": line 0 is the whole file.
QString failure(const QString &file, int line, const QString &what);

// The whole file, within kMaxCadFileSize; else nothing and *error says why.
std::optional<QByteArray> readCadFile(const QString &path, QString *error);

// The side of the board a part sits on or a point is reached from.
enum class Side { Top, Bottom };

// Millimetres in one unit of a length.
enum class Unit { Mm, Inch, Mil };
double mmPer(Unit unit);
// The farthest a coordinate may lie from the origin: 10 m is no board.
inline constexpr double kMaxCoordinateMm = 10000.0;
// Whether a coordinate in mm is finite and within kMaxCoordinateMm.
bool onAnyBoard(double mm);
// A length in mm, or nothing when the conversion overflows or lands past
// kMaxCoordinateMm ("1e308" inches).
std::optional<double> toMm(double value, Unit unit);
// "mm", "in"/"inch"/"inches", "mil"/"mils"; nothing for any other text.
std::optional<Unit> unitNamed(const QString &name);

// A decimal number in the C locale, finite; nothing for anything else
// ("1,5", "12a", "nan").
std::optional<double> number(const QString &text);

// The text's lines without their line ends (LF or CRLF) or a byte order mark:
// as views into bytes, which must outlive them (a large netlist is read
// without a copy of each line), or as copies.
QList<QByteArrayView> lineViews(const QByteArray &bytes);
QList<QByteArray> lines(const QByteArray &bytes);

// One CSV row split at delimiter, with RFC 4180 quotes; fields trimmed.
QStringList csvFields(const QByteArray &line, char delimiter);
// One row split at runs of blanks (spaces, tabs), with quoted fields kept
// whole; no empty fields.
QStringList blankFields(const QByteArray &line);
// The delimiter of a CSV line (see csvDelimiter), or nothing when the line
// has no comma, semicolon or tab: its fields are split at blanks.
std::optional<char> delimiterOf(const QByteArray &line);
// Whether every field is empty (",,,," as spreadsheets end a table).
bool blankRow(const QStringList &fields);
// The delimiter a header line uses: the most common of ',', ';' and tab.
char csvDelimiter(const QByteArray &line);

// The column whose header is one of names (the first name found wins), compared case-insensitively with
// spaces, '-' and '_' dropped and a unit in parentheses left out ("Mid X(mm)"
// is "midx"); -1 when there is none.
int column(const QStringList &header, std::initializer_list<const char *> names);
// The unit a header gives in parentheses ("Mid X(mm)", "PosX (mil)").
std::optional<Unit> headerUnit(const QString &header);

} // namespace cad
