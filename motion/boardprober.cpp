#include "boardprober.h"

#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cmath>
#include <thread>

namespace motion {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("motion::BoardProber", text);
}

} // namespace

bool parseProberUrl(const QString &url, GantryConfig *config, QString *error)
{
    QUrl parsed(url, QUrl::StrictMode);
    // The link would refuse another scheme only once a run begins.
    if (!parsed.isValid()
        || (parsed.scheme() != QLatin1String("grbl")
            && parsed.scheme() != QLatin1String("grbl-tcp"))) {
        *error = tr("'%1' is no prober URL (grbl:/dev/ttyUSB0 or grbl-tcp://host:port)").arg(url);
        return false;
    }
    QUrlQuery query(parsed);
    QUrlQuery rest;
    // Feeds are given per second, as people think of a machine's speed;
    // G-code takes them per minute.
    double replyMs = double(config->timing.reply.count());
    double statusMs = double(config->timing.status.count());
    double slackMs = double(config->timing.slack.count());
    double homingS = -1;
    double clearance = -1;
    const std::pair<const char *, double *> numbers[] = { { "safe", &config->safeZ },
        { "surface", &config->contactZ }, { "feed", &config->xyFeed },
        { "contact_feed", &config->contactFeed }, { "step", &config->step },
        { "travel", &config->travel }, { "approach", &config->approach },
        { "clearance", &clearance }, { "accel", &config->planAccel },
        { "part_reach", &config->partReach }, { "part_margin", &config->partMargin },
        { "reply_ms", &replyMs }, { "status_ms", &statusMs }, { "margin", &config->timing.margin },
        { "slack_ms", &slackMs }, { "homing_s", &homingS } };
    for (const auto &[key, value] : query.queryItems(QUrl::FullyDecoded)) {
        double *target = nullptr;
        for (const auto &[name, field] : numbers)
            if (key == QLatin1String(name))
                target = field;
        if (!target) {
            rest.addQueryItem(key, value);
            continue;
        }
        bool ok = false;
        const double v = value.toDouble(&ok);
        if (!ok || !std::isfinite(v)) {
            *error = tr("'%1': %2=%3 is no number").arg(url, key, value);
            return false;
        }
        const bool perSecond = key == QLatin1String("feed") || key == QLatin1String("contact_feed");
        *target = perSecond ? v * 60 : v;
    }
    if (config->xyFeed <= 0 || config->contactFeed <= 0 || config->step <= 0 || config->travel < 0
        || config->safeZ <= config->contactZ || !(config->approach >= 0)) {
        *error = tr("'%1': feeds and step must be positive, travel and approach not negative, and "
                    "safe above surface")
                     .arg(url);
        return false;
    }
    if (query.hasQueryItem(QStringLiteral("clearance"))) {
        if (!(clearance > 0) || config->contactZ + clearance > config->safeZ) {
            *error = tr("'%1': clearance (mm above the surface) must be above 0 and not above "
                        "the safe height")
                         .arg(url);
            return false;
        }
        config->clearance = clearance;
    }
    if (!(config->planAccel > 0) || !(config->partReach >= 0) || !(config->partMargin > 0)) {
        *error = tr("'%1': accel (mm/s²) and part_margin (mm) must be positive, part_reach (mm) "
                    "not negative")
                     .arg(url);
        return false;
    }
    // Deadlines: a reply within 10 ms to 10 min, a margin of 0 to 100 times.
    const auto inRange = [](double v, double lo, double hi) { return v >= lo && v <= hi; };
    if (!inRange(replyMs, 10, 600000) || !inRange(statusMs, replyMs, 600000)
        || !inRange(config->timing.margin, 0, 100) || !inRange(slackMs, 0, 600000)
        || !(homingS < 0 || inRange(homingS, 1, 3600))) {
        *error = tr("'%1': reply_ms from 10 ms, status_ms not below reply_ms, both up to 600000; "
                    "margin from 0 to 100; slack_ms up to 600000; homing_s from 1 to 3600")
                     .arg(url);
        return false;
    }
    config->timing.reply = std::chrono::milliseconds(std::llround(replyMs));
    config->timing.status = std::chrono::milliseconds(std::llround(statusMs));
    config->timing.slack = std::chrono::milliseconds(std::llround(slackMs));
    if (homingS >= 0)
        config->timing.homing = std::chrono::milliseconds(std::llround(homingS * 1000));
    parsed.setQuery(rest);
    config->url = parsed.toString();
    return true;
}

bool boardPlacement(const sig::Signature &board, TransformFit *fit, QString *error)
{
    std::vector<std::pair<PlanePoint, PlanePoint>> pairs;
    for (const sig::Fiducial &f : board.fiducials)
        if (f.machine)
            pairs.push_back({ { f.mm.x(), f.mm.y() }, { f.machine->x(), f.machine->y() } });
    if (pairs.size() < 2) {
        *error = tr("%1 has %2 fiducial(s) taught on the machine; teach two or three first "
                    "(zemctl prober teach)")
                     .arg(board.board)
                     .arg(pairs.size());
        return false;
    }
    const bool bottom = std::any_of(board.points.begin(), board.points.end(),
        [](const sig::Point &p) { return p.side == sig::Side::Bottom; });
    return fitTransform(pairs, bottom ? BoardSide::Bottom : BoardSide::Top, fit, error);
}

