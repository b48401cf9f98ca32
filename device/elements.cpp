// The elements of a record's bytes: their types' ranges, loading and storing
// them, and the lookups in the description that every job of the codec makes.
#include "codecdetail.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

namespace zem::codec {

namespace detail {

bool hasKind(const Field &f, ValueKind kind)
{
    for (const NamedValue &v : f.values)
        if (v.kind == kind)
            return true;
    return false;
}

bool isFlagWord(const Field &f)
{
    return !f.isArray && hasKind(f, ValueKind::Flag);
}

IntRange intRange(ElementType t)
{
    switch (t) {
    case ElementType::UInt8:
        return { 0, UINT8_MAX };
    case ElementType::UInt16:
        return { 0, UINT16_MAX };
    case ElementType::Int16:
        return { INT16_MIN, INT16_MAX };
    case ElementType::UInt32:
        return { 0, UINT32_MAX };
    case ElementType::Int32:
        return { INT32_MIN, INT32_MAX };
    case ElementType::Float:
        break;
    }
    return { 0, 0 };
}

Json loadElement(ElementType t, const unsigned char *at)
{
    switch (t) {
    case ElementType::UInt8:
        return *at;
    case ElementType::UInt16: {
        std::uint16_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    case ElementType::Int16: {
        std::int16_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    case ElementType::UInt32: {
        std::uint32_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    case ElementType::Int32: {
        std::int32_t v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    case ElementType::Float: {
        float v;
        std::memcpy(&v, at, sizeof v);
        if (std::isnan(v))
            return "nan";
        if (std::isinf(v))
            return v > 0 ? "inf" : "-inf";
        // The shortest text that reads back as the same float, so that 0.1f
        // shows as 0.1 and not as the double nearest to it.
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
        *end = '\0';
        double shortest = 0;
        std::from_chars(buffer, end, shortest);
        return std::fabs(shortest) <= FLT_MAX && float(shortest) == v ? shortest : double(v);
    }
    }
    return nullptr;
}

std::int64_t loadInt(ElementType t, const unsigned char *at)
{
    const Json v = loadElement(t, at);
    return v.is_number_integer() ? v.get<std::int64_t>() : 0;
}

void storeElement(ElementType t, unsigned char *at, std::int64_t i, double d)
{
    switch (t) {
    case ElementType::UInt8:
        *at = std::uint8_t(i);
        break;
    case ElementType::UInt16: {
        const auto v = std::uint16_t(i);
        std::memcpy(at, &v, sizeof v);
        break;
    }
    case ElementType::Int16: {
        const auto v = std::int16_t(i);
        std::memcpy(at, &v, sizeof v);
        break;
    }
    case ElementType::UInt32: {
        const auto v = std::uint32_t(i);
        std::memcpy(at, &v, sizeof v);
        break;
    }
    case ElementType::Int32: {
        const auto v = std::int32_t(i);
        std::memcpy(at, &v, sizeof v);
        break;
    }
    case ElementType::Float: {
        const auto v = float(d);
        std::memcpy(at, &v, sizeof v);
        break;
    }
    }
}

} // namespace detail

double elementValue(const Field &f, const void *data, std::size_t element)
{
    const Json v = detail::loadElement(
        f.type, static_cast<const unsigned char *>(data) + f.offset + element * f.elementSize());
    if (v.is_number())
        return v.get<double>();
    const std::string text = v.is_string() ? v.get<std::string>() : std::string();
    return text == "inf" ? HUGE_VAL : text == "-inf" ? -HUGE_VAL : NAN;
}

const Field *findField(const Record &record, std::string_view name)
{
    for (const Field &f : record.fields)
        if (name == f.name)
            return &f;
    return nullptr;
}

} // namespace zem::codec
