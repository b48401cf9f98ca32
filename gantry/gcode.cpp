#include "gcode.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace gantry {
namespace {

struct Word
{
    char letter;
    double value;
};

// Upper case, without spaces and comments, as GRBL reads a line.
int splitWords(std::string_view line, std::vector<Word> &words)
{
    std::string text;
    bool parenthesis = false;
    for (const char c : line) {
        if (parenthesis) {
            parenthesis = c != ')';
            continue;
        }
        if (c == '(')
            parenthesis = true;
        else if (c == ';')
            break;
        else if (c != ' ' && c != '\t')
            text += char(std::toupper(static_cast<unsigned char>(c)));
    }
    std::size_t i = 0;
    while (i < text.size()) {
        const char letter = text[i++];
        if (letter < 'A' || letter > 'Z')
            return error::kExpectedLetter;
        std::size_t end = i;
        while (end < text.size()
            && (std::isdigit(static_cast<unsigned char>(text[end])) || text[end] == '.'
                || ((text[end] == '-' || text[end] == '+') && end == i)))
            ++end;
        std::string_view number(text.data() + i, end - i);
        if (!number.empty() && number[0] == '+')
            number.remove_prefix(1);
        double value = 0;
        const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (number.empty() || ec != std::errc() || ptr != number.data() + number.size()
            || !std::isfinite(value))
            return error::kBadNumber;
        words.push_back({ letter, value });
        i = end;
    }
    return 0;
}

int readBlock(std::string_view line, GcodeBlock &b, bool jog)
{
    std::vector<Word> words;
    if (const int e = splitWords(line, words))
        return e;
    // Modal groups met on this line: motion, non-modal, distance, units.
    bool group[4] = {};
    auto claim = [&](int g) {
        if (group[g])
            return false;
        group[g] = true;
        return true;
    };
    std::string seen;
    for (const Word &w : words) {
        if (w.letter == 'G') {
            const double g = w.value;
            int groupOf = -1;
            if (g == 0 || g == 1) {
                groupOf = 0;
                b.motion = int(g);
            } else if (g == 4 || g == 53) {
                groupOf = 1;
                (g == 4 ? b.dwell : b.machineCoordinates) = true;
            } else if (g == 90 || g == 91) {
                groupOf = 2;
                b.absolute = g == 90;
            } else if (g == 20 || g == 21) {
                groupOf = 3;
                b.inches = g == 20;
            } else if (!jog && (g == 17 || g == 54 || g == 94)) {
                continue; // the only plane, coordinate system and feed mode there are
            }
            if (groupOf < 0 || (jog && (groupOf == 0 || b.dwell)))
                return jog ? error::kInvalidJog : error::kUnsupportedCommand;
            if (!claim(groupOf))
                return error::kModalGroupViolation;
            continue;
        }
        if (w.letter == 'M') {
            // Spindle and coolant words are taken and do nothing: there is none.
            const double m = w.value;
            if (jog || !(m == 2 || m == 30 || (m >= 3 && m <= 9 && m != 6 && m == std::floor(m))))
                return jog ? error::kInvalidJog : error::kUnsupportedCommand;
            continue;
        }
        if (seen.find(w.letter) != std::string::npos)
            return error::kWordRepeated;
        seen += w.letter;
        switch (w.letter) {
        case 'X':
        case 'Y':
        case 'Z':
            b.axes[std::size_t(w.letter - 'X')] = w.value;
            break;
        case 'F':
            if (w.value < 0)
                return error::kNegativeValue;
            b.feed = w.value;
            break;
        case 'P':
            if (jog)
                return error::kInvalidJog;
            if (w.value < 0)
                return error::kNegativeValue;
            b.pause = w.value;
            break;
        case 'N':
        case 'S':
        case 'T':
            if (jog && w.letter != 'N')
                return error::kInvalidJog;
            break;
        default:
            return jog ? error::kInvalidJog : error::kUnsupportedCommand;
        }
    }
    if (b.dwell && !b.pause)
        return error::kValueWordMissing;
    if (!b.dwell && b.pause)
        return error::kUnusedValueWords;
    return 0;
}

} // namespace

int parseGcode(std::string_view line, GcodeBlock &block)
{
    block = GcodeBlock();
    return readBlock(line, block, false);
}

int parseJog(std::string_view line, GcodeBlock &block)
{
    block = GcodeBlock();
    if (const int e = readBlock(line, block, true))
        return e;
    if (!block.feed)
        return error::kUndefinedFeedRate;
    if (!block.hasAxes())
        return error::kNoAxisWords;
    return 0;
}

} // namespace gantry
