// What a signature run prints, checks after the last point and keeps in the
// history.
#include "signaturerunner.h"

#include "application.h"
#include "boardprober.h"
#include "compare.h"
#include "historyrun.h"
#include "location.h"
#include "netcheck.h"
#include "printable.h"
#include "runoutputs.h"
#include "runsummary.h"
#include "store.h"
#include "symmetry.h"
#include "zemctl.h"

#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace zemctl::signature {

std::string shown(const QString &text)
{
    return zemctl::printable(text.toStdString());
}

bool Runner::prompt(const QString &point)
{
    std::fprintf(stderr, "zemctl: probe %s and press Enter (q to stop): ", shown(point).c_str());
    std::string line;
    return std::getline(std::cin, line) && line != "q" && !stopped();
}

bool Runner::printResult(const sig::RunRecord &record, int point)
{
    const sig::Signature &board = record.signature;
    const sig::Point &p = board.points[std::size_t(point)];
    const sig::PointResult &r = record.results[std::size_t(point)];
    nlohmann::ordered_json j;
    j["point"] = p.name.toStdString();
    j["score"] = std::isnan(r.score) ? nlohmann::ordered_json()
                                     : nlohmann::ordered_json(std::round(r.score * 100) / 100);
    j["tolerance"] = board.toleranceOf(p);
    j["verdict"] = sig::verdictName(r.verdict);
    j["reading"] = r.reading.text().toStdString();
    if (r.cause)
        j["cause"]
            = { { "class", r.cause->kindName() }, { "text", r.cause->text().toStdString() } };
    j["boards"] = p.boards();
    if (!p.net.isEmpty())
        j["net"] = p.net.toStdString();
    if (r.verdict == sig::Verdict::NetDisagrees) {
        nlohmann::ordered_json others = nlohmann::ordered_json::array();
        for (int k : r.netPoints)
            others.push_back(board.points[std::size_t(k)].name.toStdString());
        j["net_points"] = std::move(others);
    }
    if (!r.note.isEmpty())
        j["note"] = r.note.toStdString();
    if (!r.variant.isEmpty())
        j["variant"] = r.variant.toStdString();
    if (!r.predictedBy.isEmpty()) {
        j["origin"] = "predicted";
        j["models"] = r.predictedBy.toStdString();
    }
    if (r.info)
        j["check"] = "info";
    if (!r.likelyFaults.empty()) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const predict::LikelyFault &f : r.likelyFaults)
            list.push_back({ { "part", f.part.toStdString() }, { "fault", f.fault.toStdString() },
                { "match", std::round(f.match) } });
        j["likely_faults"] = std::move(list);
    }
    std::string line = j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    if (job.text) {
        const std::string name = shown(p.name);
        const QString score = std::isnan(r.score)
            ? QStringLiteral("-")
            : QString::number(std::round(r.score * 100) / 100, 'f', 2) + QStringLiteral(" %");
        line = name + std::string(nameWidth > name.size() ? nameWidth - name.size() : 0, ' ') + "  "
            + QString::fromLatin1(sig::verdictName(r.verdict)).leftJustified(13).toStdString()
            + "  " + score.rightJustified(8).toStdString() + "  tolerance "
            + QString::number(board.toleranceOf(p)).toStdString() + " %  "
            + shown(r.reading.text());
        if (r.verdict == sig::Verdict::NetDisagrees)
            line += "; " + shown(sig::netDisagreementText(board, p, r.netPoints));
        if (!r.note.isEmpty())
            line += "; note: " + shown(r.note);
        if (!r.variant.isEmpty())
            line += "; variant: " + shown(r.variant);
        if (r.info)
            line += "; for information only";
        if (!r.predictedBy.isEmpty())
            line += "; reference predicted (models " + shown(r.predictedBy) + ")";
        for (std::size_t k = 0; k < r.likelyFaults.size(); ++k)
            line += (k ? ", " : "; likely: ") + shown(predict::faultText(r.likelyFaults[k]));
    }
    return writeLine(std::move(line));
}

