// One command from the command line: assignments in, the response out.
#include "zemctl.h"

#include "zem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zemctl {

using zem::codec::Json;

std::string parseAssignments(const zem::Command &c, const std::vector<std::string> &assignments,
    std::vector<std::uint8_t> &request)
{
    for (const std::string &a : assignments) {
        const std::size_t equals = a.find('=');
        if (equals == std::string::npos || equals == 0)
            return "expected Field=value, got \"" + a + "\"";
        const std::string name = a.substr(0, equals);
        if (!c.request)
            return std::string(c.name) + " takes no fields; got \"" + name + "\"";
        const zem::Field *f = zem::codec::findField(*c.request, name);
        if (!f)
            return zem::codec::unknownFieldError(*c.request, name);
        const std::string error = zem::codec::encodeFieldText(
            *f, std::string_view(a).substr(equals + 1), request.data());
        if (!error.empty())
            return error;
    }
    return {};
}

std::int32_t fillRequest(Context &context, const zem::Command &c,
    const std::vector<std::string> &assignments, std::vector<std::uint8_t> &request,
    std::string &error)
{
    const std::int32_t result
        = context.device.call(*findCommand(c.getter), nullptr, request.data());
    if (result != ZEM_RESULT_OK) {
        error = std::string(c.getter) + " (reading the fields not given) returned "
            + resultName(result) + "; nothing was set (--no-fill sends only the fields given)";
        return result;
    }
    parseAssignments(c, assignments, request);
    return result;
}

CommandRun runCommand(
    Context &context, const zem::Command &c, const std::vector<std::string> &assignments, bool fill)
{
    CommandRun run;
    run.command = &c;
    run.request.assign(c.request ? c.request->size : 0, 0);
    run.response.assign(c.response ? c.response->size : 0, 0);
    // Every value is checked before the device is asked anything.
    run.error = parseAssignments(c, assignments, run.request);
    if (!run.error.empty()) {
        run.exitCode = kExitUsage;
        return run;
    }
    if (!context.openDevice()) {
        run.exitCode = context.openError;
        run.error.clear(); // already printed
        return run;
    }
    if (fill && c.getter) {
        run.result = fillRequest(context, c, assignments, run.request, run.error);
        if (run.result != ZEM_RESULT_OK) {
            run.exitCode = kExitDevice;
            return run;
        }
    }
    run.result = context.device.call(
        c, c.request ? run.request.data() : nullptr, c.response ? run.response.data() : nullptr);
    run.called = true;
    if (run.result != ZEM_RESULT_OK) {
        run.exitCode = kExitDevice;
        run.error = zem::calls::resultMessage(c, run.result, run.request.data());
    }
    return run;
}

// The response is worth showing for 0, and for -3 as the window shows it.
static bool showsResponse(const CommandRun &run)
{
    return run.called && (run.result == ZEM_RESULT_OK || run.result == ZEM_RESULT_VALUE_ERROR);
}

std::string jsonOutput(const CommandRun &run, bool hex)
{
    const zem::Record *r = run.command->response;
    Json decoded = r ? zem::codec::decode(*r, run.response.data()) : Json::object();
    if (!hex)
        return decoded.dump();
    return Json {
        { "decoded", std::move(decoded) },
        { "hex", zem::codec::toHex(run.response.data(), run.response.size()) }
    }.dump();
}

std::string textOutput(const CommandRun &run, bool hex)
{
    const zem::Record *r = run.command->response;
    std::string text;
    if (r) {
        std::size_t width = 0;
        for (const zem::Field &f : r->fields)
            width = std::max(width, std::strlen(f.name));
        for (const zem::Field &f : r->fields) {
            std::string name = f.name;
            name.resize(width, ' ');
            text
                += name + " = " + valueText(zem::codec::decodeField(f, run.response.data())) + '\n';
        }
    }
    if (hex && r)
        text += "hex = " + zem::codec::toHex(run.response.data(), run.response.size()) + '\n';
    return text;
}

