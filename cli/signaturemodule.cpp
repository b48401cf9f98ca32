// The signature module: learn, compare and test a board through the window's
// measurement sequence and signature code, driven with sleeps.
#include "signaturerunner.h"

#include "application.h"
#include "boardprober.h"
#include "boardverdict.h"
#include "compare.h"
#include "connection.h"
#include "historyrun.h"
#include "location.h"
#include "netcheck.h"
#include "printable.h"
#include "probeorder.h"
#include "proberun.h"
#include "records.h"
#include "report.h"
#include "sequence.h"
#include "session.h"
#include "store.h"
#include "symmetry.h"
#include "zemctl.h"

#include <QFile>
#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zemctl::signature {

namespace {


// What identifies the file's content as this program last saw it: another
// program's save renames a new file into place (a new inode), an edit in
// place changes its time or size.
struct FileState
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};

    static FileState of(const std::string &path)
    {
        FileState f;
        struct stat info
        {
        };
        if (::stat(path.c_str(), &info) == 0)
            f = { true, info.st_dev, info.st_ino, info.st_size, info.st_mtim };
        return f;
    }
    bool operator==(const FileState &o) const
    {
        return exists == o.exists
            && (!exists
                || (device == o.device && inode == o.inode && size == o.size
                    && modified.tv_sec == o.modified.tv_sec
                    && modified.tv_nsec == o.modified.tv_nsec));
    }
};

// Holds the folder of a file locked while it lives, so that two learns
// check and save one after the other.
class FolderLock
{
public:
    explicit FolderLock(const QString &file)
        : fd(::open(QFile::encodeName(QFileInfo(file).absolutePath()).constData(),
            O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd >= 0)
            ::flock(fd, LOCK_EX);
    }
    ~FolderLock()
    {
        if (fd >= 0)
            ::close(fd); // releases the lock
    }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int fd;
};

} // namespace

