// Numbers, strings and decoded values as text: the same in every locale, and
// UTF-8 where they go into JSON.
#include "codecdetail.h"

#include <charconv>
#include <limits>

namespace zem::codec::detail {

std::string floatText(double v)
{
    char buffer[32];
    const auto end
        = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 6);
    return std::string(buffer, end.ptr);
}

std::string validUtf8(const unsigned char *s, std::size_t n)
{
    std::string out;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        std::size_t len = c < 0x80 ? 1
            : (c >> 5) == 6        ? 2
            : (c >> 4) == 14       ? 3
            : (c >> 3) == 30       ? 4
                                   : 0;
        bool ok = len > 0 && i + len <= n;
        for (std::size_t k = 1; ok && k < len; ++k)
            ok = (s[i + k] & 0xC0) == 0x80;
        if (ok && len > 1) {
            std::uint32_t cp = c & (0x7F >> len);
            for (std::size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (s[i + k] & 0x3F);
            const std::uint32_t least[] = { 0, 0, 0x80, 0x800, 0x10000 };
            ok = cp >= least[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        }
        if (ok) {
            out.append(reinterpret_cast<const char *>(s + i), len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string quote(std::string_view text)
{
    std::string shown(text.substr(0, 64));
    if (text.size() > 64)
        shown += "...";
    return Json(validUtf8(reinterpret_cast<const unsigned char *>(shown.data()), shown.size()))
        .dump();
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool parseInt(std::string_view s, std::int64_t &value)
{
    s = trimmed(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty())
        return false;
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (ec != std::errc() || end != s.data() + s.size() || magnitude > (std::uint64_t(1) << 62))
        return false;
    value = negative ? -std::int64_t(magnitude) : std::int64_t(magnitude);
    return true;
}

bool parseFloat(std::string_view s, double &value)
{
    std::string_view text = trimmed(s);
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        text.remove_prefix(1);
    auto format = std::chars_format::general;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        format = std::chars_format::hex;
        text.remove_prefix(2);
    }
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, format);
    if (ec == std::errc::result_out_of_range) {
        // Too small reads as 0, as strtod has it; too large is refused later.
        const std::size_t e = text.find_first_of(format == std::chars_format::hex ? "pP" : "eE");
        const bool tiny = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return false;
    }
    if (negative)
        value = -value;
    return end == text.data() + text.size();
}

} // namespace zem::codec::detail

namespace zem::codec {

std::string valueText(const Json &v)
{
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_array()) {
        std::string text;
        for (const Json &e : v)
            text += (text.empty() ? "" : ",") + valueText(e);
        return text;
    }
    if (!v.is_object())
        return v.dump();
    if (v.contains("text"))
        return v["text"].dump();
    std::string text = valueText(v["value"]);
    if (v.contains("name"))
        text += " (" + v["name"].get<std::string>() + ")";
    if (v.contains("flags") && !v["flags"].empty()) {
        std::string names;
        for (const Json &f : v["flags"])
            names += (names.empty() ? "" : "|") + f.get<std::string>();
        text += " (" + names + ")";
    }
    return text;
}

} // namespace zem::codec
