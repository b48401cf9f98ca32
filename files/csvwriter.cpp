#include "csvwriter.h"

#include <cmath>
#include <utility>

namespace zem::files {

void CsvWriter::separate()
{
    if (m_rowStarted)
        m_text += ',';
    m_rowStarted = true;
}

CsvWriter &CsvWriter::field(std::string_view text)
{
    separate();
    const bool formula
        = !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        if (formula)
            m_text += '\'';
        m_text += text;
        return *this;
    }
    m_text += '"';
    if (formula)
        m_text += '\'';
    for (const char c : text) {
        if (c == '"')
            m_text += '"';
        m_text += c;
    }
    m_text += '"';
    return *this;
}

CsvWriter &CsvWriter::number(double value, int precision, std::chars_format format)
{
    separate();
    if (!std::isfinite(value))
        return *this;
    if (value == 0)
        value = 0; // -0 reads as 0, as it did when callers wrote their numbers
    char text[400]; // the longest fixed form of a double, with its decimals
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, format, precision);
    if (error == std::errc())
        m_text.append(text, end);
    return *this;
}

CsvWriter &CsvWriter::integer(std::int64_t value)
{
    separate();
    m_text += std::to_string(value);
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