void Runner::run()
{
    const QString path = QString::fromStdString(job.file);
    QString error;
    if (job.mode == SignatureJob::Mode::Test && (job.history || job.historyOrder)) {
        // A file written after the run would replace the history it is recorded in.
        const auto where = zem::history::parseLocation(
            job.db.empty() ? zem::history::defaultLocationText() : QString::fromStdString(job.db),
            nullptr);
        for (const auto &[option, value] :
            { std::pair { "--report ", &job.report }, std::pair { "--junit ", &job.junit } })
            if (where && !value->empty()
                && zem::history::isHistoryFile(QString::fromStdString(*value), *where))
                return fail(zemctl::kExitUsage,
                    option + *value
                        + " is the history itself (or its journal or spool); choose another name");
    }
    // Taken before reading: a change while it is read counts too.
    FileState seen = FileState::of(job.file);
    std::optional<sig::Signature> loaded;
    if ((job.mode == SignatureJob::Mode::Learn && !QFileInfo::exists(path))
        || (job.mode == SignatureJob::Mode::Symmetry && job.file.empty())) {
        loaded = sig::Signature();
        loaded->board = QFileInfo(path).completeBaseName();
        loaded->settings = sig::defaultSettings();
    } else {
        loaded = sig::load(path, &error);
        if (!loaded)
            return fail(zemctl::kExitUsage, error.toStdString());
    }
    sig::Signature &board = *loaded;

    const bool symmetry = job.mode == SignatureJob::Mode::Symmetry;
    if (symmetry && !job.group.empty()) {
        for (const sig::Point &p : board.points)
            if (p.group == QString::fromStdString(job.group))
                job.points.push_back(p.name.toStdString());
        if (job.points.empty())
            return fail(
                zemctl::kExitUsage, "no point of " + job.file + " is in group " + job.group);
    }
    std::vector<int> order;
    for (const std::string &name : job.points) {
        const QString n = QString::fromStdString(name).trimmed();
        if (n.isEmpty())
            continue;
        int index = board.find(n);
        if (index < 0 && job.mode != SignatureJob::Mode::Learn && !symmetry)
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
    const bool nets = job.mode == SignatureJob::Mode::Nets;
    if (nets) {
        // Only the points that share their net with another are measured.
        std::vector<char> shared(board.points.size(), 0);
        for (const std::vector<int> &net : sig::sharedNets(board, order))
            for (int k : net)
                shared[std::size_t(k)] = 1;
        order.erase(std::remove_if(order.begin(), order.end(),
                        [&](int k) { return !shared[std::size_t(k)]; }),
            order.end());
        if (order.empty())
            return fail(zemctl::kExitUsage,
                "no two points of " + job.file + " share a net: give the points their \"net\"");
    }
    if (!applyChecks(board, order))
        return;
    // Opened before the run only to order it; a run is recorded after its
    // verdicts and report, which a history that cannot be written must not cost.
    std::optional<zem::history::Store> history;
    if (job.mode == SignatureJob::Mode::Test && job.historyOrder) {
        history.emplace();
        if (!openHistory(*history))
            return;
    }
    if (job.historyOrder) {
        // The points this board type failed most often come first.
        const auto likely = history->probeOrder(board.board);
        if (!likely)
            return fail(zemctl::kExitUsage, history->errorString().toStdString());
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const auto rank = [&](int k) {
                const qsizetype at = likely->indexOf(board.points[std::size_t(k)].name);
                return at < 0 ? likely->size() : at;
            };
            return rank(a) < rank(b);
        });
    }
    // A machine brings the probe: the board placed by its taught fiducials,
    // each point found by its position, the order the shortest path if asked.
    std::unique_ptr<motion::GantryProber> machine;
    if (!job.prober.empty()) {
        if (job.mode != SignatureJob::Mode::Learn && job.mode != SignatureJob::Mode::Test && !nets)
            return fail(zemctl::kExitUsage, "--prober is for learn, test and nets");
        machine = motion::boardProber(QString::fromStdString(job.prober), board, order, &error);
        if (!machine)
            return fail(zemctl::kExitUsage, error.toStdString());
        if (job.pathOrder) {
            std::vector<QPointF> at;
            for (const motion::PlanePoint &p : motion::machineTargets(machine->config(), order))
                at.emplace_back(p.x, p.y);
            std::vector<int> path;
            for (int k : sig::shortestPath(at))
                path.push_back(order[std::size_t(k)]);
            order = std::move(path);
        }
    } else if (job.pathOrder) {
        return fail(zemctl::kExitUsage, "--order path needs a machine: give --prober");
    }
    // A run stopped at a point (a machine's alarm, Ctrl+C) goes on from there.
    if (!job.from.empty()) {
        const int from = board.find(QString::fromStdString(job.from).trimmed());
        const auto at = std::find(order.begin(), order.end(), from);
        if (at == order.end())
            return fail(zemctl::kExitUsage, "--from " + job.from + ": no such point in the run");
        order.erase(order.begin(), at);
    }
    motion::GantryProber *gantry = machine.get();
    const QDateTime started = QDateTime::currentDateTimeUtc();
    for (int point : order)
        nameWidth = std::max(nameWidth, shown(board.points[std::size_t(point)].name).size());

    // Pins compared with each other are measured as a board is learned, on a
    // copy that is never saved.
    const auto mode = job.mode == SignatureJob::Mode::Learn || symmetry ? sig::Session::Mode::Learn
                                                                        : sig::Session::Mode::Test;
    sig::ProbeRun::Options options;
    options.session.add = job.add;
    options.session.autoSettings = job.autoSettings;
    options.session.repeat = job.repeat;
    options.session.bomFactor = job.bomFactor;
    options.session.variant = QString::fromStdString(job.variant).trimmed();
    std::vector<sig::IvCurve> measured(board.points.size());
    options.pollButton = job.button && job.mode != SignatureJob::Mode::Compare;
    options.autoMeasure = job.mode == SignatureJob::Mode::Compare || job.onContact
        || (!job.button && !job.prompt);
    options.measureOnContact = job.onContact && job.mode != SignatureJob::Mode::Compare;
    if (machine) {
        // The machine says when the probe is down; a missed pad is tried lower.
        options.autoMeasure = true;
        options.pollButton = false;
        options.measureOnContact = false;
    }
    bool failed = false;
    bool outputBroken = false;
    PointClock clock(board.points.size());
    Stop stop; // where a failure of the device or machine ended the run
    std::optional<sig::ProbeRun> run;
    run.emplace(*job.device, board, mode, options, order, [&](const sig::ProbeRun::Event &e) {
        using Event = sig::ProbeRun::Event;
        clock.see(e);
        const QString name = e.point >= 0 ? board.points[std::size_t(e.point)].name : QString();
        switch (e.kind) {
        case Event::Waiting:
            if (job.button && job.prompt && options.pollButton)
                std::fprintf(
                    stderr, "zemctl: probe %s and press the probe's button\n", shown(name).c_str());
            break;
        case Event::Measured:
            if (e.measurement == 0)
                measured[std::size_t(e.point)] = e.curve;
            break;
        case Event::Measuring:
        case Event::Still:
            break;
        case Event::Retry:
            if (job.prompt)
                std::fprintf(stderr, "zemctl: %s: no contact, trying again\n", shown(name).c_str());
            break;
        case Event::Judged:
            // A point's line waits for its verdict to be final: on a net with
            // other points of the run, until the net's last point is measured
            // (or the run stops), so that each point has one line.
            if (symmetry || nets || outputBroken)
                break;
            if (!printResult(run->signature(), run->session(), e.point)) {
                outputBroken = failed = true;
                run->cancel();
            }
            break;
        case Event::PointDone:
            if (job.mode != SignatureJob::Mode::Learn)
                break;
            // Saved after each point, so that a stop loses nothing learned;
            // never over points another program saved since the file was read.
            if (const FolderLock lock(path); !(FileState::of(job.file) == seen)) {
                fail(zemctl::kExitUsage,
                    job.file + " changed since it was read (another learn?); " + shown(name)
                        + " was not saved, so the points saved there are kept. Learn it again.");
                failed = true;
                run->cancel();
            } else if (!sig::save(run->signature(), path, &error)) {
                fail(zemctl::kExitUsage, error.toStdString());
                failed = true;
                run->cancel();
            } else {
                seen = FileState::of(job.file);
                if (job.prompt)
                    std::fprintf(stderr, "zemctl: %s learned\n", shown(name).c_str());
            }
            break;
        case Event::Failed:
            // A console run stops at the first failure; a point's own failure
            // (a machine that halted there) can be taken up again.
            if (!failed && e.point >= 0)
                stop = { e.point, e.message };
            if (!failed)
                fail(zemctl::kExitResult,
                    e.message.toStdString()
                        + (e.point >= 0 && job.mode != SignatureJob::Mode::Compare
                                ? "; go on with --from " + shown(name)
                                : std::string()));
            failed = true;
            run->cancel();
            break;
        case Event::Ended:
            break;
        }
    }, std::move(machine));
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
    if (failed) {
        // The points before are kept in JUnit too: the one that stopped the
        // run an error, the ones not reached skipped.
        if (stop.point >= 0 && job.mode == SignatureJob::Mode::Test && !job.junit.empty()) {
            const int code = job.exitCode;
            const std::string why = job.message;
            if (!writeJUnit(board, run->session(), order, clock.seconds, started, stop))
                fail(code, why + "; " + job.message);
        }
        return;
    }
    std::optional<double> drift;
    if (gantry && !checkDrift(*gantry, board, &drift))
        return;
    const sig::Session &session = run->session();
    if (job.mode == SignatureJob::Mode::Learn)
        return reportDisagreement(run->signature(), order);
    if (symmetry)
        return printSymmetry(run->signature(), order, measured);
    if (nets) {
        printNets(run->signature(), session, order);
        return;
    }
    if (job.mode == SignatureJob::Mode::Test
        && !printSummary(board, sig::boardVerdict(session.results(), order), started, drift))
        return;
    if (!job.report.empty()) {
        sig::ReportInfo info;
        info.serial = QString::fromStdString(job.serial);
        info.operatorName = QString::fromStdString(job.operatorName);
        info.instrument = sig::instrumentIdentity(*job.device);
        info.started = started;
        info.finished = QDateTime::currentDateTimeUtc();
        if (!sig::writeReport(board, session.results(), info, QString::fromStdString(job.report),
                &error))
            return fail(zemctl::kExitUsage, error.toStdString());
    }
    if (!job.junit.empty() && !writeJUnit(board, session, order, clock.seconds, started))
        return;
    bool unstable = false;
    for (int point : order) {
        const sig::PointResult &r = session.results()[std::size_t(point)];
        const sig::Verdict v = r.verdict;
        // As in the board's verdict: a point for information fails nothing.
        if (r.info && v != sig::Verdict::NotTested)
            continue;
        unstable |= v == sig::Verdict::Unstable;
        if (v != sig::Verdict::Pass && v != sig::Verdict::Unstable)
            job.exitCode = zemctl::kExitDifferent;
    }
    if (unstable && job.exitCode == 0)
        job.exitCode = zemctl::kExitUnstable;
    if (job.history && job.mode == SignatureJob::Mode::Test) {
        if (!history) {
            history.emplace();
            const int verdicts = job.exitCode;
            if (!openHistory(*history)) {
                job.message = "the run was not recorded: " + job.message;
                return;
            }
            job.exitCode = verdicts;
        }
        recordRun(*history, board, session, order, started);
    }
}

} // namespace zemctl::signature

extern "C" __attribute__((visibility("default"))) void zemctl_signature(zemctl::SignatureJob *job)
{
    zemctl::signature::Runner(*job).run();
}
