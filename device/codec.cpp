#include "codec.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zem::codec {

namespace {

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

struct IntRange
{
    std::int64_t min;
    std::int64_t max;
};

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

// Numbers as text are the same in every locale: '.' is the decimal point
// even in a program that set a decimal-comma locale.
std::string floatText(double v)
{
    char buffer[32];
    const auto end
        = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 6);
    return std::string(buffer, end.ptr);
}

std::string elementRangeText(ElementType t)
{
    if (t == ElementType::Float)
        return floatText(-FLT_MAX) + ".." + floatText(FLT_MAX);
    const IntRange r = intRange(t);
    return std::to_string(r.min) + ".." + std::to_string(r.max);
}

// The element's value as a JSON number; a float that is not finite has no
// JSON number, so it reads as "nan", "inf" or "-inf".
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

// Replaces bytes that are not UTF-8 by U+FFFD: JSON text must be UTF-8, and
// the exact bytes are kept beside it.
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

std::string fieldError(const Field &f, const std::string &problem)
{
    return std::string(f.name) + ": " + problem + "; allowed: " + allowedText(f);
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

// Integer text: optional sign, decimal or 0x hexadecimal digits, nothing else.
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

// Checks a number against the element type and stores it at `at`.
std::string storeNumber(const Field &f, const Json &v, unsigned char *at)
{
    if (f.type == ElementType::Float) {
        if (!v.is_number())
            return fieldError(f, "not a number: " + quote(v.dump()));
        const double d = v.get<double>();
        if (!std::isfinite(d) || std::fabs(d) > FLT_MAX)
            return fieldError(f, v.dump() + " is out of range");
        storeElement(f.type, at, 0, d);
        return {};
    }
    std::int64_t i = 0;
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > std::uint64_t(INT64_MAX))
            return fieldError(f, v.dump() + " is out of range");
        i = std::int64_t(u);
    } else if (v.is_number_integer()) {
        i = v.get<std::int64_t>();
    } else if (v.is_number_float()) {
        const double d = v.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d)
            return fieldError(f, "not a whole number: " + v.dump());
        if (d < -9.2e18 || d > 9.2e18)
            return fieldError(f, v.dump() + " is out of range");
        i = std::int64_t(d);
    } else {
        return fieldError(f, "not a number: " + quote(v.dump()));
    }
    const IntRange r = intRange(f.type);
    if (i < r.min || i > r.max)
        return fieldError(f, std::to_string(i) + " is out of range");
    storeElement(f.type, at, i, 0);
    return {};
}

const NamedValue *findName(const Field &f, std::string_view name, ValueKind kind)
{
    for (const NamedValue &v : f.values)
        if (v.kind == kind && name == v.name)
            return &v;
    return nullptr;
}

// One scalar from text: a number, a constant's name, or flag names joined by
// '|' (numbers may be mixed in).
std::string storeScalarText(const Field &f, std::string_view text, unsigned char *at)
{
    const std::string_view t = trimmed(text);
    if (const NamedValue *c = findName(f, t, ValueKind::Constant))
        return storeNumber(f, Json(c->value), at);
    if (f.type == ElementType::Float) {
        double d = 0;
        if (!parseFloat(t, d))
            return fieldError(f, "not a number: " + quote(t));
        if (!std::isfinite(d) || std::fabs(d) > FLT_MAX)
            return fieldError(f, std::string(t) + " is out of range");
        return storeNumber(f, Json(d), at);
    }
    if (isFlagWord(f) && t.find('|') != std::string_view::npos) {
        std::int64_t word = 0;
        std::size_t start = 0;
        while (start <= t.size()) {
            std::size_t bar = t.find('|', start);
            if (bar == std::string_view::npos)
                bar = t.size();
            const std::string_view part = trimmed(t.substr(start, bar - start));
            std::int64_t n = 0;
            if (const NamedValue *flag = findName(f, part, ValueKind::Flag))
                word |= flag->value;
            else if (parseInt(part, n) && n >= 0 && n <= intRange(f.type).max)
                word |= n;
            else
                return fieldError(f, "unknown flag " + quote(part));
            start = bar + 1;
        }
        return storeNumber(f, Json(word), at);
    }
    if (const NamedValue *flag = isFlagWord(f) ? findName(f, t, ValueKind::Flag) : nullptr)
        return storeNumber(f, Json(flag->value), at);
    std::int64_t n = 0;
    if (parseInt(t, n))
        return storeNumber(f, Json(n), at);
    if (isFlagWord(f))
        return fieldError(f, "unknown flag " + quote(t));
    if (hasKind(f, ValueKind::Constant))
        return fieldError(f, "unknown name " + quote(t));
    return fieldError(f, "not a number: " + quote(t));
}

