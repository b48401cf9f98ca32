// The signature module: learn, compare and test a board through the window's
// measurement sequence and signature code, driven with sleeps.
#include "signaturerunner.h"

#include "boardtest.h"
#include "connection.h"
#include "location.h"
#include "netcheck.h"
#include "runoutputs.h"
#include "sequence.h"
#include "store.h"
#include "zemctl.h"

#include <QFile>
#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

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
            return fail(zemctl::kExitInput, error.toStdString());
    }
    sig::Signature &board = *loaded;

    const bool symmetry = job.mode == SignatureJob::Mode::Symmetry;
    const bool nets = job.mode == SignatureJob::Mode::Nets;
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
    if (nets) {
        // Only the points that share their net with another are measured.
        std::vector<char> shared(board.points.size(), 0);
        for (const std::vector<int> &net : sig::sharedNets(board, order))
            for (int k : net)
                shared[std::size_t(k)] = 1;
        order.erase(std::remove_if(
                        order.begin(), order.end(), [&](int k) { return !shared[std::size_t(k)]; }),
            order.end());
        if (order.empty())
            return fail(zemctl::kExitUsage,
                "no two points of " + job.file + " share a net: give the points their \"net\"");
    }
    if (!applyChecks(board, order))
        return;
    if (!job.prober.empty() && job.mode != SignatureJob::Mode::Learn
        && job.mode != SignatureJob::Mode::Test && !nets)
        return fail(zemctl::kExitUsage, "--prober is for learn, test and nets");
    if (job.pathOrder && job.prober.empty())
        return fail(zemctl::kExitUsage, "--order path needs a machine: give --prober");

    const bool test = job.mode == SignatureJob::Mode::Test;
    sig::RunPlan plan;
    // Pins compared with each other are measured as a board is learned, on a
    // copy that is never saved.
    plan.kind = job.mode == SignatureJob::Mode::Learn ? sig::RunPlan::Kind::Learn
        : symmetry                                    ? sig::RunPlan::Kind::Measure
                                                      : sig::RunPlan::Kind::Test;
    plan.signaturePath = job.file.empty() ? QString() : path;
    plan.points = order;
    plan.from = QString::fromStdString(job.from);
    using Trigger = sig::RunPlan::Trigger;
    const bool compare = job.mode == SignatureJob::Mode::Compare;
    plan.trigger = compare || (!job.button && !job.prompt && !job.onContact) ? Trigger::Now
        : job.onContact                                                      ? Trigger::OnContact
        : job.button                                                         ? Trigger::Button
                                                                             : Trigger::Key;
    plan.prober = QString::fromStdString(job.prober);
    plan.pathOrder = job.pathOrder;
    plan.session.add = job.add;
    plan.session.autoSettings = job.autoSettings;
    plan.session.repeat = job.repeat;
    plan.session.bomFactor = job.bomFactor;
    plan.session.variant = QString::fromStdString(job.variant).trimmed();
    plan.serial = QString::fromStdString(job.serial);
    plan.operatorName = QString::fromStdString(job.operatorName);
    plan.deviceUrl = QString::fromStdString(job.url);
    plan.outputs.report = QString::fromStdString(job.report);
    plan.outputs.junit = QString::fromStdString(job.junit);
    // The history is kept from every output, recorded in or not.
    plan.outputs.history
        = job.db.empty() ? zem::history::defaultLocationText() : QString::fromStdString(job.db);
    plan.outputs.record = test && job.history;
    if (const QString refused = sig::checkOutputs(plan); !refused.isEmpty())
        return fail(zemctl::kExitFailed, shown(refused));

    // Opened before the run only to order it; a run is recorded after its
    // verdicts and report, which a history that cannot be written must not cost.
    std::optional<zem::history::Store> history;
    if (test && job.historyOrder) {
        history.emplace();
        if (!openHistory(*history))
            return;
        // The points this board type failed most often come first.
        const auto likely = history->probeOrder(board.board);
        if (!likely)
            return fail(zemctl::kExitInput, history->errorString().toStdString());
        plan.likelyFirst = *likely;
    }
    plan.signature = board;
    for (int point : order)
        nameWidth = std::max(nameWidth, shown(board.points[std::size_t(point)].name).size());

    std::vector<sig::IvCurve> measured(board.points.size());
    bool failed = false;
    bool outputBroken = false;
    // A learn is saved after each point, so that a stop loses nothing
    // learned; but not while every point so far read open, as a probe on
    // nothing would replace good references with nothing.
    bool saving = false;
    std::unique_ptr<sig::BoardTest> run;
    const auto save = [&](const sig::RunRecord &record, const QString &name) {
        // Never over points another program saved since the file was read.
        if (const FolderLock lock(path); !(FileState::of(job.file) == seen)) {
            fail(zemctl::kExitFailed,
                job.file + " changed since it was read (another learn?); " + shown(name)
                    + " was not saved, so the points saved there are kept. Learn it again.");
            return false;
        }
        if (!sig::writeSignature(
                record.signature, path, sig::keptFiles(plan, sig::RunOutput::Signature), &error)) {
            fail(zemctl::kExitFailed, shown(error));
            return false;
        }
        seen = FileState::of(job.file);
        return true;
    };
    run = sig::BoardTest::create(
        *job.device, plan,
        [&](const sig::BoardTest::Event &e, const sig::RunRecord &record) {
            using Event = sig::BoardTest::Event;
            const QString name = e.point >= 0 ? board.points[std::size_t(e.point)].name : QString();
            switch (e.kind) {
            case Event::Waiting:
                if (job.button && job.prompt && plan.trigger == Trigger::Button && !run->machine())
                    std::fprintf(stderr, "zemctl: probe %s and press the probe's button\n",
                        shown(name).c_str());
                break;
            case Event::Measured:
                if (e.measurement == 0)
                    measured[std::size_t(e.point)] = e.curve;
                break;
            case Event::Notice:
                std::fprintf(stderr, "zemctl: %s\n", shown(e.message).c_str());
                break;
            case Event::Retry:
                if (job.prompt)
                    std::fprintf(
                        stderr, "zemctl: %s: no contact, trying again\n", shown(name).c_str());
                break;
            case Event::Judged:
                // A point's line waits for its verdict to be final: on a net
                // with other points of the run, until the net's last point is
                // measured (or the run stops), so that each point has one line.
                if (symmetry || nets || outputBroken)
                    break;
                if (!printResult(record, e.point)) {
                    outputBroken = failed = true;
                    run->stop(QStringLiteral("standard output cannot be written"));
                }
                break;
            case Event::PointDone: {
                if (job.mode != SignatureJob::Mode::Learn || failed)
                    break;
                const auto &open = record.learnedOpen;
                const bool readOpen = std::find(open.begin(), open.end(), e.point) != open.end();
                if (readOpen && job.prompt)
                    std::fprintf(stderr, "zemctl: %s reads open: is the probe touching it?\n",
                        shown(name).c_str());
                saving = saving || !readOpen;
                if (!saving)
                    break;
                if (!save(record, name)) {
                    failed = true;
                    run->stop(QStringLiteral("the signature could not be saved"));
                } else if (job.prompt) {
                    std::fprintf(stderr, "zemctl: %s learned\n", shown(name).c_str());
                }
                break;
            }
            case Event::Failed:
                // A console run stops at the first failure; a point's own
                // failure (a machine that halted there) can be taken up again.
                if (!failed)
                    fail(zemctl::kExitDevice,
                        e.message.toStdString()
                            + (e.point >= 0 && !compare ? "; go on with --from " + shown(name)
                                                        : std::string()));
                failed = true;
                break;
            default:
                break;
            }
        },
        &error);
    if (!run)
        return fail(zemctl::kExitUsage, shown(error));
    runToEnd(*run, [&] {
        if (stopped()) {
            if (!failed)
                fail(kExitIncomplete, "interrupted");
            failed = true;
            run->stop(QStringLiteral("interrupted"));
            return true;
        }
        if (run->waitingForTrigger() && job.prompt && !run->ended()) {
            const QString name = board.points[std::size_t(run->point())].name;
            if (!prompt(name)) {
                fail(kExitIncomplete, "stopped before " + name.toStdString());
                failed = true;
                run->stop(QStringLiteral("stopped before %1").arg(name));
                return true;
            }
            run->trigger();
        }
        return false;
    });
    const sig::RunRecord &record = run->record();
    if (failed) {
        // What was measured before the stop is kept: the JUnit file and the
        // history have the points tested, the rest untested, the run partial.
        if (test && !outputBroken) {
            const int code = job.exitCode;
            const std::string why = job.message;
            if (!keepRun(plan, record, history))
                job.message = why + "; " + job.message;
            job.exitCode = code;
        }
        return;
    }
    if (job.mode == SignatureJob::Mode::Learn) {
        if (record.learnedNothing)
            return fail(zemctl::kExitFailed,
                shown(sig::learnedNothingText(record)) + "; " + job.file + " was not changed");
        if (!saving && !save(record, QString()))
            return;
        return reportDisagreement(record.signature, record.order);
    }
    if (symmetry)
        return printSymmetry(record.signature, record.order, measured);
    if (nets) {
        printNets(record.signature, run->session(), record.order);
        return;
    }
    if (!test)
        return setExitCode(record);
    if (run->machine()) {
        std::optional<double> drift;
        if (!checkDrift(*run->machine(), board, &drift))
            return;
        if (drift)
            run->setDrift(*drift);
    }
    if (!printSummary(record))
        return;
    setExitCode(record);
    const int verdicts = job.exitCode;
    if (keepRun(plan, record, history))
        job.exitCode = verdicts;
}

} // namespace zemctl::signature

extern "C" __attribute__((visibility("default"))) void zemctl_signature(zemctl::SignatureJob *job)
{
    if (job->predict)
        zemctl::signature::predict(*job);
    else
        zemctl::signature::Runner(*job).run();
}
