// Bytes as hex pairs and back.
#include "codec.h"

namespace zem::codec {

std::string toHex(const void *data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (i)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

bool fromHex(std::string_view text, std::vector<std::uint8_t> &bytes)
{
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size())
            return false;
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(std::uint8_t(high * 16 + low));
        i += 2;
    }
    bytes = std::move(out);
    return true;
}

} // namespace zem::codec
