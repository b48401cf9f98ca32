// A call file as a regression test: each recorded request is sent again and
// the answer compared with the recorded one, field by field.
#include "zemctl.h"

#include "callfile.h"
#include "zem.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

#include <sys/stat.h>

namespace zemctl {

using zem::codec::Json;
using namespace std::chrono_literals;

namespace {

std::set<std::string> splitNames(const std::string &list)
{
    std::set<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        if (comma > start)
            names.insert(list.substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

bool isKnownField(const std::string &name)
{
    for (const zem::Command &c : zem::kCommands)
        for (const zem::Record *r : { c.request, c.response })
            if (r && zem::codec::findField(*r, name))
                return true;
    return false;
}

struct Entry
{
    std::size_t line;
    zem::calls::Call call;
};

bool completed(const std::uint8_t *statusResponse)
{
    check_measurement_status_response status;
    std::memcpy(&status, statusResponse, sizeof status);
    return status.ReadyStatus & MEASUREMENT_COMPLETE;
}

// How long a replayed measurement may take beyond its recorded time.
constexpr std::chrono::seconds kMaxCompletionWait { 10 };

// Call files larger than this are refused before reading.
constexpr std::uintmax_t kMaxCallFileSize = std::uintmax_t(256) << 20;

// Every line of the file checked before anything is sent; the command calls
// kept (open, close and profile calls are not replayed). Returns the errors,
// each naming its line.
std::vector<std::string> readCommandCalls(const std::string &fileName, std::vector<Entry> &calls)
{
    struct stat info
    {
    };
    if (stat(fileName.c_str(), &info) != 0)
        return { "cannot read " + fileName + ": " + std::strerror(errno) };
    if (!S_ISREG(info.st_mode))
        return { fileName + " is not a regular file" };
    if (std::uintmax_t(info.st_size) > kMaxCallFileSize)
        return { fileName + " is too large for a call file (more than "
            + std::to_string(kMaxCallFileSize) + " bytes)" };
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return { "cannot read " + fileName + ": " + std::strerror(errno) };
    std::vector<std::string> errors;
    std::string text;
    for (std::size_t number = 1; std::getline(in, text); ++number) {
        if (text.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        const auto json = nlohmann::ordered_json::parse(text, nullptr, false);
        Entry entry { number, {} };
        const std::string why
            = json.is_discarded() ? "not valid JSON" : zem::calls::callFromJson(json, entry.call);
        if (!why.empty())
            errors.push_back(fileName + ":" + std::to_string(number) + ": " + why);
        else if (entry.call.operation == zem::calls::Operation::Command)
            calls.push_back(std::move(entry));
    }
    if (in.bad())
        errors.push_back("cannot read " + fileName + ": " + std::strerror(errno));
    return errors;
}

} // namespace

int replayMain(Context &context, const std::string &fileName, const std::string &ignore)
{
    const std::set<std::string> ignored = splitNames(ignore);
    for (const std::string &name : ignored)
        if (!isKnownField(name)) {
            printError("--ignore: no record has a field \"" + name + "\"");
            return kExitUsage;
        }
    std::vector<Entry> calls;
    const std::vector<std::string> errors = readCommandCalls(fileName, calls);
    if (!errors.empty()) {
        for (std::size_t i = 0; i < errors.size() && i < 20; ++i)
            printError(errors[i]);
        if (errors.size() > 20)
            printError("... and " + std::to_string(errors.size() - 20) + " more errors");
        printError("nothing was replayed");
        return kExitUsage;
    }
    if (!context.openDevice())
        return kExitUsage;

    // Each call waits as long after the one before as it did when recorded
    // (a measurement needs that time), rounded up to the next millisecond
    // the file keeps, but never more than kMaxGap: a file may hold sessions
    // recorded hours apart.
    constexpr std::chrono::milliseconds kMaxGap = 60s;
    std::chrono::steady_clock::time_point previous;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const zem::calls::Call &call = calls[i].call;
        if (i > 0) {
            const auto gap = std::chrono::milliseconds(call.wallMs - calls[i - 1].call.wallMs);
            if (gap > decltype(gap)::zero())
                std::this_thread::sleep_until(
                    previous + std::min<std::chrono::milliseconds>(gap + 1ms, kMaxGap));
        }
        previous = std::chrono::steady_clock::now();
        const zem::Command &c = *call.commandEntry();
        std::vector<std::uint8_t> response(c.response ? c.response->size : 0, 0);
        std::int32_t result = context.device.call(
            c, c.request ? call.request() : nullptr, c.response ? response.data() : nullptr);
        // A measurement ends when the instrument's clock says so, not when
        // the file's does: a status poll that saw it complete is repeated
        // until it is complete again, so a busy machine does not turn into
        // a difference in every frame read after it.
        if (std::strcmp(c.name, "check_measurement_status") == 0 && result == ZEM_RESULT_OK
            && call.result == ZEM_RESULT_OK && completed(call.response())) {
            const auto deadline = std::chrono::steady_clock::now() + kMaxCompletionWait;
            while (!completed(response.data()) && std::chrono::steady_clock::now() < deadline
                && result == ZEM_RESULT_OK) {
                std::this_thread::sleep_for(10ms);
                result = context.device.call(c, nullptr, response.data());
            }
        }
        std::vector<std::string> differences;
        if (result != call.result)
            differences.push_back(
                "result: recorded " + resultName(call.result) + ", now " + resultName(result));
        const bool answered = [](std::int32_t r) {
            return r == ZEM_RESULT_OK || r == ZEM_RESULT_VALUE_ERROR;
        }(result);
        if (c.response && answered && result == call.result) {
            for (const zem::Field &f : c.response->fields) {
                if (ignored.count(f.name))
                    continue;
                const Json before = zem::codec::decodeField(f, call.response());
                const Json now = zem::codec::decodeField(f, response.data());
                if (before == now)
                    continue;
                if (!before.is_array()) {
                    differences.push_back(std::string(f.name) + ": recorded " + valueText(before)
                        + ", now " + valueText(now));
                    continue;
                }
                // Arrays are long: the first element that differs, and how many do.
                std::size_t first = before.size(), count = 0;
                for (std::size_t k = 0; k < before.size(); ++k)
                    if (before[k] != now[k]) {
                        first = std::min(first, k);
                        ++count;
                    }
                differences.push_back(std::string(f.name) + "[" + std::to_string(first)
                    + "]: recorded " + valueText(before[first]) + ", now " + valueText(now[first])
                    + (count > 1 ? " (" + std::to_string(count) + " elements differ)" : ""));
            }
        }
        if (differences.empty())
            continue;
        ++differing;
        for (const std::string &d : differences)
            std::printf("%s:%zu: %s: %s\n", fileName.c_str(), calls[i].line, c.name, d.c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "zemctl: replay: %zu calls, %zu differ\n", calls.size(), differing);
    return differing ? kExitMismatch : kExitOk;
}

} // namespace zemctl
