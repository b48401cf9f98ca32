// A call file as a regression test: each recorded request is sent again and
// the answer compared with the recorded one, field by field.
#include "zemctl.h"

#include "zem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

namespace zemctl {

using zem::codec::Json;

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

} // namespace

int replayMain(Context &context, const std::string &fileName, const std::string &ignore)
{
    const std::set<std::string> ignored = splitNames(ignore);
    for (const std::string &name : ignored)
        if (!isKnownField(name)) {
            printError("--ignore: no record has a field \"" + name + "\"");
            return kExitUsage;
        }
    std::vector<CallEntry> calls;
    const std::vector<std::string> errors = readCallFile(fileName, calls);
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
    constexpr auto kMaxGap = std::chrono::seconds(60);
    std::chrono::steady_clock::time_point previous;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const CallEntry &call = calls[i];
        if (i > 0) {
            const auto gap = call.time - calls[i - 1].time;
            if (gap > decltype(gap)::zero())
                std::this_thread::sleep_until(previous
                    + std::min<std::chrono::system_clock::duration>(
                        gap + std::chrono::milliseconds(1), kMaxGap));
        }
        previous = std::chrono::steady_clock::now();
        const zem::Command &c = *call.command;
        std::vector<std::uint8_t> response(c.response ? c.response->size : 0, 0);
        const std::int32_t result = context.device.call(
            c, c.request ? call.request.data() : nullptr, c.response ? response.data() : nullptr);
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
                const Json before = zem::codec::decodeField(f, call.response.data());
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
            std::printf("%s:%d: %s: %s\n", fileName.c_str(), call.line, c.name, d.c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "zemctl: replay: %zu calls, %zu differ\n", calls.size(), differing);
    return differing ? kExitMismatch : kExitOk;
}

} // namespace zemctl
