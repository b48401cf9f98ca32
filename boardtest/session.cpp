#include "session.h"

#include "faultcache.h"
#include "models.h"
#include "ngspice.h"

#include "autosettings.h"
#include "compare.h"
#include "score.h"
#include "symmetry.h"

#include <QCoreApplication>

#include <algorithm>

namespace sig {

QString resultMarks(const PointResult &r)
{
    QStringList marks;
    if (!r.variant.isEmpty())
        marks << QCoreApplication::translate("sig::Session", "variant: %1").arg(r.variant);
    if (r.info)
        marks << QCoreApplication::translate("sig::Session", "for information only");
    if (!r.predictedBy.isEmpty())
        marks << QCoreApplication::translate("sig::Session", "reference predicted (models %1)")
                     .arg(r.predictedBy);
    QStringList faults;
    for (const predict::LikelyFault &f : r.likelyFaults)
        faults << predict::faultText(f);
    if (!faults.isEmpty())
        marks << QCoreApplication::translate("sig::Session", "likely: %1")
                     .arg(faults.join(QStringLiteral(", ")));
    return marks.join(QStringLiteral("; "));
}

QString skippedText()
{
    return QCoreApplication::translate("sig::Session", "skipped: not probed");
}

QString bomNote(const Point &point, const Reading &reading, double factor)
{
    // Only a curve that reads as a resistor has a value to compare: a short,
    // an open or a diode in parallel says more of the circuit than the part.
    const std::optional<double> expected = point.expectedOhms();
    if (!expected || !(*expected > 0) || !(reading.ohms > 0)
        || reading.kind != Reading::Kind::Resistor)
        return QString();
    const double ratio = reading.ohms / *expected;
    if (ratio <= factor && ratio >= 1 / factor)
        return QString();
    const QString ohm = QStringLiteral("Ω");
    return QCoreApplication::translate("sig::Session", "reads %1, BOM says %2")
        .arg(withPrefix(reading.ohms, ohm), withPrefix(*expected, ohm));
}

Session::Session(Signature &signature, Mode mode)
    : Session(signature, mode, Options())
{
}

Session::Session(Signature &signature, Mode mode, Options options)
    : signature_(signature)
    , mode_(mode)
    , options_(options)
    , results_(signature.points.size())
{
    options_.repeat = std::max(1, options_.repeat);
    enterPoint();
}

void Session::enterPoint()
{
    measurement_ = 0;
    captures_.clear();
    candidates_.clear();
    variantScores_.clear();
    if (choosingSettings())
        candidates_
            = candidateSettings(signature_.settingsOf(signature_.points[std::size_t(point_)], 0));
}

bool Session::choosingSettings() const
{
    // A variant is measured with the point's settings: it never picks its own.
    return mode_ == Mode::Learn && options_.autoSettings && options_.variant.isEmpty() && !done()
        && signature_.points[std::size_t(point_)].measurements.size() == 1;
}

const measurement_settings &Session::settings() const
{
    if (done())
        return signature_.settings;
    const Point &p = signature_.points[std::size_t(point_)];
    if (!candidates_.empty())
        return candidates_[std::min(captures_.size(), candidates_.size() - 1)];
    return signature_.settingsOf(p, measurement_);
}

void Session::select(int point)
{
    point_ = std::clamp(point, 0, int(signature_.points.size()));
    enterPoint();
}

void Session::finishMeasurement(Point &p, PointResult &r)
{
    Measurement &m = p.measurements[measurement_];
    const measurement_settings &s = signature_.settingsOf(p, measurement_);
    if (mode_ == Mode::Learn) {
        Measurement *into = &m;
        if (!options_.variant.isEmpty()) {
            int v = p.findVariant(options_.variant);
            if (v < 0) {
                p.variants.push_back({ options_.variant, {} });
                v = int(p.variants.size()) - 1;
            }
            std::vector<Measurement> &vm = p.variants[std::size_t(v)].measurements;
            vm.resize(p.measurements.size());
            into = &vm[measurement_];
        }
        // A board's own curves replace a prediction, never join it.
        if (p.predicted() && options_.variant.isEmpty()) {
            for (Measurement &each : p.measurements) {
                each.reference.reset();
                each.moreBoards.clear();
            }
            p.predictedBy.clear();
        }
        if (!options_.add) {
            into->reference.reset();
            into->moreBoards.clear();
        }
        into->addReference(captures_.front());
        return;
    }
    const IvCurve &first = captures_.front();
    if (measurement_ == 0)
        r.reading = read(first, s);
    r.curves.push_back(first);
    const double tolerance = signature_.toleranceOf(p);
    if (isUnstable(captures_, s, tolerance))
        r.verdict = Verdict::Unstable;
    const std::vector<IvCurve> refs = m.references();
    if (refs.empty())
        return;
    // The capture nearest the good boards stands for the point: a glitch in
    // one capture is not a fault.
    const Band b = band(refs);
    double best = NAN;
    const IvCurve *nearest = &first;
    for (const IvCurve &c : captures_) {
        const double score = bandScore(b, c, s);
        if (std::isnan(best) || score < best) {
            best = score;
            nearest = &c;
        }
    }
    r.score = std::isnan(r.score) ? best : std::max(r.score, best);
    if (best > tolerance && !r.cause)
        r.cause = cause(refs.size() == 1 ? refs.front() : medianCurve(refs), *nearest, s);
    // Each variant scored as the point's own references are, its worst
    // measurement standing for it.
    variantScores_.resize(p.variants.size(), 0.0);
    for (std::size_t v = 0; v < p.variants.size(); ++v) {
        const std::vector<Measurement> &vm = p.variants[v].measurements;
        const std::vector<IvCurve> vrefs
            = measurement_ < vm.size() ? vm[measurement_].references() : std::vector<IvCurve>();
        double vbest = vrefs.empty() ? INFINITY : NAN;
        if (!vrefs.empty()) {
            const Band vb = band(vrefs);
            for (const IvCurve &c : captures_) {
                const double score = bandScore(vb, c, s);
                if (std::isnan(vbest) || score < vbest)
                    vbest = score;
            }
        }
        variantScores_[v] = std::max(variantScores_[v], vbest);
    }
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
    if (measurement_ == 0 && captures_.empty())
        r = PointResult();

    if (!candidates_.empty()) {
        captures_.push_back(curve);
        const std::vector<measurement_settings> candidates = candidates_;
        if (captures_.size() < candidates.size())
            return step;
        std::vector<Candidate> measured;
        for (std::size_t k = 0; k < candidates.size(); ++k)
            measured.push_back({ candidates[k], captures_[k] });
        const std::size_t chosen = pickSettings(measured).value_or(0);
        // A point keeps the settings it was first learned with: the boards
        // added later must be comparable with its first reference.
        Measurement &m = p.measurements[0];
        if (!options_.add || !m.reference) {
            m.settings = candidates[chosen];
            captures_ = { captures_[chosen] };
        } else {
            const auto same = std::find_if(
                candidates.begin(), candidates.end(), [&](const measurement_settings &c) {
                    return c.CurrentSensorMode == signature_.settingsOf(p, 0).CurrentSensorMode;
                });
            captures_ = { captures_[std::size_t(same - candidates.begin())] };
        }
    } else {
        captures_.push_back(curve);
        if (mode_ == Mode::Test && int(captures_.size()) < options_.repeat)
            return step;
    }
    finishMeasurement(p, r);
    if (mode_ == Mode::Test && !r.curves.empty())
        step.score = r.score;
    captures_.clear();
    if (++measurement_ < p.measurements.size())
        return step;
    step.pointDone = true;
    if (mode_ == Mode::Test) {
        r.boards = p.boards();
        r.predictedBy = p.predictedBy;
        if (r.verdict == Verdict::Unstable)
            ; // its own captures disagree: no comparison holds
        else if (!p.learned())
            r.verdict = Verdict::NotLearned;
        else
            r.verdict = r.score <= signature_.toleranceOf(p) ? Verdict::Pass : Verdict::Different;
        if (r.verdict == Verdict::Different) {
            // The nearest variant within the tolerance passes the point.
            std::size_t nearest = variantScores_.size();
            for (std::size_t v = 0; v < variantScores_.size(); ++v)
                if (variantScores_[v] <= signature_.toleranceOf(p)
                    && (nearest == variantScores_.size()
                        || variantScores_[v] < variantScores_[nearest]))
                    nearest = v;
            if (nearest < variantScores_.size()) {
                r.verdict = Verdict::Pass;
                r.score = variantScores_[nearest];
                r.variant = p.variants[nearest].name;
            }
        }
        r.info = p.check == Check::Info;
        if (r.verdict != Verdict::Different)
            r.cause.reset();
        r.note = bomNote(p, r.reading, options_.bomFactor);
        if (r.verdict == Verdict::Different && !signature_.parts.empty()) {
            // The library is loaded once for the process, shared with any
            // prediction, on the first point that needs it; the faults'
            // curves are kept for the next board of the same kind.
            static predict::NgspiceSimulator simulator;
            r.likelyFaults = predict::likelyFaults(signature_, predict::Models::builtIn(),
                simulator, point_, r.curves, 3, &predict::FaultCache::shared());
        }
        step.verdict = r.verdict;
    }
    ++point_;
    enterPoint();
    return step;
}

Session::Step Session::noContact(const IvCurve &curve)
{
    Step step;
    if (done())
        return step;
    results_.resize(signature_.points.size());
    PointResult &r = results_[std::size_t(point_)];
    r = PointResult();
    r.verdict = Verdict::NoContact;
    r.curves = { curve };
    r.reading = read(curve, settings());
    r.boards = signature_.points[std::size_t(point_)].boards();
    r.predictedBy = signature_.points[std::size_t(point_)].predictedBy;
    r.info = signature_.points[std::size_t(point_)].check == Check::Info;
    step.point = point_;
    step.pointDone = true;
    step.verdict = r.verdict;
    ++point_;
    enterPoint();
    return step;
}

NetAgreement Session::netAgreement(const std::vector<int> &points) const
{
    // Curves of points whose own captures disagree or missed the pad say
    // nothing of the net.
    std::vector<const IvCurve *> curves(signature_.points.size(), nullptr);
    for (int k : points) {
        if (k < 0 || std::size_t(k) >= results_.size())
            continue;
        const PointResult &r = results_[std::size_t(k)];
        if (!r.curves.empty() && r.verdict != Verdict::Unstable && r.verdict != Verdict::NoContact
            && r.verdict != Verdict::NotTested)
            curves[std::size_t(k)] = &r.curves.front();
    }
    return checkNet(signature_, points, curves);
}

void Session::judgeNet(const std::vector<int> &points)
{
    if (mode_ != Mode::Test)
        return;
    results_.resize(signature_.points.size());
    for (int k : points) {
        if (k < 0 || std::size_t(k) >= results_.size())
            continue;
        PointResult &r = results_[std::size_t(k)];
        if (r.verdict == Verdict::NetDisagrees) {
            r.verdict
                = signature_.points[std::size_t(k)].learned() ? Verdict::Pass : Verdict::NotLearned;
            r.netPoints.clear();
        }
    }
    const NetAgreement net = netAgreement(points);
    // Without a majority the net cannot say which pad is wrong, but a pad
    // that fails its own reference can: the pads that pass theirs stand.
    const bool explained
        = !net.decided && std::any_of(net.disagreeing.begin(), net.disagreeing.end(), [&](int k) {
              const Verdict v = results_[std::size_t(k)].verdict;
              return v == Verdict::Different || v == Verdict::NoContact;
          });
    for (int k : net.disagreeing) {
        PointResult &r = results_[std::size_t(k)];
        if (r.verdict != Verdict::NotLearned && (r.verdict != Verdict::Pass || explained))
            continue;
        r.verdict = Verdict::NetDisagrees;
        for (int other : net.points)
            if (other != k)
                r.netPoints.push_back(other);
    }
}

} // namespace sig
