#include "session.h"

#include "score.h"

#include <QCoreApplication>

#include <algorithm>

namespace sig {

const char *verdictName(Verdict v)
{
    switch (v) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Different:
        return "different";
    case Verdict::NotLearned:
        return "not_learned";
    default:
        return "";
    }
}

QString verdictText(Verdict v)
{
    switch (v) {
    case Verdict::Pass:
        return QCoreApplication::translate("sig::Session", "pass");
    case Verdict::Different:
        return QCoreApplication::translate("sig::Session", "different");
    case Verdict::NotLearned:
        return QCoreApplication::translate("sig::Session", "not learned");
    default:
        return QString();
    }
}

Session::Session(Signature &signature, Mode mode)
    : signature_(signature)
    , mode_(mode)
    , results_(signature.points.size())
{
}

const measurement_settings &Session::settings() const
{
    if (done())
        return signature_.settings;
    return signature_.settingsOf(signature_.points[std::size_t(point_)], measurement_);
}

void Session::select(int point)
{
    point_ = std::clamp(point, 0, int(signature_.points.size()));
    measurement_ = 0;
}

Session::Step Session::record(const IvCurve &curve)
{
    Step step;
    if (done())
        return step;
    results_.resize(signature_.points.size());
    step.point = point_;
    Point &p = signature_.points[std::size_t(point_)];
    PointResult &r = results_[std::size_t(point_)];
    const measurement_settings &s = settings();
    if (measurement_ == 0)
        r = PointResult();
    if (mode_ == Mode::Learn) {
        p.measurements[measurement_].reference = curve;
    } else {
        const auto &ref = p.measurements[measurement_].reference;
        if (ref) {
            step.score = score(*ref, curve, s);
            r.score = std::isnan(r.score) ? step.score : std::max(r.score, step.score);
        }
        if (measurement_ == 0)
            r.reading = read(curve, s);
        r.curves.push_back(curve);
    }
    if (++measurement_ < p.measurements.size())
        return step;
    step.pointDone = true;
    if (mode_ == Mode::Test) {
        if (!p.learned())
            r.verdict = Verdict::NotLearned;
        else
            r.verdict = r.score <= signature_.toleranceOf(p) ? Verdict::Pass : Verdict::Different;
        step.verdict = r.verdict;
    }
    ++point_;
    measurement_ = 0;
    return step;
}

bool Session::allPassed() const
{
    return std::all_of(results_.begin(), results_.end(),
        [](const PointResult &r) { return r.verdict == Verdict::Pass; });
}

} // namespace sig