bool Runner::writeLine(std::string line)
{
    line += '\n';
    if (std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fflush(stdout) == 0)
        return true;
    fail(zemctl::kExitFailed,
        std::string("cannot write to standard output: ") + std::strerror(errno));
    return false;
}

bool Runner::checkDrift(
    motion::GantryProber &gantry, const sig::Signature &board, std::optional<double> *drift)
{
    QString error;
    const auto found = motion::recheckFiducial(
        gantry, board, *job.device, [this] { return stopped(); }, &error);
    if (!error.isEmpty()) {
        fail(zemctl::kExitDevice, error.toStdString());
        return false;
    }
    if (!found)
        return true;
    *drift = found->drift.mm;
    if (found->drift.beyond)
        std::fprintf(stderr,
            "zemctl: fiducial %s is %.2f mm from where it was taught: the board moved during the "
            "run; check its fixture and test again\n",
            shown(found->fiducial).c_str(), found->drift.mm);
    return true;
}

bool Runner::printSummary(const sig::RunRecord &record)
{
    const sig::BoardVerdict &verdict = record.verdict;
    const sig::Coverage &coverage = record.coverage;
    if (job.text) {
        std::string line = shown(record.signature.board)
            + (job.serial.empty() ? "" : " " + shown(QString::fromStdString(job.serial))) + ": "
            + shown(sig::boardVerdictHeadline(verdict));
        if (!coverage.complete)
            line += "; not tested: " + shown(record.untestedNames());
        return writeLine(std::move(line));
    }
    return writeLine(sig::runSummaryJson(record));
}

void Runner::setExitCode(const sig::RunRecord &record)
{
    // A compare asks of its points only; a test of the whole board.
    const sig::BoardVerdict verdict = job.mode == SignatureJob::Mode::Compare
        ? sig::boardVerdict(record.results, record.order)
        : record.verdict;
    switch (verdict.kind) {
    case sig::BoardVerdictKind::Pass:
        break;
    case sig::BoardVerdictKind::Fail:
    case sig::BoardVerdictKind::NoContact:
        job.exitCode = zemctl::kExitDifferent;
        break;
    case sig::BoardVerdictKind::Unstable:
        job.exitCode = zemctl::kExitUnstable;
        break;
    case sig::BoardVerdictKind::Partial:
        job.exitCode = zemctl::kExitIncomplete;
        break;
    }
}

bool Runner::openHistory(zem::history::Store &store)
{
    zemctl::ensureApplication();
    QString error;
    const QString text
        = job.db.empty() ? zem::history::defaultLocationText() : QString::fromStdString(job.db);
    const auto where = zem::history::parseLocation(text, &error);
    if (!where) {
        fail(zemctl::kExitUsage, "history " + shown(text) + ": " + shown(error));
        return false;
    }
    if (!store.open(*where)) {
        fail(zemctl::kExitInput,
            "history " + shown(where->text()) + ": " + shown(store.errorString()));
        return false;
    }
    return true;
}

bool Runner::keepRun(const sig::RunPlan &plan, const sig::RunRecord &record,
    std::optional<zem::history::Store> &history)
{
    QString error;
    if (!sig::writeOutputs(record, plan, &error)) {
        fail(zemctl::kExitFailed, shown(error));
        return false;
    }
    if (!plan.outputs.record)
        return true;
    if (!history) {
        history.emplace();
        if (!openHistory(*history)) {
            job.message = "the run was not recorded: " + job.message;
            return false;
        }
    }
    const zem::history::Run run = sig::historyRun(record);
    switch (history->record(run)) {
    case zem::history::Store::Outcome::Stored:
    case zem::history::Store::Outcome::AlreadyStored:
        break;
    case zem::history::Store::Outcome::Spooled:
        std::fprintf(stderr,
            "zemctl: the history server did not take the run (%s); run %s waits in the local "
            "spool for zemctl history sync\n",
            shown(history->errorString()).c_str(),
            run.uuid.toString(QUuid::WithoutBraces).toLatin1().constData());
        break;
    case zem::history::Store::Outcome::Failed:
        // The verdicts were printed; the run is not kept, and the status says so.
        fail(zemctl::kExitFailed, "the run was not recorded: " + shown(history->errorString()));
        return false;
    }
    return true;
}

