// zemctl prober, in the signature module: the machine's line, and the
// signature file a fiducial is taught into.
#include "proberjob.h"

#include "application.h"
#include "boardprober.h"
#include "connection.h"
#include "machinecommand.h"
#include "printable.h"
#include "signature.h"
#include "zemctl.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <thread>

namespace zemctl {

namespace {

using Json = nlohmann::ordered_json;

Json where(const motion::grbl::MachinePoint &p)
{
    const auto mm = [](double v) { return std::round(v * 1000) / 1000; };
    return Json::array({ mm(p.x), mm(p.y), mm(p.z) });
}

// Numbers from "X,Y[,Z]": two or three finite ones.
bool numbers(const std::string &text, std::vector<double> *out)
{
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
    if (parts.size() < 2 || parts.size() > 3)
        return false;
    for (const QString &part : parts) {
        bool ok = false;
        const double v = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return false;
        out->push_back(v);
    }
    return true;
}

class ProberRunner
{
public:
    explicit ProberRunner(ProberJob &job)
        : job(job)
    {
    }

    void run()
    {
        zemctl::ensureApplication();
        url = QString::fromStdString(job.url);
        QString error;
        if (!motion::parseProberUrl(url, &config, &error))
            return fail(error);
        switch (job.action) {
        case ProberJob::Action::Status:
            return command(motion::statusRequest());
        case ProberJob::Action::Home:
            return command(motion::homeRequest(config));
        case ProberJob::Action::Unlock:
            return command(motion::unlockRequest(config));
        case ProberJob::Action::Jog: {
            std::vector<double> by;
            if (!numbers(job.at, &by))
                return fail(QStringLiteral("jog wants DX,DY[,DZ] in mm, not '%1'")
                                .arg(QString::fromStdString(job.at)));
            return command(motion::jogRequest(config, by[0], by[1], by.size() > 2 ? by[2] : 0));
        }
        case ProberJob::Action::Goto:
        case ProberJob::Action::Teach:
            return onBoard();
        case ProberJob::Action::DryRun:
            return dryRun();
        }
    }

private:
    void fail(const QString &why, int code = kExitUsage)
    {
        job.exitCode = code;
        job.message = why.toStdString();
    }

    static void say(const QString &notice)
    {
        if (!notice.isEmpty())
            std::fprintf(stderr, "zemctl: %s\n", printable(notice.toStdString()).c_str());
    }

    motion::CommandOutcome run(const motion::CommandRequest &request)
    {
        motion::CommandOutcome out = motion::runCommands(config.url, request, config.timing);
        for (const QString &notice : out.notices)
            say(notice);
        return out;
    }

    void command(const motion::CommandRequest &request)
    {
        const motion::CommandOutcome out = run(request);
        if (!out.error.isEmpty())
            return fail(out.error, kExitDevice);
        Json j { { "state", out.status.state.toStdString() } };
        if (out.status.mpos)
            j["machine"] = where(*out.status.mpos);
        job.summary = j.dump(-1, ' ', false, Json::error_handler_t::replace);
    }

    // Brings the probe down onto a board position, homing first as every
    // machine run does; the machine position reached, or nothing (said).
    std::optional<motion::grbl::MachinePoint> bring(
        motion::GantryProber &gantry, motion::PlanePoint to, const QString &name)
    {
        gantry.moveToBoard(to, name, sig::Prober::Clock::now());
        for (;;) {
            const sig::Prober::Status s = gantry.poll(m_noDevice, sig::Prober::Clock::now());
            say(s.notice);
            if (s.kind == sig::Prober::Status::Failed) {
                fail(s.why, kExitDevice);
                return std::nullopt;
            }
            if (s.kind == sig::Prober::Status::There)
                return gantry.reached();
            std::this_thread::sleep_until(s.next);
        }
    }

