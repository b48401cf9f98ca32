#include "csnippet.h"

#include "callfile.h"
#include "records.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace zem::calls {

namespace {

std::string cString(const std::uint8_t *data, std::size_t size)
{
    std::string s = "\"";
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = data[i];
        char escaped[8];
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c == '\n') {
            s += "\\n";
        } else if (c >= 0x20 && c < 0x7f) {
            s += char(c);
        } else {
            // Octal escapes take at most three digits, so a following digit
            // cannot join them.
            std::snprintf(escaped, sizeof escaped, "\\%03o", c);
            s += escaped;
        }
    }
    return s + '"';
}

std::string element(const Field &f, const std::uint8_t *at)
{
    char text[48];
    switch (f.type) {
    case ElementType::UInt8:
        std::snprintf(text, sizeof text, "%u", unsigned(*at));
        break;
    case ElementType::UInt16: {
        std::uint16_t v;
        std::memcpy(&v, at, 2);
        std::snprintf(text, sizeof text, "%u", unsigned(v));
        break;
    }
    case ElementType::Int16: {
        std::int16_t v;
        std::memcpy(&v, at, 2);
        std::snprintf(text, sizeof text, "%d", int(v));
        break;
    }
    case ElementType::UInt32: {
        std::uint32_t v;
        std::memcpy(&v, at, 4);
        std::snprintf(text, sizeof text, "%luu", static_cast<unsigned long>(v));
        break;
    }
    case ElementType::Int32: {
        std::int32_t v;
        std::memcpy(&v, at, 4);
        if (v == INT32_MIN)
            return "INT32_MIN";
        std::snprintf(text, sizeof text, "%ld", static_cast<long>(v));
        break;
    }
    case ElementType::Float: {
        float v;
        std::memcpy(&v, at, 4);
        if (std::isnan(v))
            return "NAN";
        if (std::isinf(v))
            return v > 0 ? "INFINITY" : "-INFINITY";
        // The shortest text that gives back the same float, with '.' in every
        // locale (a decimal comma would not compile).
        char *end = std::to_chars(text, text + sizeof text - 3, v).ptr;
        if (std::find_if(text, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
            *end++ = '.'; // "1f" is not a C float literal
            *end++ = '0';
        }
        *end++ = 'f';
        *end = '\0';
        break;
    }
    }
    return text;
}

// Assignments of the fields' values; zero elements are left to the memset.
std::string fill(const Record &r, const char *var, const std::uint8_t *data)
{
    std::string out;
    for (const Field &f : r.fields) {
        for (std::size_t i = 0; i < f.count; ++i) {
            const std::uint8_t *at = data + f.offset + i * f.elementSize();
            bool zero = true;
            for (std::size_t b = 0; b < f.elementSize(); ++b)
                zero = zero && at[b] == 0;
            if (zero)
                continue;
            out += std::string("    ") + var + "." + f.name;
            if (f.isArray)
                out += "[" + std::to_string(i) + "]";
            out += " = " + element(f, at) + ";\n";
        }
    }
    return out;
}

} // namespace

std::string cSnippet(const Call &call)
{
    std::string out = "#include \"zem.h\"\n\n#include <math.h>\n#include <stdint.h>\n"
                      "#include <string.h>\n\n";
    out += "/* " + std::string(call.operationName()) + " as recorded at " + toRfc3339(call.wallMs)
        + "; it returned " + resultName(call.result) + ". */\n";
    const std::string name = std::string("call_") + call.commandName();
    const Command *c = call.commandEntry();
    switch (call.operation) {
    case Operation::Open:
        return out + "int32_t " + name + "(void)\n{\n    return zem_open_device("
            + cString(call.request(), call.requestSize) + ");\n}\n";
    case Operation::Close:
        return out + "int32_t " + name + "(int32_t handle)\n{\n"
            + "    return zem_close_device(&handle);\n}\n";
    case Operation::GetProfile:
        return out
            + "#include <stdlib.h>\n\n/* The profile text is returned in *text; free() it. */\n"
            + "int32_t " + name + "(int32_t handle, char **text)\n{\n"
            + "    return zem_get_profile(handle, text, malloc);\n}\n";
    case Operation::SetProfile:
        return out + "int32_t " + name + "(int32_t handle)\n{\n    return zem_set_profile(handle, "
            + cString(call.request(), call.requestSize) + ");\n}\n";
    case Operation::Command:
        break;
    }
    if (!c)
        return out;
    out += "int32_t " + name + "(int32_t handle)\n{\n";
    std::string args = "handle";
    if (c->request) {
        out += std::string("    ") + c->request->name + " request;\n";
        out += "    memset(&request, 0, sizeof request);\n";
        if (call.hasRequest && call.requestSize == c->request->size)
            out += fill(*c->request, "request", call.request());
        args += ", &request";
    }
    if (c->response) {
        out += std::string("    ") + c->response->name + " response;\n";
        out += "    memset(&response, 0, sizeof response);\n";
        args += ", &response";
    }
    out += "    return " + std::string(c->operation) + "(" + args + ");\n}\n";
    return out;
}

} // namespace zem::calls
