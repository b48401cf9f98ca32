// What a field allows and what the instrument takes, in words for messages
// and descriptions.
#include "codecdetail.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace zem::codec {

using namespace detail;

namespace {

std::string elementRangeText(ElementType t)
{
    if (t == ElementType::Float)
        return floatText(-FLT_MAX) + ".." + floatText(FLT_MAX);
    const IntRange r = intRange(t);
    return std::to_string(r.min) + ".." + std::to_string(r.max);
}

} // namespace

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

std::string detail::fieldError(const Field &f, const std::string &problem)
{
    return std::string(f.name) + ": " + problem + "; allowed: " + allowedText(f);
}

} // namespace zem::codec
