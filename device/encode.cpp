// Values into a record's bytes: from JSON and from command-line text, each
// checked against the field before any byte changes.
#include "codecdetail.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace zem::codec {

using namespace detail;

namespace {

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

} // namespace zem::codec
