// The signature module's run of one learn, compare, test or symmetry job:
// the run itself (signaturemodule.cpp) and what it prints, checks and keeps
// (signatureoutput.cpp).
#pragma once

#include "signaturejob.h"

#include "gantryprober.h"
#include "runrecord.h"
#include "session.h"
#include "signature.h"

#include <optional>
#include <string>
#include <vector>

namespace zem::history {
class Store;
}

namespace zemctl::signature {

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
    bool printResult(const sig::RunRecord &record, int point);
    // The board's verdict after its points: one JSON line (with the
    // operator, the run's times and its coverage), or a headline; with a
    // machine, how far the board moved during the run.
    bool printSummary(const sig::RunRecord &record);
    // The exit status of a test's or compare's verdicts.
    void setExitCode(const sig::RunRecord &record);
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
    bool printNets(
        const sig::Signature &board, const sig::Session &session, const std::vector<int> &order);
    void printSymmetry(const sig::Signature &board, const std::vector<int> &order,
        const std::vector<sig::IvCurve> &measured);
    bool openHistory(zem::history::Store &store);
    // What a test run leaves, complete or not: the report and JUnit, then
    // the run in the history (opened here unless it is open), whole or not at
    // all; false, with the job failed, when one cannot be kept.
    bool keepRun(const sig::RunPlan &plan, const sig::RunRecord &record,
        std::optional<zem::history::Store> &history);

    zemctl::SignatureJob &job;
    std::size_t nameWidth = 0; // of the points' names, for aligned text lines
};

// learn --predict: the references from the board's parts (predictmodule.cpp).
void predict(zemctl::SignatureJob &job);

// A name as a terminal may show it.
std::string shown(const QString &text);

} // namespace zemctl::signature
