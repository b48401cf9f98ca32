// The one CSV writer: every CSV file of ours (curves, trends, the history's
// runs) is RFC 4180 with CRLF line ends, so a spreadsheet and a script read
// them all alike. Callers format their numbers themselves, locale-independent;
// the writer decides only the quoting and the line ends.
#pragma once

#include <string>
#include <string_view>

namespace zem::files {

class CsvWriter
{
public:
    // Appends one field to the row: as it is, or between double quotes with
    // each quote doubled when it holds a comma, a quote, a CR or an LF. Spaces
    // are part of a field and stay as they are.
    CsvWriter &field(std::string_view text);
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
    std::string m_text;
    bool m_rowStarted = false;
};

inline constexpr std::string_view kCsvLineEnd = "\r\n";

} // namespace zem::files
