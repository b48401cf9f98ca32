// The signature module's run of one learn, compare, test or symmetry job:
// the run itself (signaturemodule.cpp) and what it prints, checks and keeps
// (signatureoutput.cpp).
#pragma once

#include "signaturejob.h"

#include "boardverdict.h"
#include "gantryprober.h"
#include "proberun.h"
#include "session.h"
#include "signature.h"

#include <QDateTime>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zem::history {
class Store;
}

namespace zemctl::signature {

// Each point's wall time from the probe sent to it to its verdict (or to
// the failure that stopped the run there), from the run's events.
struct PointClock
{
    explicit PointClock(std::size_t points)
        : seconds(points)
    {
    }
    void see(const sig::ProbeRun::Event &e)
    {
        using Event = sig::ProbeRun::Event;
        // A net's verdicts come once its last point is done: no time of theirs.
        if (e.kind == Event::Judged)
            return;
        if (e.point >= 0 && e.point != point) {
            point = e.point;
            start = std::chrono::steady_clock::now();
        }
        if ((e.kind == Event::PointDone || e.kind == Event::Failed)
            && std::size_t(e.point) < seconds.size()) {
            seconds[std::size_t(e.point)]
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            point = -1;
        }
    }

    std::vector<double> seconds;
    int point = -1; // being timed
    std::chrono::steady_clock::time_point start;
};

// Where and why a failure of the device or machine stopped a run.
struct Stop
{
    int point = -1;
    QString why;
};

class Runner
{
public:
    explicit Runner(zemctl::SignatureJob &job)
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
    // Prints one point's result; false, with the job failed, when standard
    // output cannot be written.
    bool printResult(const sig::Signature &board, const sig::Session &session, int point);
    // The board's verdict after its points: one JSON line (with the
    // operator and the run's times), or a headline; with a machine, how far
    // the board moved during the run.
    bool printSummary(const sig::Signature &board, const sig::BoardVerdict &verdict,
        const QDateTime &started, std::optional<double> drift = std::nullopt);
    // After a machine's run: a taught fiducial probed again; false when the
    // machine failed (said), and the drift in *drift.
    bool checkDrift(
        motion::GantryProber &gantry, const sig::Signature &board, std::optional<double> *drift);
    bool writeLine(std::string line);
    // Learn, test, nets: leaves the points marked "skip" out of the order (a
    // test says so, a line each) and checks a variant can be learned at
    // every point left; false, with the job failed, when not.
    bool applyChecks(const sig::Signature &board, std::vector<int> &order);
    // After learning more boards: the points whose boards disagree too much.
    void reportDisagreement(const sig::Signature &board, const std::vector<int> &order);
    // zemctl nets: one line a net the run measured; false when standard
    // output cannot be written.
    bool printNets(const sig::Signature &board, const sig::Session &session,
        const std::vector<int> &order);
    void printSymmetry(const sig::Signature &board, const std::vector<int> &order,
        const std::vector<sig::IvCurve> &measured);
    // The run as JUnit XML to job.junit, with the point (if any) where a
    // failure stopped it; false, with the job failed, when it cannot be written.
    bool writeJUnit(const sig::Signature &board, const sig::Session &session,
        const std::vector<int> &order, const std::vector<double> &seconds, const QDateTime &started,
        const Stop &stop = {});
    bool openHistory(zem::history::Store &store);
    // Keeps a completed test run in the history, whole or not at all.
    void recordRun(zem::history::Store &store, const sig::Signature &board,
        const sig::Session &session, const std::vector<int> &order, const QDateTime &started);

    zemctl::SignatureJob &job;
    std::size_t nameWidth = 0; // of the points' names, for aligned text lines
};

// A name as a terminal may show it.
std::string shown(const QString &text);

} // namespace zemctl::signature
