// zemctl history: runs, points, show, export and sync over the test history,
// JSON Lines out; runs and points also as aligned text.
#include "historyjob.h"

#include "application.h"

#include "capability.h"
#include "location.h"
#include "outputguard.h"
#include "printable.h"
#include "qatomicfile.h"
#include "store.h"
#include "zemctl.h"

#include <QBuffer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

using zemctl::HistoryJob;
using Json = nlohmann::ordered_json;

std::string text(const QString &s)
{
    return s.toStdString();
}

// Characters as a terminal shows them (UTF-8 continuation bytes add none).
std::size_t width(const std::string &s)
{
    return std::size_t(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

// A header and its rows in columns two spaces apart, each as wide as its
// widest cell; numbers (the columns in `right`) aligned on their last digit.
// Cells come from the history, so what could steer a terminal is escaped.
std::string aligned(std::vector<std::vector<std::string>> rows, const std::vector<bool> &right)
{
    std::vector<std::size_t> widths(right.size(), 0);
    for (auto &row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            row[c] = zemctl::printable(row[c]);
            widths[c] = std::max(widths[c], width(row[c]));
        }
    std::string out;
    for (const auto &row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - width(row[c]), ' ');
            line += (c ? "  " : "") + (right[c] ? pad + row[c] : row[c] + pad);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + '\n';
    }
    return out;
}

class History
{
public:
    explicit History(HistoryJob &job)
        : job(job)
    {
    }
    void run();

private:
    bool fail(int code, const std::string &message)
    {
        job.exitCode = code;
        job.message = message;
        return false;
    }
    bool print(const Json &j)
    {
        return write(j.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n');
    }
    bool write(const std::string &line)
    {
        if (std::fwrite(line.data(), 1, line.size(), stdout) == line.size())
            return true;
        return fail(zemctl::kExitFailed,
            std::string("cannot write to standard output: ") + std::strerror(errno));
    }
    bool filter(zem::history::RunFilter &f);
    // The run show means: the one whose UUID starts with job.run, or the
    // latest of job.serial; null after fail().
    QUuid chosenRun(zem::history::Store &store);
    void runs(zem::history::Store &store);
    void points(zem::history::Store &store);
    void show(zem::history::Store &store);
    void exportCsv(zem::history::Store &store);
    void sync(zem::history::Store &store);

    HistoryJob &job;
};

bool History::filter(zem::history::RunFilter &f)
{
    f.boardType = QString::fromStdString(job.board);
    f.boardSerial = QString::fromStdString(job.serial);
    f.verdict = QString::fromStdString(job.verdict);
    f.limit = job.limit;
    if (!job.since.empty()) {
        const QString s = QString::fromStdString(job.since);
        f.since = s.size() == 10
            ? QDateTime(QDate::fromString(s, Qt::ISODate), QTime(0, 0), Qt::UTC)
            : QDateTime::fromString(s, Qt::ISODateWithMs);
        if (!f.since.isValid())
            return fail(zemctl::kExitUsage,
                "--since " + zemctl::printable(job.since)
                    + ": expected YYYY-MM-DD or an ISO 8601 time");
    }
    return true;
}

Json runJson(const zem::history::RunSummary &s)
{
    const zem::history::Run &r = s.run;
    Json j { { "run", text(r.uuid.toString(QUuid::WithoutBraces)) }, { "board", text(r.boardType) },
        { "serial", text(r.boardSerial) }, { "station", text(r.station) },
        { "operator", text(r.operatorName) },
        { "started", text(r.started.toString(Qt::ISODateWithMs)) }, { "verdict", text(r.verdict) },
        { "points", s.pointCount }, { "failed", s.failedCount } };
    // A partial run says what it left untested, and why it stopped.
    if (!r.untested.isEmpty()) {
        Json untested = Json::array();
        for (const QString &name : r.untested)
            untested.push_back(text(name));
        j["untested"] = std::move(untested);
    }
    if (!r.stopReason.isEmpty())
        j["stopped"] = text(r.stopReason);
    return j;
}

void History::runs(zem::history::Store &store)
{
    zem::history::RunFilter f;
    if (!filter(f))
        return;
    const auto list = store.runs(f);
    if (!list)
        return void(fail(zemctl::kExitInput, text(store.errorString())));
    if (job.text) {
        std::vector<std::vector<std::string>> rows { { "started (UTC)", "board", "serial",
            "verdict", "failed", "points", "operator", "station", "run" } };
        for (const auto &s : *list) {
            const zem::history::Run &r = s.run;
            const QString started
                = r.started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            rows.push_back({ text(started), text(r.boardType), text(r.boardSerial),
                text(zem::history::verdictWords(r.verdict)), std::to_string(s.failedCount),
                std::to_string(s.pointCount), text(r.operatorName), text(r.station),
                text(r.uuid.toString(QUuid::WithoutBraces)) });
        }
        write(aligned(
            std::move(rows), { false, false, false, false, true, true, false, false, false }));
        return;
    }
    for (const auto &s : *list)
        if (!print(runJson(s)))
            return;
}

// A figure as JSON: null when there is none (NaN), as it is for too few boards.
Json figure(double value)
{
    return std::isfinite(value) ? Json(value) : Json();
}

std::string cell(double value, int decimals)
{
    return std::isfinite(value) ? text(QString::number(value, 'f', decimals)) : "-";
}

void History::points(zem::history::Store &store)
{
    if (job.board.empty())
        return void(fail(zemctl::kExitUsage, "history points needs --board"));
    if (job.cpk && !(job.rate > 0 && job.rate < 1))
        return void(fail(zemctl::kExitUsage,
            "--rate " + std::to_string(job.rate)
                + ": a false-fail rate between 0 and 1, e.g. 0.001"));
    const QString board = QString::fromStdString(job.board);
    const auto list = store.pareto(board);
    if (!list)
        return void(fail(zemctl::kExitInput, text(store.errorString())));
    std::map<QString, zem::history::Capability> capability;
    if (job.cpk) {
        QString error;
        const auto found = zem::history::capability(store, board, job.rate, &error);
        if (!found)
            return void(fail(zemctl::kExitInput, text(error)));
        for (const auto &c : *found)
            capability[c.point] = c;
    }
    // A point no good board scored has no figures.
    const auto of = [&](const QString &name) {
        const auto at = capability.find(name);
        return at == capability.end() ? zem::history::Capability() : at->second;
    };
    if (job.text) {
        std::vector<std::vector<std::string>> rows { { "point", "tested", "failed", "rate" } };
        if (job.cpk)
            for (const char *h : { "n", "mean", "sigma", "tolerance", "cpk", "suggested" })
                rows.front().push_back(h);
        for (const auto &p : *list) {
            rows.push_back({ text(p.name), std::to_string(p.tested), std::to_string(p.failed),
                text(QString::number(100 * p.rate, 'f', 1)) + " %" });
            if (!job.cpk)
                continue;
            const zem::history::Capability c = of(p.name);
            for (std::string s : { std::to_string(c.n), cell(c.mean, 2), cell(c.sigma, 2),
                     cell(c.tolerance, 2), cell(c.cpk, 2), cell(c.suggestedTolerance, 2) })
                rows.back().push_back(std::move(s));
        }
        std::vector<bool> right(rows.front().size(), true);
        right.front() = false;
        write(aligned(std::move(rows), right));
        return;
    }
    for (const auto &p : *list) {
        Json j { { "point", text(p.name) }, { "tested", p.tested }, { "failed", p.failed },
            { "rate", std::round(p.rate * 10000) / 10000 } };
        if (job.cpk) {
            const zem::history::Capability c = of(p.name);
            j["n"] = c.n;
            j["mean"] = figure(c.mean);
            j["sigma"] = figure(c.sigma);
            j["tolerance"] = figure(c.tolerance);
            j["cpk"] = figure(c.cpk);
            j["suggested_tolerance"] = figure(c.suggestedTolerance);
            j["suggested_from"] = zem::history::basisName(c.basis);
        }
        if (!print(j))
            return;
    }
}

QUuid History::chosenRun(zem::history::Store &store)
{
    if (job.run.empty() == job.serial.empty()) {
        fail(zemctl::kExitUsage,
            "history show takes a run's UUID (or its first characters) or --serial, one of them");
        return {};
    }
    if (!job.serial.empty()) {
        zem::history::RunFilter f;
        f.boardSerial = QString::fromStdString(job.serial);
        f.limit = 1;
        const auto latest = store.runs(f);
        if (!latest)
            fail(zemctl::kExitInput, text(store.errorString()));
        else if (latest->empty())
            fail(zemctl::kExitUsage, "no run of serial " + zemctl::printable(job.serial));
        return latest && !latest->empty() ? latest->front().run.uuid : QUuid();
    }
    const QString given = QString::fromStdString(job.run);
    if (const QUuid whole = QUuid::fromString(given); !whole.isNull())
        return whole;
    const auto found = store.runsWithPrefix(given);
    if (!found) {
        fail(zemctl::kExitInput, text(store.errorString()));
        return {};
    }
    if (found->size() == 1)
        return found->front();
    fail(zemctl::kExitUsage,
        found->empty() ? "no run " + zemctl::printable(job.run)
                       : "run " + zemctl::printable(job.run) + " is ambiguous: "
                + std::to_string(found->size()) + " runs start with it; give more of the UUID");
    return {};
}

void History::show(zem::history::Store &store)
{
    const QUuid id = chosenRun(store);
    if (id.isNull())
        return;
    const auto r = store.run(id);
    if (!r)
        return void(fail(zemctl::kExitInput,
            store.errorString().isEmpty() ? "no run " + text(id.toString(QUuid::WithoutBraces))
                                          : text(store.errorString())));
    zem::history::RunSummary s;
    s.run = *r;
    s.pointCount = int(r->points.size());
    for (const auto &p : r->points)
        s.failedCount += zem::history::isFailure(p.verdict, p.info);
    Json j = runJson(s);
    Json points = Json::array();
    for (const auto &p : r->points) {
        Json o { { "point", text(p.name) }, { "verdict", text(p.verdict) },
            { "score", p.score ? Json(*p.score) : Json() }, { "tolerance", p.tolerance },
            { "reading", text(p.reading) } };
        if (p.info)
            o["check"] = "info";
        if (!p.causeClass.isNull())
            o["cause"] = { { "class", text(p.causeClass) }, { "text", text(p.causeText) } };
        o["V"] = p.volts;
        o["mA"] = p.milliamps;
        if (!p.refVolts.empty() || !p.refMilliamps.empty())
            o["reference"] = { { "V", p.refVolts }, { "mA", p.refMilliamps } };
        points.push_back(std::move(o));
    }
    j["results"] = std::move(points);
    print(j);
}

void History::exportCsv(zem::history::Store &store)
{
    zem::history::RunFilter f;
    if (!filter(f))
        return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!store.exportCsv(f, &buffer))
        return void(fail(zemctl::kExitInput, text(store.errorString())));
    if (job.csv == "-") {
        if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout)
            != std::size_t(bytes.size()))
            fail(zemctl::kExitFailed, "cannot write to standard output");
        return;
    }
    const QString error = zem::files::writeFile(QString::fromStdString(job.csv), bytes);
    if (!error.isEmpty())
        fail(zemctl::kExitFailed, "cannot write " + job.csv + ": " + text(error));
}

