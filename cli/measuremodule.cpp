// The measure subcommand's module: the window's measurement sequence, driven
// with sleeps, and its exporters.
#include "measurejob.h"

#include "curveexport.h"
#include "sequence.h"
#include "zemctl.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

using Clock = MeasurementSequence::Clock;

// False when a signal ended the wait early.
bool sleepUntil(Clock::time_point t)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch());
    timespec until { time_t(ns.count() / 1000000000), long(ns.count() % 1000000000) };
    return clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == 0;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void zemctl_measure(zemctl::MeasureJob *job)
{
    std::int32_t handle = job->handle;
    Clock::time_point stepStart;
    std::int64_t wallStartMs = 0;
    zem::calls::Call record;
    MeasurementSequence sequence(handle, [&](const SequenceCall &call) {
        if (!job->observer)
            return;
        zem::calls::Call &r = record;
        r.operation = zem::calls::Operation::Command;
        r.command = zem::calls::commandByName(call.command.name);
        r.origin = zem::calls::Origin::Cli;
        r.handle = call.handle;
        r.handleAfter = handle;
        r.result = call.result;
        // One library call per step: the step's time is the call's.
        r.wallMs = wallStartMs;
        r.durationNs
            = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - stepStart)
                  .count();
        r.setBytes(call.request, call.command.request ? call.command.request->size : 0,
            call.response, call.command.response ? call.command.response->size : 0);
        job->observer(job->observerContext, r);
    });

    std::size_t shownFrames = ~std::size_t(0);
    for (;;) {
        if (job->interrupted && *job->interrupted)
            sequence.cancel();
        stepStart = Clock::now();
        wallStartMs = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::system_clock::now().time_since_epoch())
                          .count();
        const auto next = sequence.advance(stepStart);
        if (job->progress && sequence.framesRead() != shownFrames && sequence.frameCount()) {
            shownFrames = sequence.framesRead();
            std::fprintf(stderr, "\rzemctl: measuring: %zu of %zu frames", shownFrames,
                sequence.frameCount());
        }
        if (!next)
            break;
        sleepUntil(*next);
    }
    if (job->progress && shownFrames != ~std::size_t(0))
        std::fputc('\n', stderr);

    switch (sequence.outcome()) {
    case MeasurementSequence::Outcome::Complete:
        break;
    case MeasurementSequence::Outcome::Failed:
    case MeasurementSequence::Outcome::TimedOut:
    case MeasurementSequence::Outcome::NoDevice:
        job->exitCode = zemctl::kExitResult;
        job->message = sequence.message().toStdString() + "; nothing was written";
        return;
    default:
        job->exitCode = zemctl::kExitUsage;
        job->message = sequence.message().toStdString() + "; nothing was written";
        return;
    }
    const QByteArray bytes = job->csv ? curveCsv(sequence.curve()) : curveJson(sequence.curve());
    if (job->fileName.empty()) {
        if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout)
                != std::size_t(bytes.size())
            || std::fflush(stdout) != 0) {
            job->exitCode = zemctl::kExitUsage;
            job->message = "cannot write the curve to standard output";
        }
        return;
    }
    const QString error = writeFileAtomically(QString::fromStdString(job->fileName), bytes);
    if (!error.isEmpty()) {
        job->exitCode = zemctl::kExitUsage;
        job->message = "cannot write " + job->fileName + ": " + error.toStdString();
    }
}
