// The signature module: learn, compare and test a board through the window's
// measurement sequence and signature code, driven with sleeps.
#include "signaturejob.h"

#include "devicecalls.h"
#include "records.h"
#include "report.h"
#include "sequence.h"
#include "session.h"
#include "zemctl.h"

#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

namespace {

using Clock = MeasurementSequence::Clock;
using zemctl::SignatureJob;

constexpr auto kButtonPoll = std::chrono::milliseconds(50);

class Runner
{
public:
    explicit Runner(SignatureJob &job)
        : job(job)
        , handle(job.handle)
    {
    }

    void run();

private:
    bool stopped() const { return job.interrupted && *job.interrupted; }
    void fail(int code, const std::string &message)
    {
        job.exitCode = code;
        job.message = message;
    }
    std::int32_t call(const char *name, const void *request, void *response);
    void observe(const zem::Command &command, std::int32_t h, const void *request,
        const void *response, std::int32_t result, Clock::time_point started);
    bool waitForProbe(const QString &point);
    bool measure(const measurement_settings &settings, sig::IvCurve &curve);
    bool measurePoint(sig::Session &session, int point);
    void printResult(const sig::Signature &board, const sig::Session &session, int point);

    SignatureJob &job;
    std::int32_t handle;
};

std::int32_t Runner::call(const char *name, const void *request, void *response)
{
    const zem::Command *command = nullptr;
    for (const zem::Command &c : zem::kCommands)
        if (std::strcmp(c.name, name) == 0)
            command = &c;
    const Clock::time_point started = Clock::now();
    const std::int32_t h = handle;
    const std::int32_t result = callCommand(*command, h, request, response);
    closeIfUndefined(handle, result);
    observe(*command, h, request, response, result, started);
    return result;
}

// Hands the call to zemctl's device, which records it and closes its handle
// when the device answered -1.
void Runner::observe(const zem::Command &c, std::int32_t h, const void *request,
    const void *response, std::int32_t result, Clock::time_point started)
{
    if (!job.observer)
        return;
    zem::calls::Call r;
    r.operation = zem::calls::Operation::Command;
    r.command = zem::calls::commandByName(c.name);
    r.origin = zem::calls::Origin::Cli;
    r.handle = h;
    r.handleAfter = handle;
    r.result = result;
    const auto took = Clock::now() - started;
    r.wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        (std::chrono::system_clock::now() - took).time_since_epoch())
                   .count();
    r.durationNs = std::chrono::duration_cast<std::chrono::nanoseconds>(took).count();
    r.setBytes(
        request, c.request ? c.request->size : 0, response, c.response ? c.response->size : 0);
    job.observer(job.observerContext, r);
}

// Asks for the probe on a terminal, or waits for the probe's button; false
// when the user or a signal stopped the run.
bool Runner::waitForProbe(const QString &point)
{
    if (job.button) {
        if (job.prompt)
            std::fprintf(stderr, "zemctl: probe %s and press the probe's button\n",
                point.toLocal8Bit().constData());
        reset_events_request rq {};
        rq.IOEventsRst = 0x0F;
        reset_events_response rs {};
        if (call("reset_events", &rq, &rs) != ZEM_RESULT_OK) {
            fail(zemctl::kExitResult, "reset_events failed");
            return false;
        }
        for (;;) {
            if (stopped()) {
                fail(zemctl::kExitUsage, "interrupted");
                return false;
            }
            get_status_response st {};
            const std::int32_t result = call("get_status", nullptr, &st);
            if (result != ZEM_RESULT_OK) {
                fail(zemctl::kExitResult,
                    "get_status returned "
                        + QStringLiteral("%1").arg(resultText(result)).toStdString());
                return false;
            }
            if (st.IOEvents & 0x0F) {
                rq.IOEventsRst = st.IOEvents & 0x0F;
                call("reset_events", &rq, &rs);
            }
            if (st.IOEvents
                & (IOEVENTS_GEN_PROBE_BUTTON_PRESSED | IOEVENTS_RECV_PROBE_BUTTON_PRESSED))
                return true;
            std::this_thread::sleep_for(kButtonPoll);
        }
    }
    if (!job.prompt)
        return true;
    std::fprintf(
        stderr, "zemctl: probe %s and press Enter (q to stop): ", point.toLocal8Bit().constData());
    std::string line;
    if (!std::getline(std::cin, line) || line == "q" || stopped()) {
        fail(zemctl::kExitUsage, "stopped before " + point.toStdString());
        return false;
    }
    return true;
}