int commandMain(
    Context &context, const zem::Command &command, const std::vector<std::string> &assignments)
{
    const CommandRun run = runCommand(context, command, assignments, !context.options.noFill);
    if (showsResponse(run))
        writeOutput(context.format(Format::Json) == Format::Json
                ? jsonOutput(run, context.options.hex) + '\n'
                : textOutput(run, context.options.hex));
    if (!run.error.empty())
        printError(run.error);
    return run.exitCode;
}

int listMain(Context &context)
{
    std::string out;
    if (context.format(Format::Text) == Format::Json) {
        Json names = Json::array();
        for (const zem::Command &c : zem::kCommands)
            names.push_back(c.name);
        out = names.dump() + '\n';
    } else {
        for (const zem::Command &c : zem::kCommands)
            out += std::string(c.name) + '\n';
    }
    writeOutput(out);
    return kExitOk;
}

namespace {

Json fieldDescription(const zem::Field &f)
{
    Json names = Json::array();
    for (const zem::NamedValue &v : f.values)
        names.push_back({ { "name", v.name }, { "value", v.value },
            { "kind",
                v.kind == zem::ValueKind::Flag           ? "flag"
                    : v.kind == zem::ValueKind::Constant ? "constant"
                    : v.kind == zem::ValueKind::Limit    ? "limit"
                                                         : "frame size" } });
    Json d { { "name", f.name }, { "type", f.typeText } };
    if (f.unit)
        d["unit"] = f.unit;
    d["range"] = zem::codec::rangeText(f);
    if (const std::string limits = zem::codec::deviceRangeText(f); !limits.empty())
        d["device_range"] = limits;
    d["values"] = std::move(names);
    return d;
}

Json recordDescription(const zem::Record *r)
{
    if (!r)
        return nullptr;
    Json fields = Json::array();
    for (const zem::Field &f : r->fields)
        fields.push_back(fieldDescription(f));
    return { { "record", r->name }, { "size", r->size }, { "fields", std::move(fields) } };
}

std::string describeText(const char *title, const Json &record)
{
    if (record.is_null())
        return std::string(title) + ": none\n";
    std::string text = std::string(title) + ": " + record["record"].get<std::string>() + " ("
        + std::to_string(record["size"].get<int>()) + " bytes)\n";
    for (const Json &f : record["fields"]) {
        char line[300];
        std::snprintf(line, sizeof line, "  %-22s %-12s %-3s %s\n",
            f["name"].get<std::string>().c_str(), f["type"].get<std::string>().c_str(),
            f.value("unit", "").c_str(), f["range"].get<std::string>().c_str());
        text += line;
        for (const Json &v : f["values"]) {
            if (v["kind"] == "limit" || v["kind"] == "frame size")
                continue; // part of the range
            text += "      " + v["name"].get<std::string>() + " = "
                + std::to_string(v["value"].get<int>())
                + (v["kind"] == "flag" ? " (flag)\n" : "\n");
        }
    }
    return text;
}

} // namespace

int describeMain(Context &context, const std::string &name, bool fieldNamesOnly)
{
    const zem::Command *c = findCommand(name);
    if (!c) {
        printError("unknown command \"" + name + "\"; see zemctl list");
        return kExitUsage;
    }
    if (fieldNamesOnly) {
        std::string out;
        for (const zem::Field &f : c->request ? c->request->fields : zem::Span<zem::Field>())
            out += std::string(f.name) + "=\n";
        writeOutput(out);
        return kExitOk;
    }
    const Json d { { "command", c->name }, { "operation", c->operation },
        { "getter", c->getter ? Json(c->getter) : Json(nullptr) },
        { "request", recordDescription(c->request) },
        { "response", recordDescription(c->response) } };
    if (context.format(Format::Text) == Format::Json) {
        writeOutput(d.dump() + '\n');
        return kExitOk;
    }
    std::string text = std::string(c->name) + " calls " + c->operation + '\n';
    if (c->getter)
        text += std::string("fields not given are read with ") + c->getter + " first\n";
    text += describeText("request", d["request"]) + describeText("response", d["response"]);
    writeOutput(text);
    return kExitOk;
}

} // namespace zemctl
