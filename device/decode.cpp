// A record's bytes as JSON.
#include "codecdetail.h"

#include <cstring>

namespace zem::codec {

using namespace detail;

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

} // namespace zem::codec
