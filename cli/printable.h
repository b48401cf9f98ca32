// Text from files, the device or the command line on its way to a terminal:
// point names, call-file fields and typed words can hold escape sequences
// that would move the cursor, retitle the window or hide what follows.
#pragma once

#include <string>
#include <string_view>

namespace zemctl {

// The length of the well-formed UTF-8 sequence that starts text[i] (1 for
// ASCII), or 0 when none does: overlong forms, UTF-16 surrogates and code
// points past U+10FFFF are not well-formed.
inline std::size_t utf8Length(std::string_view text, std::size_t i)
{
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80)
        return 1;
    std::size_t n = b >= 0xc2 && b <= 0xdf ? 2
        : b >= 0xe0 && b <= 0xef           ? 3
        : b >= 0xf0 && b <= 0xf4           ? 4
                                           : 0;
    if (n && i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
            return 0;
    if (n >= 3) {
        const auto b1 = static_cast<unsigned char>(text[i + 1]);
        if ((b == 0xe0 && b1 < 0xa0) || (b == 0xed && b1 >= 0xa0) || (b == 0xf0 && b1 < 0x90)
            || (b == 0xf4 && b1 >= 0x90))
            return 0;
    }
    return n;
}

inline bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0, n; i < text.size(); i += n)
        if ((n = utf8Length(text, i)) == 0)
            return false;
    return true;
}

// text with every control character (C0, DEL, C1) and every byte outside a
// valid UTF-8 sequence written as \xNN; tabs and everything else stay as
// they are.
inline std::string printable(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char b) {
        out += "\\x";
        out += hex[b >> 4];
        out += hex[b & 15];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if ((b < 0x20 && b != '\t') || b == 0x7f)
                escape(b);
            else
                out += char(b);
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(text, i);
        // C1 controls, U+0080 to U+009F, act as escapes on some terminals.
        if (n == 0 || (b == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0)) {
            for (std::size_t k = 0; k < (n ? n : 1); ++k)
                escape(static_cast<unsigned char>(text[i + k]));
            i += n ? n : 1;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

} // namespace zemctl
