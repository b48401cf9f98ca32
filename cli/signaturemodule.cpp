// The signature module: learn, compare and test a board through the window's
// measurement sequence and signature code, driven with sleeps.
#include "signaturejob.h"

#include "connection.h"
#include "proberun.h"
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

namespace {

using zemctl::SignatureJob;

class Runner
{
public:
    explicit Runner(SignatureJob &job)
        : job(job)
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
    // Asks for the probe on a terminal; false when the user stopped.
    bool prompt(const QString &point);
    void printResult(const sig::Signature &board, const sig::Session &session, int point);

    SignatureJob &job;
};

bool Runner::prompt(const QString &point)
{
    std::fprintf(
        stderr, "zemctl: probe %s and press Enter (q to stop): ", point.toLocal8Bit().constData());
    std::string line;
    return std::getline(std::cin, line) && line != "q" && !stopped();
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
    sig::ProbeRun::Options options;
    options.pollButton = job.button && job.mode != SignatureJob::Mode::Compare;
    options.autoMeasure
        = job.mode == SignatureJob::Mode::Compare || (!job.button && !job.prompt);
    bool failed = false;
    std::optional<sig::ProbeRun> run;
    run.emplace(*job.device, board, mode, options, order, [&](const sig::ProbeRun::Event &e) {
        using Event = sig::ProbeRun::Event;
        const QString name = e.point >= 0 ? board.points[std::size_t(e.point)].name : QString();
        switch (e.kind) {
        case Event::Waiting:
            if (job.button && job.prompt && options.pollButton)
                std::fprintf(stderr, "zemctl: probe %s and press the probe's button\n",
                    name.toLocal8Bit().constData());
            break;
        case Event::Measured:
        case Event::Measuring:
            break;
        case Event::PointDone:
            if (job.mode != SignatureJob::Mode::Learn) {
                printResult(run->signature(), run->session(), e.point);
                break;
            }
            // Saved after each point, so that a stop loses nothing learned.
            if (!sig::save(run->signature(), path, &error)) {
                fail(zemctl::kExitUsage, error.toStdString());
                failed = true;
                run->cancel();
            } else if (job.prompt) {
                std::fprintf(stderr, "zemctl: %s learned\n", name.toLocal8Bit().constData());
            }
            break;
        case Event::Failed:
            // A console run stops at the first failure.
            if (!failed)
                fail(zemctl::kExitResult, e.message.toStdString());
            failed = true;
            run->cancel();
            break;
        case Event::Ended:
            break;
        }
    });
    runToEnd(*run, [&] {
        if (stopped()) {
            if (!failed)
                fail(zemctl::kExitUsage, "interrupted");
            failed = true;
            return true;
        }
        if (run->waitingForTrigger() && job.prompt && !run->ended()) {
            const int point = run->point();
            if (!prompt(board.points[std::size_t(point)].name)) {
                fail(zemctl::kExitUsage,
                    "stopped before " + board.points[std::size_t(point)].name.toStdString());
                failed = true;
                return true;
            }
            run->trigger();
        }
        return false;
    });
    if (failed)
        return;
    const sig::Session &session = run->session();
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