    void onBoard()
    {
        const QString file = QString::fromStdString(job.file);
        const QString name = QString::fromStdString(job.name).trimmed();
        QString error;
        std::optional<sig::Signature> board = sig::load(file, &error);
        if (!board)
            return fail(error, kExitInput);
        const int fiducial = board->findFiducial(name);
        const int point = board->find(name);
        if (job.action == ProberJob::Action::Goto)
            return goTo(*board, point, fiducial, name);
        if (fiducial < 0)
            return fail(QStringLiteral("%1 has no fiducial %2 (zemctl board --fiducial)")
                            .arg(file, name));
        // Where the machine stands, or where it is told to go first.
        motion::grbl::MachinePoint at;
        if (!job.at.empty()) {
            std::vector<double> xy;
            if (!numbers(job.at, &xy))
                return fail(QStringLiteral("--at wants X,Y in the machine's mm, not '%1'")
                                .arg(QString::fromStdString(job.at)));
            motion::GantryProber gantry(config); // board mm are machine mm here
            const auto reached = bring(gantry, { xy[0], xy[1] }, name);
            if (!reached)
                return;
            at = *reached;
        } else {
            const motion::CommandOutcome out = run(motion::statusRequest());
            if (!out.error.isEmpty() || !out.status.mpos)
                return fail(out.error.isEmpty() ? QStringLiteral("the machine gave no position")
                                                : out.error,
                    kExitDevice);
            at = *out.status.mpos;
        }
        board->fiducials[std::size_t(fiducial)].machine = QPointF(at.x, at.y);
        // A wrong teach is refused before it is kept: every run would
        // otherwise probe beside the points.
        motion::TeachLimits limits;
        limits.residualMm = job.maxResidual;
        motion::TransformFit fit;
        const bool placed = motion::boardPlacement(*board, &fit, &error);
        if (placed) {
            if (const QString problem = motion::teachProblem(*board, limits, &fit); !problem.isEmpty())
                return fail(QStringLiteral("%1 not taught, %2 was not changed: %3").arg(name, file, problem),
                    kExitDevice);
        }
        if (!sig::save(*board, file, &error))
            return fail(error, kExitFailed);
        Json j { { "fiducial", name.toStdString() }, { "machine", where(at) } };
        if (placed)
            j["residual_mm"] = std::round(fit.residualMm * 1000) / 1000;
        job.summary = j.dump(-1, ' ', false, Json::error_handler_t::replace);
    }

    void goTo(const sig::Signature &board, int point, int fiducial, const QString &name)
    {
        if (point < 0 && fiducial < 0)
            return fail(QStringLiteral("no point or fiducial named %1").arg(name));
        QString error;
        std::unique_ptr<motion::GantryProber> gantry
            = motion::boardProber(url, board, point >= 0 ? std::vector<int> { point } : std::vector<int> {},
                &error);
        if (!gantry)
            return fail(error, kExitDevice);
        const QPointF mm = point >= 0 ? *board.points[std::size_t(point)].mm
                                      : board.fiducials[std::size_t(fiducial)].mm;
        const auto reached = bring(*gantry, { mm.x(), mm.y() }, name);
        if (!reached)
            return;
        Json j { { "name", name.toStdString() }, { "machine", where(*reached) } };
        job.summary = j.dump(-1, ' ', false, Json::error_handler_t::replace);
    }

    // Over every placed point, then every fiducial, at the safe height: the
    // placement seen before anything is lowered; a person at a terminal
    // checks each fiducial's mark under the tip.
    void dryRun()
    {
        const QString file = QString::fromStdString(job.file);
        QString error;
        std::optional<sig::Signature> board = sig::load(file, &error);
        if (!board)
            return fail(error, kExitInput);
        std::vector<int> placed;
        std::vector<std::pair<QString, QPointF>> targets;
        for (std::size_t k = 0; k < board->points.size(); ++k)
            if (board->points[k].mm) {
                placed.push_back(int(k));
                targets.emplace_back(board->points[k].name, *board->points[k].mm);
            }
        for (const sig::Fiducial &f : board->fiducials)
            targets.emplace_back(f.name, f.mm);
        std::unique_ptr<motion::GantryProber> gantry = motion::boardProber(url, *board, placed, &error);
        if (!gantry)
            return fail(error, kExitDevice);
        gantry->hoverOnly(true);
        for (std::size_t k = 0; k < targets.size(); ++k) {
            const auto &[name, mm] = targets[k];
            const auto reached = bring(*gantry, { mm.x(), mm.y() }, name);
            if (!reached)
                return;
            const Json j { { "name", name.toStdString() }, { "machine", where(*reached) } };
            std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
            std::fflush(stdout);
            if (k >= placed.size() && job.stop) {
                std::fprintf(stderr, "zemctl: above %s: its mark should be under the tip; Enter goes on\n",
                    printable(name.toStdString()).c_str());
                if (std::getchar() == EOF)
                    break;
            }
        }
        const Json j { { "dry_run", targets.size() } };
        job.summary = j.dump();
    }

    ProberJob &job;
    zem::Connection m_noDevice; // a machine's moves call no instrument
    QString url;
    motion::GantryConfig config;
};

} // namespace

} // namespace zemctl

extern "C" __attribute__((visibility("default"))) void zemctl_prober(zemctl::ProberJob *job)
{
    zemctl::ProberRunner(*job).run();
}