std::string storeScalar(const Field &f, const Json &v, unsigned char *at)
{
    if (v.is_object()) {
        if (v.contains("value"))
            return storeScalar(f, v.at("value"), at);
        if (v.contains("name"))
            return storeScalar(f, v.at("name"), at);
        if (v.contains("flags"))
            return storeScalar(f, v.at("flags"), at);
        return fieldError(f, "an object needs \"value\", \"name\" or \"flags\"");
    }
    if (v.is_string())
        return storeScalarText(f, v.get_ref<const std::string &>(), at);
    if (v.is_array()) {
        if (!isFlagWord(f))
            return fieldError(f, "a list is not a single value");
        std::int64_t word = 0;
        for (const Json &name : v) {
            const NamedValue *flag = name.is_string()
                ? findName(f, name.get_ref<const std::string &>(), ValueKind::Flag)
                : nullptr;
            if (!flag)
                return fieldError(f,
                    "unknown flag "
                        + quote(name.is_string() ? name.get<std::string>() : name.dump()));
            word |= flag->value;
        }
        return storeNumber(f, Json(word), at);
    }
    return storeNumber(f, v, at);
}

std::string storeArray(const Field &f, const Json &v, unsigned char *at)
{
    if (!v.is_array())
        return fieldError(f, "not a list of numbers");
    if (v.size() != f.count)
        return fieldError(f, std::to_string(v.size()) + " numbers given");
    const std::size_t size = f.elementSize();
    for (std::size_t i = 0; i < f.count; ++i) {
        const Json &e = v[i];
        std::string error;
        if (e.is_string())
            error = storeScalarText(f, e.get_ref<const std::string &>(), at + i * size);
        else
            error = storeNumber(f, e, at + i * size);
        if (!error.empty())
            return fieldError(f,
                "element " + std::to_string(i) + ": "
                    + quote(e.is_string() ? e.get<std::string>() : e.dump()) + " is not allowed");
    }
    return {};
}

std::string storeText(const Field &f, const Json &v, unsigned char *at)
{
    if (v.is_object()) {
        if (v.contains("bytes"))
            return storeText(f, v.at("bytes"), at);
        if (v.contains("text"))
            return storeText(f, v.at("text"), at);
        return fieldError(f, "an object needs \"bytes\" or \"text\"");
    }
    if (v.is_array())
        return storeArray(f, v, at);
    if (!v.is_string())
        return fieldError(f, "not text");
    const std::string &s = v.get_ref<const std::string &>();
    if (s.size() > f.count)
        return fieldError(f, "text of " + std::to_string(s.size()) + " bytes");
    if (s.find('\0') != std::string::npos)
        return fieldError(f, "text with a zero byte");
    std::memset(at, 0, f.count);
    std::memcpy(at, s.data(), s.size());
    return {};
}

std::string storeField(const Field &f, const Json &v, unsigned char *at)
{
    try {
        if (f.isText)
            return storeText(f, v, at);
        if (f.isArray)
            return storeArray(f, v, at);
        return storeScalar(f, v, at);
    } catch (const std::exception &e) {
        return fieldError(f, e.what());
    }
}

} // namespace

Json decodeField(const Field &f, const void *data)
{
    const auto *at = static_cast<const unsigned char *>(data) + f.offset;
    if (f.isArray) {
        Json numbers = Json::array();
        for (std::size_t i = 0; i < f.count; ++i)
            numbers.push_back(loadElement(f.type, at + i * f.elementSize()));
        if (!f.isText)
            return numbers;
        const std::size_t length = strnlen(reinterpret_cast<const char *>(at), f.count);
        return Json { { "bytes", std::move(numbers) }, { "text", validUtf8(at, length) } };
    }
    Json value = loadElement(f.type, at);
    const bool flags = hasKind(f, ValueKind::Flag);
    const bool constants = hasKind(f, ValueKind::Constant);
    if (!flags && !constants)
        return value;
    const std::int64_t number = loadInt(f.type, at);
    Json object { { "value", std::move(value) } };
    if (constants)
        for (const NamedValue &v : f.values)
            if (v.kind == ValueKind::Constant && v.value == number) {
                object["name"] = v.name;
                break;
            }
    if (flags) {
        Json names = Json::array();
        for (const NamedValue &v : f.values)
            if (v.kind == ValueKind::Flag && v.value != 0 && (number & v.value) == v.value)
                names.push_back(v.name);
        object["flags"] = std::move(names);
    }
    return object;
}

Json decode(const Record &record, const void *data)
{
    Json object = Json::object();
    for (const Field &f : record.fields)
        object[f.name] = decodeField(f, data);
    return object;
}

std::string encodeField(const Field &f, const Json &value, void *data)
{
    auto *at = static_cast<unsigned char *>(data) + f.offset;
    unsigned char scratch[kMaxRecordSize];
    std::memcpy(scratch, at, f.size());
    const std::string error = storeField(f, value, scratch);
    if (error.empty())
        std::memcpy(at, scratch, f.size());
    return error;
}