bool Runner::measure(const measurement_settings &settings, sig::IvCurve &curve)
{
    measurement_settings s = settings;
    const std::int32_t result = call("set_measurement_settings", &s, nullptr);
    if (result != ZEM_RESULT_OK) {
        fail(zemctl::kExitResult,
            "set_measurement_settings returned " + resultText(result).toStdString());
        return false;
    }
    Clock::time_point stepStart;
    MeasurementSequence sequence(handle, [&](const SequenceCall &c) {
        observe(c.command, c.handle, c.request, c.response, c.result, stepStart);
    });
    for (;;) {
        if (stopped())
            sequence.cancel();
        stepStart = Clock::now();
        const auto next = sequence.advance(stepStart);
        if (!next)
            break;
        std::this_thread::sleep_until(*next);
    }
    if (sequence.outcome() != MeasurementSequence::Outcome::Complete) {
        fail(sequence.outcome() == MeasurementSequence::Outcome::Cancelled ? zemctl::kExitUsage
                                                                           : zemctl::kExitResult,
            sequence.message().toStdString());
        return false;
    }
    const Curve &c = sequence.curve();
    curve.volts.assign(c.voltage.begin(), c.voltage.end());
    curve.milliamps.assign(c.current.begin(), c.current.end());
    return true;
}

// Measures the session's current point with each of its settings.
bool Runner::measurePoint(sig::Session &session, int point)
{
    while (!session.done() && session.point() == point) {
        sig::IvCurve curve;
        if (!measure(session.settings(), curve))
            return false;
        session.record(curve);
    }
    return true;
}

void Runner::printResult(const sig::Signature &board, const sig::Session &session, int point)
{
    const sig::Point &p = board.points[std::size_t(point)];
    const sig::PointResult &r = session.results()[std::size_t(point)];
    nlohmann::ordered_json j;
    j["point"] = p.name.toStdString();
    j["score"] = std::isnan(r.score) ? nlohmann::ordered_json()
                                     : nlohmann::ordered_json(std::round(r.score * 100) / 100);
    j["tolerance"] = board.toleranceOf(p);
    j["verdict"] = sig::verdictName(r.verdict);
    j["reading"] = r.reading.text().toStdString();
    std::printf("%s\n", j.dump().c_str());
    std::fflush(stdout);
}

void Runner::run()
{
    const QString path = QString::fromStdString(job.file);
    QString error;
    std::optional<sig::Signature> loaded;
    if (job.mode == SignatureJob::Mode::Learn && !QFileInfo::exists(path)) {
        loaded = sig::Signature();
        loaded->board = QFileInfo(path).completeBaseName();
        loaded->settings = sig::defaultSettings();
    } else {
        loaded = sig::load(path, &error);
        if (!loaded)
            return fail(zemctl::kExitUsage, error.toStdString());
    }
    sig::Signature &board = *loaded;

    std::vector<int> order;
    for (const std::string &name : job.points) {
        const QString n = QString::fromStdString(name).trimmed();
        if (n.isEmpty())
            continue;
        int index = board.find(n);
        if (index < 0 && job.mode != SignatureJob::Mode::Learn)
            return fail(zemctl::kExitUsage, "no point named " + name + " in " + job.file);
        if (index < 0) {
            board.points.emplace_back();
            board.points.back().name = n;
            index = int(board.points.size()) - 1;
        }
        order.push_back(index);
    }
    if (job.points.empty())
        for (std::size_t k = 0; k < board.points.size(); ++k)
            order.push_back(int(k));
    if (order.empty())
        return fail(zemctl::kExitUsage, "no points: name them with --points");

    const auto mode = job.mode == SignatureJob::Mode::Learn ? sig::Session::Mode::Learn
                                                            : sig::Session::Mode::Test;
    sig::Session session(board, mode);
    for (int point : order) {
        session.select(point);
        const QString &name = board.points[std::size_t(point)].name;
        if (job.mode != SignatureJob::Mode::Compare && !waitForProbe(name))
            return;
        if (!measurePoint(session, point))
            return;
        if (job.mode == SignatureJob::Mode::Learn) {
            // Saved after each point, so that a stop loses nothing learned.
            if (!sig::save(board, path, &error))
                return fail(zemctl::kExitUsage, error.toStdString());
            if (job.prompt)
                std::fprintf(stderr, "zemctl: %s learned\n", name.toLocal8Bit().constData());
        } else {
            printResult(board, session, point);
        }
    }
    if (job.mode == SignatureJob::Mode::Learn)
        return;
    if (!job.report.empty()
        && !sig::writeReport(board, session.results(), QDateTime::currentDateTime(),
            QString::fromStdString(job.report), &error))
        return fail(zemctl::kExitUsage, error.toStdString());
    for (int point : order)
        if (session.results()[std::size_t(point)].verdict != sig::Verdict::Pass)
            job.exitCode = zemctl::kExitDifferent;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void zemctl_signature(SignatureJob *job)
{
    Runner(*job).run();
}
