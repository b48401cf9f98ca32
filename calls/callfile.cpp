#include "callfile.h"

#include "atomicfile.h"
#include "readfile.h"

#include "callring.h"
#include "codec.h"
#include "records.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace zem::calls {

namespace {

using Json = nlohmann::ordered_json;

bool isTextOperation(Operation op)
{
    return op == Operation::Open || op == Operation::GetProfile || op == Operation::SetProfile;
}

const char *const kOperations[]
    = { "", "zem_open_device", "zem_close_device", "zem_get_profile", "zem_set_profile" };

// The record of one side of a command, or null when it has none.
const Record *recordOf(const Call &call, bool request)
{
    const zem::Command *c = call.commandEntry();
    return c ? (request ? c->request : c->response) : nullptr;
}

Json sideJson(const Call &call, bool request)
{
    const bool present = request ? call.hasRequest : call.hasResponse;
    if (!present)
        return nullptr;
    const std::uint8_t *data = request ? call.request() : call.response();
    const std::size_t size = request ? call.requestSize : call.responseSize();
    Json side = Json::object();
    if (isTextOperation(call.operation)) {
        side["text"] = std::string(reinterpret_cast<const char *>(data), size);
    } else if (const Record *r = recordOf(call, request); r && r->size == size) {
        side["decoded"] = codec::decode(*r, data);
    }
    side["hex"] = codec::toHex(data, size);
    return side;
}

// Reads one side into bytes; "" or the reason.
std::string sideFromJson(const Json &json, const char *key, const Call &call, bool request,
    std::vector<std::uint8_t> &bytes, bool &present)
{
    const auto it = json.find(key);
    const Record *record = recordOf(call, request);
    const bool expected = record
        || (request ? call.operation == Operation::Open || call.operation == Operation::SetProfile
                    : call.operation == Operation::GetProfile);
    present = it != json.end() && !it->is_null();
    bytes.clear();
    if (!present)
        return expected && call.operation != Operation::GetProfile
            ? std::string("'") + key + "' is missing"
            : std::string();
    if (!expected)
        return std::string("'") + key + "' must be null for " + call.operationName();
    if (!it->is_object())
        return std::string("'") + key + "' is not an object";
    const auto hex = it->find("hex");
    if (hex != it->end()) {
        if (!hex->is_string() || !codec::fromHex(hex->get_ref<const std::string &>(), bytes))
            return std::string("'") + key + ".hex' is not hex bytes";
        if (record && bytes.size() != record->size)
            return std::string("'") + key + ".hex' holds " + std::to_string(bytes.size())
                + " bytes, " + record->name + " has " + std::to_string(record->size);
        return {};
    }
    if (record) {
        const auto decoded = it->find("decoded");
        if (decoded == it->end() || !decoded->is_object())
            return std::string("'") + key + "' has neither 'hex' nor a 'decoded' object";
        bytes.assign(record->size, 0);
        const std::string error = codec::encode(*record, *decoded, bytes.data());
        return error.empty() ? error : std::string("'") + key + ".decoded': " + error;
    }
    const auto text = it->find("text");
    if (text == it->end() || !text->is_string())
        return std::string("'") + key + "' has neither 'hex' nor 'text'";
    const std::string &s = text->get_ref<const std::string &>();
    bytes.assign(s.begin(), s.end());
    return {};
}

bool int32Of(const Json &json, const char *key, std::int32_t &value)
{
    const auto it = json.find(key);
    if (it == json.end() || !it->is_number_integer())
        return false;
    const std::int64_t v = it->get<std::int64_t>();
    if (it->is_number_unsigned() && it->get<std::uint64_t>() > std::uint64_t(INT32_MAX))
        return false;
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    value = std::int32_t(v);
    return true;
}

} // namespace

Json callJson(const Call &call)
{
    Json j = Json::object();
    j["version"] = kCallFileVersion;
    j["time"] = toRfc3339(call.wallMs);
    j["duration_us"] = double(call.durationNs) / 1000.0;
    j["operation"] = call.operationName();
    j["command"] = call.commandName();
    j["origin"] = originName(call.origin);
    j["handle"] = call.handle;
    if (call.operation == Operation::Open || call.operation == Operation::Close)
        j["handle_after"] = call.handleAfter;
    j["result"] = call.result;
    j["result_name"] = resultName(call.result);
    j["request"] = sideJson(call, true);
    j["response"] = sideJson(call, false);
    return j;
}