std::string encode(const Record &record, const Json &in, void *data)
{
    if (!in.is_object())
        return std::string(record.name) + ": not an object of fields";
    unsigned char scratch[kMaxRecordSize];
    std::memcpy(scratch, data, record.size);
    for (auto it = in.begin(); it != in.end(); ++it) {
        const Field *f = findField(record, it.key());
        if (!f)
            return unknownFieldError(record, it.key());
        const std::string error = storeField(*f, it.value(), scratch + f->offset);
        if (!error.empty())
            return error;
    }
    std::memcpy(data, scratch, record.size);
    return {};
}

std::string encodeFieldText(const Field &f, std::string_view text, void *data)
{
    auto *at = static_cast<unsigned char *>(data) + f.offset;
    unsigned char scratch[kMaxRecordSize];
    std::memcpy(scratch, at, f.size());
    std::string error;
    try {
        if (f.isText) {
            // The exact bytes typed, even when they are not UTF-8.
            if (text.size() > f.count)
                error = fieldError(f, "text of " + std::to_string(text.size()) + " bytes");
            else if (text.find('\0') != std::string_view::npos)
                error = fieldError(f, "text with a zero byte");
            else {
                std::memset(scratch, 0, f.count);
                std::memcpy(scratch, text.data(), text.size());
            }
        } else if (f.isArray) {
            Json list = Json::array();
            std::size_t start = 0;
            while (start <= text.size()) {
                std::size_t comma = text.find(',', start);
                if (comma == std::string_view::npos)
                    comma = text.size();
                list.push_back(std::string(text.substr(start, comma - start)));
                start = comma + 1;
            }
            error = storeArray(f, list, scratch);
        } else {
            error = storeScalarText(f, text, scratch);
        }
    } catch (const std::exception &e) {
        error = fieldError(f, e.what());
    }
    if (error.empty())
        std::memcpy(at, scratch, f.size());
    return error;
}

std::string rangeText(const Field &f)
{
    if (f.isText)
        return "text of at most " + std::to_string(f.count) + " bytes";
    std::string text = elementRangeText(f.type);
    if (f.isArray)
        return std::to_string(f.count) + " numbers " + text;
    const NamedValue *min = nullptr, *max = nullptr;
    for (const NamedValue &v : f.values) {
        if (v.kind == ValueKind::Limit && (!min || v.value < min->value))
            min = &v;
        if (v.kind == ValueKind::Limit && (!max || v.value > max->value))
            max = &v;
        if (v.kind == ValueKind::FrameSize)
            text += "; frames of " + std::to_string(v.value) + " points (" + v.name + ")";
    }
    if (min && max)
        text += "; the device takes " + std::to_string(min->value) + ".."
            + std::to_string(max->value) + " (" + min->name + ".." + max->name + ")";
    else if (f.deviceMin < f.deviceMax)
        text += "; the device takes " + deviceRangeText(f);
    return text;
}

std::string deviceRangeText(const Field &f)
{
    std::string text;
    // Limits are round numbers: 1000000 reads better than 1e+06.
    const auto number = [](float v) {
        return std::trunc(v) == v && std::fabs(v) < 1e15f ? std::to_string(std::int64_t(v))
                                                          : floatText(v);
    };
    if (f.deviceMin < f.deviceMax)
        text = number(f.deviceMin) + ".." + number(f.deviceMax);
    for (const NamedValue &v : f.values)
        if (v.kind == ValueKind::Limit)
            text += (text.empty() ? "" : "..") + std::to_string(v.value);
    if (!text.empty() && f.unit)
        text += std::string(" ") + f.unit;
    return text;
}

std::string outsideDeviceLimits(const Record &record, const void *data)
{
    std::string text;
    for (const Field &f : record.fields) {
        double min = f.deviceMin, max = f.deviceMax;
        bool limited = min < max;
        for (const NamedValue &v : f.values)
            if (v.kind == ValueKind::Limit) {
                min = limited ? std::min<double>(min, v.value) : v.value;
                max = limited ? std::max<double>(max, v.value) : v.value;
                limited = true;
            }
        if (!limited || f.isArray)
            continue;
        const double value = elementValue(f, data);
        if (value >= min && value <= max)
            continue;
        text += (text.empty() ? "" : "; ") + std::string(f.name) + " " + decodeField(f, data).dump()
            + ": the device takes " + deviceRangeText(f);
    }
    return text;
}

std::string allowedText(const Field &f)
{
    std::string text = rangeText(f);
    const bool flags = isFlagWord(f);
    std::string names;
    for (const NamedValue &v : f.values) {
        if (v.kind != ValueKind::Constant && v.kind != ValueKind::Flag)
            continue;
        names += names.empty() ? "" : (flags ? "|" : ", ");
        names += v.name;
    }
    if (names.empty())
        return text;
    return text + (flags ? ", or flags " : ", or ") + names;
}

std::string unknownFieldError(const Record &record, std::string_view name)
{
    std::string names;
    for (const Field &f : record.fields)
        names += (names.empty() ? "" : ", ") + std::string(f.name);
    return "unknown field " + quote(name) + " in " + record.name + "; fields: " + names;
}

double elementValue(const Field &f, const void *data, std::size_t element)
{
    const Json v = loadElement(
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
