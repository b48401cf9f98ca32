// Polling at a fixed rate. Tick k is due at start + k * period; a tick whose
// time has passed when the previous call returns is skipped, never sent late,
// so a slow call does not set off a burst of catch-up calls.
#include "module.h"
#include "zemctl.h"

#include "callfile.h"
#include "zem.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <sys/prctl.h>

namespace zemctl {

using zem::codec::Json;

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps until t on the clock steady_clock reads; false when a signal ended
// the wait early.
bool sleepUntil(Clock::time_point t)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch());
    timespec until { time_t(ns.count() / 1000000000), long(ns.count() % 1000000000) };
    for (;;) {
        const int error = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
        if (error == 0)
            return true;
        if (error != EINTR || interrupted)
            return false;
    }
}

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

} // namespace

int watchMain(Context &context, const std::string &name,
    const std::vector<std::string> &assignments, int periodMs, long long count,
    const std::vector<std::string> &fields)
{
    const zem::Command *c = findCommand(name);
    if (!c) {
        printError("unknown command \"" + name + "\"; see zemctl list");
        return kExitUsage;
    }
    for (const std::string &f : fields)
        if (!c->response || !zem::codec::findField(*c->response, f)) {
            printError(c->response ? zem::codec::unknownFieldError(*c->response, f)
                                   : std::string(c->name) + " has no response fields");
            return kExitUsage;
        }
    std::vector<std::uint8_t> request(c->request ? c->request->size : 0, 0);
    const std::string error = parseAssignments(*c, assignments, request);
    if (!error.empty()) {
        printError(error);
        return kExitUsage;
    }
    if (!context.openDevice())
        return context.openError;
    // Once, before the first tick: every tick then sends the same request.
    if (c->getter && !context.options.noFill) {
        std::string why;
        if (fillRequest(context, *c, assignments, request, why) != ZEM_RESULT_OK) {
            printError(why);
            return kExitDevice;
        }
    }

    catchInterrupts();

    // The kernel may otherwise wake the sleeper up to 50 us late, a twentieth
    // of a 1 ms period.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    const Clock::duration period = std::chrono::milliseconds(periodMs);
    std::vector<std::uint8_t> response(c->response ? c->response->size : 0, 0);
    long long calls = 0, missed = 0, failed = 0;
    long long tick = 0;
    int exitCode = kExitOk;
    const Clock::time_point start = Clock::now();
    while (!interrupted && (count == 0 || calls < count)) {
        const Clock::time_point due = start + tick * period;
        if (!sleepUntil(due))
            break;
        const auto wall = std::chrono::system_clock::now();
        const Clock::time_point called = Clock::now();
        const std::int32_t result = context.device.call(
            *c, c->request ? request.data() : nullptr, c->response ? response.data() : nullptr);
        ++calls;
        Json line { { "time",
                        zem::calls::toRfc3339(std::chrono::duration_cast<std::chrono::milliseconds>(
                            wall.time_since_epoch())
                                                  .count()) },
            { "elapsed_ms", msBetween(start, called) }, { "tick", tick }, { "result", result } };
        if (result != ZEM_RESULT_OK) {
            line["result_name"] = resultName(result);
            ++failed;
            exitCode = kExitDevice;
        }
        if (c->response && (result == ZEM_RESULT_OK || result == ZEM_RESULT_VALUE_ERROR)) {
            Json decoded = Json::object();
            if (fields.empty())
                decoded = zem::codec::decode(*c->response, response.data());
            else
                for (const std::string &f : fields)
                    decoded[f] = zem::codec::decodeField(
                        *zem::codec::findField(*c->response, f), response.data());
            line["response"] = std::move(decoded);
        }
        // How late this line leaves after its tick was due.
        line["lag_ms"] = msBetween(due, Clock::now());
        if (!writeOutput(line.dump() + '\n'))
            break;
        if (result == ZEM_DEVICE_UNDEFINED || result == ZEM_RESULT_NODEVICE) {
            printError(std::string(c->name) + " returned " + resultName(result)
                + "; the device is gone, watch ends");
            break;
        }
        if (interrupted || (count != 0 && calls >= count))
            break;
        // The next tick that has not yet passed; those passed are missed.
        const long long next = (Clock::now() - start) / period + 1;
        missed += std::max(0LL, next - tick - 1);
        tick = std::max(tick + 1, next);
    }
    std::fprintf(stderr, "zemctl: watch %s: %lld calls, %lld ticks missed, %lld failed%s\n",
        c->name, calls, missed, failed,
        interrupted && !context.recorder.failed() ? " (interrupted)" : "");
    releaseInterrupts();
    return exitCode;
}

} // namespace zemctl
