// Call files: every library call as one JSON line, appended as it happens,
// and read back for a replay. Each line carries "v": 1, the wall-clock time
// (RFC 3339, ms) and duration, operation, command, origin, handle, result
// and its name, and the request and response records as
// {"decoded": {...}, "hex": "..."} (null where the call has none). Keys a
// reader does not know are ignored.
#pragma once

#include "codec.h"
#include "device.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zemctl {

inline constexpr int kCallFileVersion = 1;

// "2026-12-07T16:30:00.123Z"
std::string rfc3339(std::chrono::system_clock::time_point t);

// The line for one call, without the line break.
std::string callLine(const CallRecord &call, const char *origin);

// Appends lines to a file, each with a single write so that lines of
// programs recording to the same file do not mix.
class CallFileWriter
{
public:
    CallFileWriter() = default;
    ~CallFileWriter();
    CallFileWriter(const CallFileWriter &) = delete;
    CallFileWriter &operator=(const CallFileWriter &) = delete;

    // "" or why the file cannot be appended to.
    std::string open(const std::string &fileName);
    bool isOpen() const { return fd >= 0; }
    // "" or why the line was not written.
    std::string append(const std::string &line);

private:
    int fd = -1;
    std::string name;
};

// One call read from a call file: the command, its records' bytes and what
// it answered.
struct CallEntry
{
    int line = 0;
    const zem::Command *command = nullptr;
    std::vector<std::uint8_t> request; // empty where the command has none
    std::vector<std::uint8_t> response;
    std::int32_t result = 0;
    std::chrono::system_clock::time_point time; // when it was called
};

// Reads rfc3339's form back; false for anything else.
bool parseRfc3339(const std::string &text, std::chrono::system_clock::time_point &t);

// Reads a whole call file. Lines of calls that are not commands (profiles)
// are left out. Returns the errors, each naming its line; empty when every
// line is valid.
std::vector<std::string> readCallFile(const std::string &fileName, std::vector<CallEntry> &calls);

// Call files larger than this are refused before reading.
inline constexpr std::uintmax_t kMaxCallFileSize = std::uintmax_t(256) << 20;

} // namespace zemctl
