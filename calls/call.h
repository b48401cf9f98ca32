// One library call as the recorder keeps it: when, how long, what went to the
// device and what came back. Plain C++, so programs without a window can
// record, save and read calls too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zem {
struct Command;
}

namespace zem::calls {

// Who made a call. Curve is for the curve view's measurements, Cli for the
// command-line tool's calls, Signature for a board test's measurements and
// probe-button polls, Python for the calls of the Python package.
enum class Origin : std::uint8_t {
    Page,
    Periodic,
    Getter,
    Profile,
    Connection,
    Curve,
    Replay,
    Cli,
    Signature,
    Python
};

enum class Operation : std::uint8_t { Command, Open, Close, GetProfile, SetProfile };

inline constexpr std::uint8_t kNoCommand = 0xff;

struct Call
{
    std::int64_t wallMs = 0; // UTC, milliseconds since 1970
    std::int64_t durationNs = 0; // monotonic clock
    // The handle passed (for close: on entry; for open: -1). handleAfter is
    // what the caller's handle holds afterwards: the handle open returned, or
    // what close left.
    std::int32_t handle = -1;
    std::int32_t handleAfter = -1;
    // For open, which returns a handle: 0 when it returned one, -1 otherwise.
    std::int32_t result = 0;
    Operation operation = Operation::Command;
    std::uint8_t command = kNoCommand; // index into zem::kCommands for Operation::Command
    Origin origin = Origin::Page;
    // Whether a side exists at all: a command without a request record, or
    // close, has none; an empty text still is one.
    bool hasRequest = false;
    bool hasResponse = false;
    // Request bytes, then response bytes: records for commands, the URL for
    // open, the profile text for the profile calls.
    std::uint32_t requestSize = 0;
    std::vector<std::uint8_t> bytes;

    const std::uint8_t *request() const { return bytes.data(); }
    const std::uint8_t *response() const { return bytes.data() + requestSize; }
    std::size_t responseSize() const { return bytes.size() - requestSize; }
    // Copies other into this call, reusing this call's byte buffer.
    void assign(const Call &other);
    // Replaces both sides; null data means the side is absent.
    void setBytes(const void *request, std::size_t requestSize, const void *response,
        std::size_t responseSize);

    // The command called, or null for open, close and the profile calls.
    const zem::Command *commandEntry() const;
    // The library function: "zem_get_status", "zem_open_device", ...
    const char *operationName() const;
    // The command's page name, or the operation without "zem_" for the others.
    const char *commandName() const;
};

const char *originName(Origin origin);
std::optional<Origin> originFromName(std::string_view name);

// The one text of a result code, wherever one is shown or written: zemctl,
// call files, C snippets, Python, the calls dock ("result_value_error (-3)").
// A result is named by its exact value; one the library does not define says
// so with its signed number ("unknown (1)", "unknown (-6)").
std::string resultName(std::int32_t result);
// The window's log line alone names a code by its magnitude, a positive one
// by the name of its negative, as its logs have always shown it; any other
// code is its signed number ("-6", "17").
std::string logResultName(std::int32_t result);

// What a command's result means for its user, as zemctl and the window's
// status bar say it: "set_measurement_settings returned result_value_error
// (-3): NumberPoints 5: the device takes 10..1000". A -3 names the request's
// fields (request: the command's request record, or null) that lie outside
// what the instrument takes, where there are any.
std::string resultMessage(const zem::Command &command, std::int32_t result, const void *request);

// The index of the command in zem::kCommands whose library function is
// `operation`, or kNoCommand.
std::uint8_t commandByOperation(std::string_view operation);
std::uint8_t commandByName(std::string_view name);

} // namespace zem::calls
