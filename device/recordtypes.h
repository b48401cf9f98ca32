// The words of the record table (records.h): a record's fields with their
// element types, offsets, named values and units, the macros that take them
// from the C layout, and the compile-time checks that the two agree.
#pragma once

#include "zem.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace zem {

template <class T> struct Span
{
    const T *first = nullptr;
    std::size_t count = 0;

    constexpr Span() = default;
    template <std::size_t N>
    constexpr Span(const T (&array)[N])
        : first(array)
        , count(N)
    {
    }

    constexpr const T *begin() const { return first; }
    constexpr const T *end() const { return first + count; }
    constexpr std::size_t size() const { return count; }
    constexpr bool empty() const { return count == 0; }
    constexpr const T &operator[](std::size_t i) const { return first[i]; }
};

enum class ElementType : std::uint8_t { UInt8, UInt16, Int16, UInt32, Int32, Float };

// What a named value means for its field: an exact value, a bit of a flag
// word, a limit of the field's range, or the frame length.
enum class ValueKind : std::uint8_t { Constant, Flag, Limit, FrameSize };

struct NamedValue
{
    const char *name;
    std::int32_t value;
    ValueKind kind;
};

struct Field
{
    const char *name;
    const char *typeText; // as shown to the user, e.g. "uint8_t[16]"
    ElementType type;
    std::uint16_t offset;
    std::uint16_t count; // number of elements, 1 for a scalar
    bool isArray;
    Span<NamedValue> values;
    bool isText = false; // a byte array that holds text (names, versions)
    const char *unit = nullptr; // of a physical value: "V", "mA", "Hz"
    // What the instrument takes, for floats, whose limits zem.h gives no
    // names (integers name theirs as ValueKind::Limit); none when min == max.
    float deviceMin = 0;
    float deviceMax = 0;

    constexpr std::size_t elementSize() const
    {
        switch (type) {
        case ElementType::UInt8:
            return 1;
        case ElementType::UInt16:
        case ElementType::Int16:
            return 2;
        default:
            return 4;
        }
    }
    constexpr std::size_t size() const { return elementSize() * count; }
};

struct Record
{
    const char *name;
    std::uint16_t size;
    Span<Field> fields;
};

struct Command
{
    const char *name; // page name, e.g. "get_status"
    const char *operation; // library function, e.g. "zem_get_status"
    const Record *request; // null when the command has none
    const Record *response;
    const char *getter; // for a setter: the command whose response fills its request
};

// Which value widget shows a field, by side and type.
enum class WidgetKind : std::uint8_t {
    IntInput,
    IntOutput,
    FloatInput,
    FloatOutput,
    IntArrInput,
    IntArrOutput,
    FloatArrOutput
};

constexpr WidgetKind widgetKind(const Field &f, bool request)
{
    if (f.type == ElementType::Float)
        return request ? WidgetKind::FloatInput
                       : (f.isArray ? WidgetKind::FloatArrOutput : WidgetKind::FloatOutput);
    if (f.isArray)
        return request ? WidgetKind::IntArrInput : WidgetKind::IntArrOutput;
    return request ? WidgetKind::IntInput : WidgetKind::IntOutput;
}

namespace detail {

template <class T> constexpr ElementType elementTypeOf()
{
    using E = std::remove_cv_t<std::remove_extent_t<T>>;
    static_assert(
        std::is_same_v<E,
            std::
                uint8_t> || std::is_same_v<E, std::uint16_t> || std::is_same_v<E, std::int16_t> || std::is_same_v<E, std::uint32_t> || std::is_same_v<E, std::int32_t> || std::is_same_v<E, float>,
        "unsupported field type");
    if constexpr (std::is_same_v<E, std::uint8_t>)
        return ElementType::UInt8;
    else if constexpr (std::is_same_v<E, std::uint16_t>)
        return ElementType::UInt16;
    else if constexpr (std::is_same_v<E, std::int16_t>)
        return ElementType::Int16;
    else if constexpr (std::is_same_v<E, std::uint32_t>)
        return ElementType::UInt32;
    else if constexpr (std::is_same_v<E, std::int32_t>)
        return ElementType::Int32;
    else
        return ElementType::Float;
}

constexpr const char *elementTypeText(ElementType t)
{
    switch (t) {
    case ElementType::UInt8:
        return "uint8_t";
    case ElementType::UInt16:
        return "uint16_t";
    case ElementType::Int16:
        return "int16_t";
    case ElementType::UInt32:
        return "uint32_t";
    case ElementType::Int32:
        return "int32_t";
    case ElementType::Float:
        return "float";
    }
    return "";
}

// True when text is exactly the element type's name, followed by "[count]"
// for an array.
constexpr bool typeTextMatches(const char *text, ElementType t, unsigned count, bool isArray)
{
    const char *e = elementTypeText(t);
    while (*e)
        if (*text++ != *e++)
            return false;
    if (!isArray)
        return *text == '\0';
    if (*text++ != '[')
        return false;
    unsigned n = 0;
    bool digits = false;
    while (*text >= '0' && *text <= '9') {
        n = n * 10 + unsigned(*text++ - '0');
        digits = true;
    }
    return digits && n == count && text[0] == ']' && text[1] == '\0';
}

// Fields are contiguous, in order, cover the record exactly and carry the
// right type texts.
constexpr bool layoutMatches(const Record &r, std::size_t structSize)
{
    std::size_t end = 0;
    for (const Field &f : r.fields) {
        if (f.offset != end || !typeTextMatches(f.typeText, f.type, f.count, f.isArray))
            return false;
        end += f.size();
    }
    return end == r.size && r.size == structSize;
}

} // namespace detail

#define ZEM_FIELD_V(Rec, Member, Text, Values)                                                     \
    ::zem::Field                                                                                   \
    {                                                                                              \
#Member, Text, ::zem::detail::elementTypeOf < decltype(Rec::Member)>(),                    \
            std::uint16_t(offsetof(Rec, Member)),                                                  \
            std::uint16_t(std::is_array_v <decltype(Rec::Member)>                                  \
                    ? std::extent_v <decltype(Rec::Member)>                                        \
                    : 1),                                                                          \
            std::is_array_v < decltype(Rec::Member)>, Values                                       \
    }
#define ZEM_FIELD(Rec, Member, Text) ZEM_FIELD_V(Rec, Member, Text, {})
// A float in a unit, with the limits the instrument takes (min == max: none).
#define ZEM_FIELD_UNIT(Rec, Member, Text, Unit, Min, Max)                                          \
    ::zem::Field                                                                                   \
    {                                                                                              \
#Member, Text, ::zem::detail::elementTypeOf < decltype(Rec::Member)>(),                    \
            std::uint16_t(offsetof(Rec, Member)),                                                  \
            std::uint16_t(std::is_array_v <decltype(Rec::Member)>                                  \
                    ? std::extent_v <decltype(Rec::Member)>                                        \
                    : 1),                                                                          \
            std::is_array_v < decltype(Rec::Member)>, {}, false, Unit, Min, Max                    \
    }
#define ZEM_FIELD_TEXT(Rec, Member, Text)                                                          \
    ::zem::Field                                                                                   \
    {                                                                                              \
#Member, Text, ::zem::detail::elementTypeOf < decltype(Rec::Member)>(),                    \
            std::uint16_t(offsetof(Rec, Member)),                                                  \
            std::uint16_t(std::extent_v <decltype(Rec::Member)>), true, {}, true                   \
    }

} // namespace zem