void History::sync(zem::history::Store &store)
{
    const auto r = store.sync();
    print(Json { { "uploaded", r.uploaded }, { "already_there", r.alreadyThere },
        { "refused", r.refused }, { "waiting", r.waiting } });
    if (!r.ok)
        fail(zemctl::kExitFailed, "sync stopped: " + text(store.errorString()));
}

void History::run()
{
    QString error;
    const QString where
        = job.db.empty() ? zem::history::defaultLocationText() : QString::fromStdString(job.db);
    const auto location = zem::history::parseLocation(where, &error);
    if (!location)
        return void(fail(zemctl::kExitUsage,
            "history " + zemctl::printable(text(where)) + ": " + zemctl::printable(text(error))));
    // Anything written would replace the history it was read from.
    if (job.action == HistoryJob::Action::Export && job.csv != "-")
        if (const QString refused = sig::refusal(QString::fromStdString(job.csv),
                QStringLiteral("the CSV file"), sig::keptHistory(where));
            !refused.isEmpty())
            return void(fail(zemctl::kExitFailed, zemctl::printable(text(refused))));
    zemctl::ensureApplication();
    zem::history::Store store;
    const auto access = job.action == HistoryJob::Action::Sync ? zem::history::Store::Access::Write
                                                               : zem::history::Store::Access::Read;
    if (!store.open(*location, zem::history::defaultSpoolPath(), access))
        return void(fail(zemctl::kExitInput,
            "history " + zemctl::printable(text(location->text())) + ": "
                + zemctl::printable(text(store.errorString()))));
    switch (job.action) {
    case HistoryJob::Action::Runs:
        return runs(store);
    case HistoryJob::Action::Points:
        return points(store);
    case HistoryJob::Action::Show:
        return show(store);
    case HistoryJob::Action::Export:
        return exportCsv(store);
    case HistoryJob::Action::Sync:
        return sync(store);
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) void zemctl_history(HistoryJob *job)
{
    History(*job).run();
    std::fflush(stdout);
}
