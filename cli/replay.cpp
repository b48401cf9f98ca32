// A call file as a regression test: each recorded request is sent again and
// the answer compared with the recorded one, field by field.
#include "zemctl.h"

#include "callfile.h"
#include "readfile.h"
#include "zem.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

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

// Every line of the file checked before anything is sent; the command calls
// kept (open, close and profile calls are not replayed), and the URL of the
// first open that returned a handle in url. Returns the errors, each naming
// its line; an unfinished last line is left out with a note.
std::vector<std::string> readCommandCalls(
    const std::string &fileName, std::vector<Entry> &calls, std::string &url)
{
    std::string text;
    if (std::string error
        = zem::files::readFile(fileName, zem::calls::kMaxCallFileSize, "a call file", text);
        !error.empty())
        return { error };
    std::vector<std::string> errors;
    const std::size_t unfinished = zem::calls::forEachCall(
        text,
        [&](std::size_t line, zem::calls::Call &call) {
            if (call.operation == zem::calls::Operation::Command)
                calls.push_back({ line, std::move(call) });
            else if (call.operation == zem::calls::Operation::Open && url.empty()
                && call.result == ZEM_RESULT_OK && call.hasRequest && call.requestSize > 0)
                url.assign(reinterpret_cast<const char *>(call.request()), call.requestSize);
        },
        [&](std::size_t line, const std::string &reason) {
            errors.push_back(fileName + ":" + std::to_string(line) + ": " + reason);
        });
    if (unfinished && errors.empty())
        printError(fileName + ": " + zem::calls::unfinishedNote(unfinished));
    return errors;
}

// Float fields within a tolerance: |a - b| <= max(absolute, relative x the
// larger magnitude). Everything else compares exactly.
struct Tolerance
{
    double relative = 0;
    double absolute = 0;

    bool parse(const std::string &text)
    {
        const std::size_t comma = text.find(',');
        return number(text.substr(0, comma), relative)
            && (comma == std::string::npos || number(text.substr(comma + 1), absolute));
    }
    bool same(const Json &a, const Json &b) const
    {
        if (a == b)
            return true;
        if (!a.is_number_float() || !b.is_number_float())
            return false;
        const double x = a.get<double>(), y = b.get<double>();
        return std::fabs(x - y)
            <= std::max(absolute, relative * std::max(std::fabs(x), std::fabs(y)));
    }

private:
    static bool number(const std::string &text, double &out)
    {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
        return !text.empty() && ec == std::errc() && end == text.data() + text.size()
            && std::isfinite(out) && out >= 0;
    }
};

} // namespace

int replayMain(Context &context, const std::string &fileName, const std::string &ignore,
    const std::string &toleranceText, bool pauses)
{
    Tolerance tolerance;
    if (!toleranceText.empty() && !tolerance.parse(toleranceText)) {
        printError("--tolerance: expected REL[,ABS], two numbers of 0 or more such as "
                   "0.01,0.001; got "
            + toleranceText);
        return kExitUsage;
    }
    const std::set<std::string> ignored = splitNames(ignore);
    for (const std::string &name : ignored)
        if (!isKnownField(name)) {
            printError("--ignore: no record has a field \"" + name + "\"");
            return kExitUsage;
        }
    std::vector<Entry> calls;
    std::string recordedUrl;
    const std::vector<std::string> errors = readCommandCalls(fileName, calls, recordedUrl);
    if (!errors.empty()) {
        for (std::size_t i = 0; i < errors.size() && i < 20; ++i)
            printError(errors[i]);
        if (errors.size() > 20)
            printError("... and " + std::to_string(errors.size() - 20) + " more errors");
        printError("nothing was replayed");
        return kExitInput;
    }
    // The device the file was recorded on, unless -u or ZEM_URL names another.
    if (context.options.url.empty()) {
        if (recordedUrl.empty()) {
            printError(fileName + " opened no device: use -u URL or set ZEM_URL");
            return kExitUsage;
        }
        context.options.url = recordedUrl;
        printError("replay: on " + recordedUrl + ", the device the file opened");
    }
    if (!context.openDevice())
        return context.openError;

    // A long file says how far it got, a tenth at a time, on standard error:
    // standard output keeps only the differences.
    const std::size_t progressStep
        = calls.size() > kReplayProgressAbove ? (calls.size() + 9) / 10 : 0;
    // Each call waits as long after the one before as it did when recorded
    // (a measurement needs that time), rounded up to the next millisecond
    // the file keeps, but never more than kMaxGap: a file may hold sessions
    // recorded hours apart.
    constexpr std::chrono::milliseconds kMaxGap = 60s;
    std::chrono::steady_clock::time_point previous;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const zem::calls::Call &call = calls[i].call;
        if (progressStep && i > 0 && i % progressStep == 0)
            std::fprintf(stderr, "zemctl: replay: %zu/%zu calls\n", i, calls.size());
        if (i > 0 && pauses) {
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
        const bool statusPoll = std::strcmp(c.name, "check_measurement_status") == 0
            && result == ZEM_RESULT_OK && call.result == ZEM_RESULT_OK;
        if (statusPoll && completed(call.response())) {
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
                // The other way round, a poll that now comes just after the end
                // instead of just before it, is as little a difference.
                if (ignored.count(f.name)
                    || (statusPoll && std::strcmp(f.name, "ReadyStatus") == 0
                        && !completed(call.response()) && completed(response.data())))
                    continue;
                const Json before = zem::codec::decodeField(f, call.response());
                const Json now = zem::codec::decodeField(f, response.data());
                if (tolerance.same(before, now))
                    continue;
                if (!before.is_array()) {
                    differences.push_back(std::string(f.name) + ": recorded " + valueText(before)
                        + ", now " + valueText(now));
                    continue;
                }
                // Arrays are long: the first element that differs, and how many do.
                std::size_t first = before.size(), count = 0;
                for (std::size_t k = 0; k < before.size(); ++k)
                    if (!tolerance.same(before[k], now[k])) {
                        first = std::min(first, k);
                        ++count;
                    }
                if (count == 0)
                    continue;
                differences.push_back(std::string(f.name) + "[" + std::to_string(first)
                    + "]: recorded " + valueText(before[first]) + ", now " + valueText(now[first])
                    + (count > 1 ? " (" + std::to_string(count) + " elements differ)" : ""));
            }
        }
        if (differences.empty())
            continue;
        ++differing;
        std::string out;
        for (const std::string &d : differences)
            out += fileName + ":" + std::to_string(calls[i].line) + ": " + c.name + ": " + d + '\n';
        if (!writeOutput(out))
            break;
    }
    std::fprintf(stderr, "zemctl: replay: %zu calls, %zu differ\n", calls.size(), differing);
    return differing ? kExitMismatch : kExitOk;
}

} // namespace zemctl
