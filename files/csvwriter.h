// The one CSV writer: every CSV file of ours (curves, trends, the history's
// runs) is RFC 4180 with CRLF line ends, so a spreadsheet and a script read
// them all alike. Texts and numbers are written apart: a spreadsheet runs a
// text cell that starts like a formula, so such a text is kept a text, and a
// number is written in the C locale's form whatever the program's locale.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace zem::files {

class CsvWriter
{
public:
    // Appends one field to the row: as it is, or between double quotes with
    // each quote doubled when it holds a comma, a quote, a CR or an LF. Spaces
    // are part of a field and stay as they are.
    // A text that starts with =, +, -, @, a tab or a CR gets a ' before it,
    // so that a spreadsheet shows it rather than runs it as a formula; a
    // number given as text ("-1.5") is so kept too: numbers go to number().
    CsvWriter &field(std::string_view text);
    // A number, e.g. "-1.5" or "2e-05" with precision significant digits
    // (std::chars_format::fixed: decimals); a value that is no finite number
    // is an empty cell.
    CsvWriter &number(
        double value, int precision = 9, std::chars_format format = std::chars_format::general);
    CsvWriter &integer(std::int64_t value);
    // Ends the row (an empty row is an empty line).
    void endRow();
    // A line written as it is between rows, e.g. a "# key: value" comment,
    // then the line end.
    void line(std::string_view text);

    const std::string &text() const { return m_text; }
    std::size_t size() const { return m_text.size(); }
    // The text so far, leaving the writer empty, so that a long file can go
    // out in pieces; taken between rows.
    std::string take();

private:
    void separate();

    std::string m_text;
    bool m_rowStarted = false;
};

inline constexpr std::string_view kCsvLineEnd = "\r\n";

} // namespace zem::files