std::string callLine(const Call &call)
{
    // Texts (URLs, profiles) are the user's bytes, not always UTF-8.
    return callJson(call).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string callText(const Call &call, bool hex)
{
    std::string text = std::string(call.commandName()) + ' ' + resultName(call.result);
    for (const bool request : { true, false }) {
        const Json side = sideJson(call, request);
        if (side.is_null())
            continue;
        text += request ? " | request:" : " | response:";
        if (side.contains("text"))
            text += ' ' + side["text"].dump(-1, ' ', false, Json::error_handler_t::replace);
        if (side.contains("decoded"))
            for (const auto &[name, value] : side["decoded"].items())
                if (name.compare(0, 8, "Reserved") != 0)
                    text += ' ' + name + '=' + codec::valueText(value);
        if (hex)
            text += " [" + side["hex"].get<std::string>() + ']';
    }
    return text;
}

std::string callFromJson(const Json &j, Call &call)
{
    if (!j.is_object())
        return "not a JSON object";
    const auto version = j.find("version");
    if (version == j.end() || !version->is_number_integer())
        return "'version' is missing or not an integer";
    if (*version != kCallFileVersion)
        return "version " + version->dump() + " is not supported (this program reads version "
            + std::to_string(kCallFileVersion) + ")";

    call = Call();
    const auto time = j.find("time");
    if (time == j.end() || !time->is_string()
        || !fromRfc3339(time->get_ref<const std::string &>(), call.wallMs))
        return "'time' is not an RFC 3339 time";
    const auto duration = j.find("duration_us");
    if (duration == j.end() || !duration->is_number() || !std::isfinite(duration->get<double>())
        || duration->get<double>() < 0 || duration->get<double>() > 9e12)
        return "'duration_us' is not a number of microseconds";
    call.durationNs = std::llround(duration->get<double>() * 1000.0);

    const auto operation = j.find("operation");
    if (operation == j.end() || !operation->is_string())
        return "'operation' is missing";
    const std::string &op = operation->get_ref<const std::string &>();
    call.command = commandByOperation(op);
    if (call.command != kNoCommand) {
        call.operation = Operation::Command;
        const auto command = j.find("command");
        if (command != j.end() && !command->is_null()
            && (!command->is_string() || *command != zem::kCommands[call.command].name))
            return "'command' does not name the command of " + op;
    } else {
        bool known = false;
        for (std::size_t i = 1; i < std::size(kOperations); ++i)
            if (op == kOperations[i]) {
                call.operation = Operation(i);
                known = true;
            }
        if (!known)
            return "unknown operation '" + op + "'";
    }

    const auto origin = j.find("origin");
    const auto o = origin != j.end() && origin->is_string()
        ? originFromName(origin->get_ref<const std::string &>())
        : std::nullopt;
    if (!o)
        return "'origin' is not one of page, periodic, getter, profile, connection, curve, replay, "
               "cli, signature";
    call.origin = *o;
    if (!int32Of(j, "handle", call.handle))
        return "'handle' is not a 32-bit integer";
    // Only open and close change the caller's handle; others keep it.
    call.handleAfter = call.handle;
    if ((call.operation == Operation::Open || call.operation == Operation::Close)
        && j.contains("handle_after") && !int32Of(j, "handle_after", call.handleAfter))
        return "'handle_after' is not a 32-bit integer";
    if (!int32Of(j, "result", call.result))
        return "'result' is not a 32-bit integer";

    std::vector<std::uint8_t> request, response;
    bool hasRequest = false, hasResponse = false;
    std::string error = sideFromJson(j, "request", call, true, request, hasRequest);
    if (error.empty())
        error = sideFromJson(j, "response", call, false, response, hasResponse);
    if (!error.empty())
        return error;
    call.setBytes(hasRequest ? request.data() : nullptr, request.size(),
        hasResponse ? response.data() : nullptr, response.size());
    // An empty vector's data() may be null: presence is kept apart.
    call.hasRequest = hasRequest;
    call.hasResponse = hasResponse;
    return {};
}

std::size_t forEachCall(std::string_view text,
    const std::function<void(std::size_t line, Call &call)> &onCall,
    const std::function<void(std::size_t line, const std::string &reason)> &onBad)
{
    std::size_t number = 0;
    Call call;
    while (!text.empty()) {
        ++number;
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.find_first_not_of(" \t\r") == std::string_view::npos)
            continue;
        const Json j = Json::parse(line, nullptr, /*allow_exceptions=*/false);
        const std::string reason = j.is_discarded() ? "not valid JSON" : callFromJson(j, call);
        if (reason.empty())
            onCall(number, call);
        else if (newline == std::string_view::npos && j.is_discarded())
            return line.size(); // cut short while it was written
        else
            onBad(number, reason);
    }
    return 0;
}

bool readCallText(
    std::string_view text, std::vector<Call> &calls, std::string &error, std::string *note)
{
    std::vector<Call> read;
    error.clear();
    const std::size_t unfinished = forEachCall(
        text, [&](std::size_t, Call &call) { read.push_back(std::move(call)); },
        [&](std::size_t line, const std::string &reason) {
            if (error.empty())
                error = "line " + std::to_string(line) + ": " + reason;
        });
    if (!error.empty()) {
        calls.clear();
        return false;
    }
    if (note)
        *note = unfinishedNote(unfinished);
    calls = std::move(read);
    return true;
}

std::string unfinishedNote(std::size_t bytes)
{
    return bytes ? "the last line is unfinished (" + std::to_string(bytes)
            + " bytes, as a write cut short leaves it); it was left out"
                 : std::string();
}

bool readCallFile(
    const std::string &path, std::vector<Call> &calls, std::string &error, std::string *note)
{
    std::string text;
    error = zem::files::readFile(path, kMaxCallFileSize, "a call file", text);
    if (!error.empty()) {
        calls.clear();
        return false;
    }
    return readCallText(text, calls, error, note);
}

bool writeCallFile(const std::string &path, std::size_t count,
    const std::function<const Call &(std::size_t)> &at, std::string &error)
{
    zem::files::AtomicFile file(path);
    error = file.open();
    if (!error.empty())
        return false;
    std::string buffer;
    for (std::size_t i = 0; i < count; ++i) {
        buffer += callLine(at(i));
        buffer += '\n';
        if (buffer.size() >= (1u << 16)) {
            file.write(buffer);
            buffer.clear();
        }
    }
    file.write(buffer);
    error = file.commit();
    return error.empty();
}

bool writeCallFile(const std::string &path, const CallRing &ring, std::string &error)
{
    return writeCallFile(
        path, ring.size(), [&ring](std::size_t i) -> const Call & { return ring.at(i); }, error);
}

} // namespace zem::calls
