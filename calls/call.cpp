#include "call.h"

#include "codec.h"
#include "records.h"
#include "zem.h"

#include <cstring>
#include <iterator>

namespace zem::calls {

namespace {

const char *const kOrigins[] = { "page", "periodic", "getter", "profile", "connection", "curve",
    "replay", "cli", "signature", "python" };

const char *const kResults[] = {
    "result_ok 0",
    "device_undefined (-1)",
    "result_not_implemented (-2)",
    "result_value_error (-3)",
    "result_nodevice (-4)",
    "result_timeout (-5)",
};

} // namespace

void Call::setBytes(const void *req, std::size_t reqSize, const void *resp, std::size_t respSize)
{
    hasRequest = req != nullptr;
    hasResponse = resp != nullptr;
    if (!req)
        reqSize = 0;
    if (!resp)
        respSize = 0;
    requestSize = std::uint32_t(reqSize);
    // assign and insert keep the vector's capacity, so a reused call allocates
    // only when it meets larger bytes than before.
    const auto *r = static_cast<const std::uint8_t *>(req);
    const auto *s = static_cast<const std::uint8_t *>(resp);
    bytes.assign(r, r + reqSize);
    bytes.insert(bytes.end(), s, s + respSize);
}

void Call::assign(const Call &o)
{
    wallMs = o.wallMs;
    durationNs = o.durationNs;
    handle = o.handle;
    handleAfter = o.handleAfter;
    result = o.result;
    operation = o.operation;
    command = o.command;
    origin = o.origin;
    hasRequest = o.hasRequest;
    hasResponse = o.hasResponse;
    requestSize = o.requestSize;
    bytes.assign(o.bytes.begin(), o.bytes.end());
}

const zem::Command *Call::commandEntry() const
{
    return operation == Operation::Command && command < zem::kCommandCount
        ? &zem::kCommands[command]
        : nullptr;
}

const char *Call::operationName() const
{
    switch (operation) {
    case Operation::Command:
        return commandEntry() ? commandEntry()->operation : "";
    case Operation::Open:
        return "zem_open_device";
    case Operation::Close:
        return "zem_close_device";
    case Operation::GetProfile:
        return "zem_get_profile";
    case Operation::SetProfile:
        return "zem_set_profile";
    }
    return "";
}

const char *Call::commandName() const
{
    if (const zem::Command *c = commandEntry())
        return c->name;
    return operationName() + std::strlen("zem_");
}

const char *originName(Origin origin)
{
    const auto i = std::size_t(origin);
    return i < std::size(kOrigins) ? kOrigins[i] : "";
}

std::optional<Origin> originFromName(std::string_view name)
{
    for (std::size_t i = 0; i < std::size(kOrigins); ++i)
        if (name == kOrigins[i])
            return Origin(i);
    return std::nullopt;
}

std::string resultName(std::int32_t result)
{
    if (result <= 0 && result > -std::int32_t(std::size(kResults)))
        return kResults[-result];
    return "unknown (" + std::to_string(result) + ")";
}

std::string logResultName(std::int32_t result)
{
    // Widened first: the magnitude of INT32_MIN does not fit in 32 bits.
    const std::int64_t magnitude = result < 0 ? -std::int64_t(result) : result;
    if (magnitude < std::int64_t(std::size(kResults)))
        return kResults[magnitude];
    return std::to_string(result);
}

std::string resultMessage(const zem::Command &command, std::int32_t result, const void *request)
{
    std::string text = std::string(command.name) + " returned " + resultName(result);
    // A setter's -3 most often means a value the instrument does not take.
    if (result == ZEM_RESULT_VALUE_ERROR && command.request && request)
        if (const std::string outside = zem::codec::outsideDeviceLimits(*command.request, request);
            !outside.empty())
            text += ": " + outside;
    return text;
}

std::uint8_t commandByOperation(std::string_view operation)
{
    for (std::size_t i = 0; i < zem::kCommandCount; ++i)
        if (operation == zem::kCommands[i].operation)
            return std::uint8_t(i);
    return kNoCommand;
}

std::uint8_t commandByName(std::string_view name)
{
    for (std::size_t i = 0; i < zem::kCommandCount; ++i)
        if (name == zem::kCommands[i].name)
            return std::uint8_t(i);
    return kNoCommand;
}

} // namespace zem::calls