void Runner::reportDisagreement(const sig::Signature &board, const std::vector<int> &order)
{
    std::vector<double> disagreements;
    for (int point : order) {
        const sig::Point &p = board.points[std::size_t(point)];
        double worst = 0;
        for (std::size_t m = 0; m < p.measurements.size(); ++m)
            worst = std::max(
                worst, sig::disagreement(p.measurements[m].references(), board.settingsOf(p, m)));
        disagreements.push_back(worst);
    }
    for (std::size_t k : sig::disagreeingPoints(disagreements, board.tolerance)) {
        const sig::Point &p = board.points[std::size_t(order[k])];
        std::fprintf(stderr,
            "zemctl: %s: its %d good boards disagree by %.0f %% (tolerance %.0f %%): a pot or a "
            "jumper? Raise its tolerance or drop it\n",
            shown(p.name).c_str(), p.boards(), disagreements[k], board.toleranceOf(p));
    }
}

bool Runner::printNets(
    const sig::Signature &board, const sig::Session &session, const std::vector<int> &order)
{
    const auto names = [&](const std::vector<int> &points) {
        std::vector<std::string> out;
        for (int k : points)
            out.push_back(board.points[std::size_t(k)].name.toStdString());
        return out;
    };
    for (const std::vector<int> &net : sig::sharedNets(board, order)) {
        const sig::NetAgreement a = session.netAgreement(net);
        if (!a.agree())
            job.exitCode = zemctl::kExitDifferent;
        // The points the net could not be judged on: no contact, unstable.
        std::vector<int> left;
        for (int k : net)
            if (std::find(a.points.begin(), a.points.end(), k) == a.points.end())
                left.push_back(k);
        std::string line;
        if (job.text) {
            QStringList said;
            for (const std::string &n : names(a.disagreeing))
                said << QString::fromStdString(n);
            line = shown(board.points[std::size_t(net.front())].net) + "  "
                + (a.agree() ? "agree" : "disagree: " + shown(said.join(QStringLiteral(", "))));
            if (!left.empty())
                line += "  (" + std::to_string(left.size()) + " not compared)";
        } else {
            nlohmann::ordered_json j;
            j["net"] = board.points[std::size_t(net.front())].net.toStdString();
            j["points"] = names(net);
            j["agree"] = a.agree();
            j["disagreeing"] = names(a.disagreeing);
            if (!left.empty())
                j["not_compared"] = names(left);
            line = j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        }
        if (!writeLine(std::move(line)))
            return false;
    }
    return true;
}

void Runner::printSymmetry(const sig::Signature &board, const std::vector<int> &order,
    const std::vector<sig::IvCurve> &measured)
{
    std::vector<sig::IvCurve> curves;
    for (int point : order)
        curves.push_back(measured[std::size_t(point)]);
    const auto members = sig::symmetry(curves, board.settings, board.tolerance);
    for (std::size_t k = 0; k < order.size() && k < members.size(); ++k) {
        const sig::GroupMember &m = members[k];
        nlohmann::ordered_json j;
        j["point"] = board.points[std::size_t(order[k])].name.toStdString();
        j["score"] = std::round(m.score * 100) / 100;
        j["tolerance"] = board.tolerance;
        j["verdict"] = m.outlier ? "different" : "pass";
        j["reading"] = sig::read(curves[k], board.settings).text().toStdString();
        if (m.outlier) {
            j["cause"]
                = { { "class", m.cause.kindName() }, { "text", m.cause.text().toStdString() } };
            job.exitCode = zemctl::kExitDifferent;
        }
        std::printf("%s\n",
            j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
    }
    std::fflush(stdout);
}

} // namespace zemctl::signature