QString teachProblem(const sig::Signature &board, const TeachLimits &limits, TransformFit *fit)
{
    QString error;
    if (!boardPlacement(board, fit, &error))
        return error;
    const bool scaleOff = std::abs(fit->scale - 1) > limits.scale;
    if (!scaleOff && fit->residualMm <= limits.residualMm)
        return {};
    QStringList each;
    QString worst;
    double worstMm = -1;
    for (const sig::Fiducial &f : board.fiducials) {
        if (!f.machine)
            continue;
        const PlanePoint m = fit->transform.map({ f.mm.x(), f.mm.y() });
        const double off = std::hypot(m.x - f.machine->x(), m.y - f.machine->y());
        each << tr("%1 %2 mm").arg(f.name).arg(off, 0, 'f', 3);
        if (off > worstMm)
            worstMm = off, worst = f.name;
    }
    const QString cause = scaleOff
        ? tr("the fiducials lie %1 % farther apart on the machine than on the board: one was "
             "taught at the wrong place (another mark, a jog of the wrong length, --at in the "
             "wrong frame), or the board file's fiducial places are wrong")
              .arg((fit->scale - 1) * 100, 0, 'f', 2)
        : tr("%1 lies farthest off the others' fit: it was probably taught at the wrong place; "
             "teach it again")
              .arg(worst);
    return tr("the taught fiducials do not fit the board (residual %1; at most %2 mm, scale within "
              "%3 %): %4")
        .arg(each.join(QStringLiteral(", ")))
        .arg(limits.residualMm)
        .arg(limits.scale * 100)
        .arg(cause);
}

std::unique_ptr<GantryProber> boardProber(const QString &url, const sig::Signature &board,
    const std::vector<int> &points, QString *error, TransformFit *fit,
    std::shared_ptr<GantryLine> line)
{
    GantryConfig config;
    if (!parseProberUrl(url, &config, error))
        return nullptr;
    TransformFit placement;
    if (!boardPlacement(board, &placement, error))
        return nullptr;
    config.transform = placement.transform;
    QStringList unplaced;
    for (int k : points) {
        const sig::Point &p = board.points[std::size_t(k)];
        if (p.mm)
            config.targets[k] = { p.mm->x(), p.mm->y() };
        else
            unplaced << p.name;
    }
    if (!unplaced.isEmpty()) {
        *error = tr("no board position (mm) for %1: a machine cannot find them")
                     .arg(unplaced.join(QStringLiteral(", ")));
        return nullptr;
    }
    // The parts' heights count only when every part has its place and height:
    // one unknown could stand on any path.
    const bool heights = !board.parts.empty()
        && std::all_of(board.parts.begin(), board.parts.end(),
            [](const sig::Part &p) { return p.mm && p.height; });
    if (heights)
        for (const sig::Part &p : board.parts)
            config.parts.push_back({ { p.mm->x(), p.mm->y() }, *p.height });
    if (fit)
        *fit = placement;
    return std::make_unique<GantryProber>(std::move(config), std::move(line));
}

std::optional<FiducialDrift> recheckFiducial(GantryProber &gantry, const sig::Signature &board,
    zem::Connection &device, const std::function<bool()> &stop, QString *error)
{
    const auto taught = std::find_if(board.fiducials.begin(), board.fiducials.end(),
        [](const sig::Fiducial &f) { return f.machine.has_value(); });
    if (taught == board.fiducials.end())
        return std::nullopt;
    gantry.moveToBoard({ taught->mm.x(), taught->mm.y() }, taught->name, sig::Prober::Clock::now());
    for (;;) {
        if (stop()) {
            gantry.cancel();
            *error = tr("interrupted");
            return std::nullopt;
        }
        const sig::Prober::Status status = gantry.poll(device, sig::Prober::Clock::now());
        if (status.kind == sig::Prober::Status::Failed) {
            *error = tr("the fiducial check: %1").arg(status.why);
            return std::nullopt;
        }
        if (status.kind == sig::Prober::Status::There)
            break;
        std::this_thread::sleep_until(status.next);
    }
    const auto reached = gantry.reached();
    if (!reached)
        return std::nullopt;
    return FiducialDrift { taught->name,
        drift({ taught->machine->x(), taught->machine->y(), 0 }, *reached) };
}

std::vector<PlanePoint> machineTargets(const GantryConfig &config, const std::vector<int> &points)
{
    std::vector<PlanePoint> out;
    for (int k : points) {
        const auto at = config.targets.find(k);
        out.push_back(at == config.targets.end() ? PlanePoint() : config.transform.map(at->second));
    }
    return out;
}

} // namespace motion
