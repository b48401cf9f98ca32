#include "csvwriter.h"

#include <utility>

namespace zem::files {

CsvWriter &CsvWriter::field(std::string_view text)
{
    if (m_rowStarted)
        m_text += ',';
    m_rowStarted = true;
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        m_text += text;
        return *this;
    }
    m_text += '"';
    for (const char c : text) {
        if (c == '"')
            m_text += '"';
        m_text += c;
    }
    m_text += '"';
    return *this;
}

void CsvWriter::endRow()
{
    m_text += kCsvLineEnd;
    m_rowStarted = false;
}

void CsvWriter::line(std::string_view text)
{
    m_text += text;
    endRow();
}

std::string CsvWriter::take()
{
    std::string out = std::move(m_text);
    m_text.clear();
    m_rowStarted = false;
    return out;
}

} // namespace zem::files
