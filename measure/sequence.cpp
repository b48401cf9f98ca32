#include "sequence.h"

#include "call.h"
#include "connection.h"
#include "records.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <time.h>

namespace {

// FrameNumber is 16 bits wide: frames beyond it cannot be asked for.
constexpr std::size_t kMaxFrames = std::size_t(std::numeric_limits<std::uint16_t>::max()) + 1;
// Beyond this a rate is not believable; the wait is cut rather than overflowing.
constexpr double kMaxExpectedSeconds = 24.0 * 3600.0;

std::chrono::nanoseconds expectedOf(const measurement_settings &s)
{
    // The device samples the charge points before the curve's own.
    const double samples = double(s.NumberPoints) + double(s.NumberChargePoints);
    const double rate = s.SamplingRate;
    if (!(rate > 0) || !std::isfinite(rate))
        return {};
    const double nanoseconds = std::min(samples * 1e9 / rate, kMaxExpectedSeconds * 1e9);
    return std::chrono::nanoseconds(std::llround(nanoseconds));
}

} // namespace

MeasurementSequence::MeasurementSequence(zem::Connection &device, CallObserver observer)
    : device(device)
    , observer(std::move(observer))
{
}

std::int32_t MeasurementSequence::call(const char *name, const void *request, void *response)
{
    const zem::Command &command = *zem::findCommand(name);
    const std::int32_t handle = device.handle();
    const std::int32_t code = device.call(command, request, response);
    if (observer)
        observer(SequenceCall { command, handle, request, response, code });
    return code;
}

std::optional<MeasurementSequence::Clock::time_point> MeasurementSequence::advance(
    Clock::time_point now)
{
    if (!begun) {
        begun = true;
        firstStep = now;
        due = now;
    }
    if (state != State::Done && now < due)
        return due;
    switch (state) {
    case State::ReadSettings: {
        if (!device.isOpen()) {
            finish(Outcome::NoDevice, tr("No device is connected"), now);
            return std::nullopt;
        }
        measurement_settings settings {};
        const std::int32_t code = call("get_measurement_settings", nullptr, &settings);
        if (code != ZEM_RESULT_OK) {
            fail("get_measurement_settings", code, now);
            return std::nullopt;
        }
        points.settings = settings;
        points.hasSettings = true;
        if (settings.NumberPoints == 0) {
            finish(
                Outcome::NothingToRead, tr("NumberPoints is 0: there is nothing to measure"), now);
            return std::nullopt;
        }
        frames = std::min<std::size_t>(
            (std::size_t(settings.NumberPoints) + FRAME_SIZE - 1) / FRAME_SIZE, kMaxFrames);
        pointCount = std::min<std::size_t>(settings.NumberPoints, frames * FRAME_SIZE);
        points.voltage.reserve(pointCount);
        points.current.reserve(pointCount);
        expected = expectedOf(settings);
        state = State::Start;
        return due = now;
    }
    case State::Start: {
        const std::int32_t code = call("start_measurement", nullptr, nullptr);
        if (code != ZEM_RESULT_OK) {
            fail("start_measurement", code, now);
            return std::nullopt;
        }
        points.started = QDateTime::currentDateTime();
        deadline = now + kTimeoutFactor * expected + kTimeoutSlack;
        state = State::Poll;
        return due = now + expected + kFirstPollSlack;
    }
    case State::Poll: {
        check_measurement_status_response status {};
        const std::int32_t code = call("check_measurement_status", nullptr, &status);
        if (code != ZEM_RESULT_OK) {
            fail("check_measurement_status", code, now);
            return std::nullopt;
        }
        if (status.ReadyStatus & MEASUREMENT_COMPLETE) {
            state = State::ReadFrames;
            return due = now;
        }
        if (now >= deadline) {
            const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
                kTimeoutFactor * expected + kTimeoutSlack);
            finish(Outcome::TimedOut,
                tr("The measurement did not complete within %1 ms").arg(limit.count()), now);
            return std::nullopt;
        }
        return due = std::min(now + kPollInterval, deadline);
    }
    case State::ReadFrames: {
        get_measurement_request request {};
        request.FrameNumber = std::uint16_t(nextFrame);
        get_measurement_response response {};
        const std::int32_t code = call("get_measurement", &request, &response);
        if (code != ZEM_RESULT_OK) {
            fail("get_measurement", code, now);
            return std::nullopt;
        }
        points.putFrame(nextFrame, response, pointCount);
        if (++nextFrame < frames)
            return due = now;
        points.complete = true;
        finish(Outcome::Complete, tr("%1 points read").arg(points.size()), now);
        return std::nullopt;
    }
    case State::Done:
        break;
    }
    return std::nullopt;
}

void MeasurementSequence::cancel()
{
    if (state == State::Done)
        return;
    const QString kept = framesKept();
    finish(Outcome::Cancelled, kept.isEmpty() ? tr("Cancelled") : tr("Cancelled; %1").arg(kept),
        begun ? Clock::now() : firstStep);
}

QString MeasurementSequence::framesKept() const
{
    if (frames == 0 || state != State::ReadFrames)
        return {};
    return tr("%1 of %2 frames kept").arg(nextFrame).arg(frames);
}

void MeasurementSequence::fail(const char *command, std::int32_t code, Clock::time_point now)
{
    failure = code;
    QString why = tr("%1 returned %2")
                      .arg(QLatin1String(zem::findCommand(command)->operation),
                          QString::fromStdString(zem::calls::resultName(code)));
    if (code == ZEM_DEVICE_UNDEFINED)
        why = tr("%1; the device was closed, connect again").arg(why);
    const QString kept = framesKept();
    if (!kept.isEmpty())
        why = tr("%1 (%2)").arg(why, kept);
    finish(Outcome::Failed, why, now);
}

void MeasurementSequence::finish(Outcome outcome, const QString &why, Clock::time_point now)
{
    state = State::Done;
    result = outcome;
    reason = why;
    points.complete = outcome == Outcome::Complete;
    points.duration = now - firstStep;
}

void sleepUntil(MeasurementSequence::Clock::time_point t)
{
    static_assert(MeasurementSequence::Clock::is_steady);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch());
    const timespec until { time_t(ns.count() / 1000000000), long(ns.count() % 1000000000) };
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
}
