// What the codec's files share and the public interface does not show: the
// element types' ranges, loading and storing elements, the locale-free
// number texts and the wording of field errors.
#pragma once

#include "codec.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zem::codec::detail {

bool hasKind(const Field &f, ValueKind kind);
// A scalar whose named values are flags: its value is a word of them.
bool isFlagWord(const Field &f);

struct IntRange
{
    std::int64_t min;
    std::int64_t max;
};

// The values an integer element type holds; {0, 0} for Float.
IntRange intRange(ElementType t);

// The element's value as a JSON number; a float that is not finite has no
// JSON number, so it reads as "nan", "inf" or "-inf".
Json loadElement(ElementType t, const unsigned char *at);
// An integer element's value; 0 for a float.
std::int64_t loadInt(ElementType t, const unsigned char *at);
// Stores i in an integer element, d in a float one; the caller checked the range.
void storeElement(ElementType t, unsigned char *at, std::int64_t i, double d);

// Numbers as text are the same in every locale: '.' is the decimal point
// even in a program that set a decimal-comma locale.
std::string floatText(double v);
// Replaces bytes that are not UTF-8 by U+FFFD: JSON text must be UTF-8, and
// a decoded text field keeps the exact bytes beside it.
std::string validUtf8(const unsigned char *s, std::size_t n);
// Text quoted as a JSON string for a message, cut after 64 bytes.
std::string quote(std::string_view text);
// Without the blanks and tabs around it.
std::string_view trimmed(std::string_view s);
// Integer text: optional sign, decimal or 0x hexadecimal digits, nothing else.
bool parseInt(std::string_view s, std::int64_t &value);
// Decimal or 0x hexadecimal floating-point text; too small reads as 0, too
// large as infinity.
bool parseFloat(std::string_view s, double &value);

// "Name: problem; allowed: ..." for a value the field does not take.
std::string fieldError(const Field &f, const std::string &problem);

} // namespace zem::codec::detail
