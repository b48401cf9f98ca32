#include "faults.h"

#include "boardcircuit.h"
#include "faultcache.h"
#include "models.h"
#include "predictor.h"
#include "score.h"
#include "signature.h"
#include "simulator.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace predict {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("predict::Faults", text);
}

constexpr double kShortOhms = 1e-3;
// Percent of match by which a fault off the probed net must explain the
// curves better than one on it to rank above it.
constexpr double kNearMargin = 1.0;

// Each fault's curves at each stimulus; none for a fault the simulator
// cannot show.
FaultCurves simulateFaults(const Circuit &circuit, const std::vector<SingleFault> &faults,
    const std::vector<zem::Stimulus> &stimuli, Simulator &simulator, bool *complete)
{
    FaultCurves out;
    *complete = true;
    for (const SingleFault &f : faults) {
        std::vector<sig::IvCurve> curves;
        for (const zem::Stimulus &s : stimuli) {
            const Simulation sim
                = simulator.simulate({ circuit.probe, circuit.common, f.elements }, s);
            if (!sim.curve || sim.curve->volts.size() != s.points) {
                curves.clear();
                break;
            }
            curves.push_back(asMeasured(*sim.curve, s));
        }
        *complete = *complete && !curves.empty();
        out.push_back(std::move(curves));
    }
    return out;
}

} // namespace

std::vector<SingleFault> singleFaults(const std::vector<Element> &circuit)
{
    std::vector<SingleFault> out;
    QStringList parts;
    for (const Element &e : circuit)
        if (!parts.contains(e.part))
            parts << e.part;
    const auto without = [&circuit](const QString &part) {
        std::vector<Element> rest;
        for (const Element &e : circuit)
            if (e.part != part)
                rest.push_back(e);
        return rest;
    };
    for (const QString &part : parts) {
        std::vector<std::size_t> own;
        for (std::size_t k = 0; k < circuit.size(); ++k)
            if (circuit[k].part == part)
                own.push_back(k);
        const Element &first = circuit[own.front()];
        QStringList all;
        for (std::size_t k : own)
            all << circuit[k].a << circuit[k].b;
        const QStringList ends { first.a, first.b };
        out.push_back({ { part, tr("open"), 0 }, without(part), all });
        if (own.size() == 1) {
            Element shorted = first;
            shorted.kind = Element::Kind::Resistor;
            shorted.value = kShortOhms;
            auto c = without(part);
            c.push_back(shorted);
            out.push_back({ { part, tr("short"), 0 }, c, ends });
        }
        if (first.kind != Element::Kind::Diode) {
            for (double factor : { 0.5, 2.0 }) {
                auto c = circuit;
                c[own.front()].value *= factor;
                out.push_back({ { part, tr("value x%1").arg(factor), 0 }, c, ends });
            }
        } else if (own.size() == 1) {
            auto c = circuit;
            std::swap(c[own.front()].a, c[own.front()].b);
            out.push_back({ { part, tr("reversed"), 0 }, c, ends });
        } else {
            // A part of several junctions (an IC's pin, a transistor): each alone open.
            for (std::size_t k : own) {
                auto c = circuit;
                c.erase(c.begin() + std::ptrdiff_t(k));
                out.push_back(
                    { { part, tr("junction %1 to %2 open").arg(circuit[k].a, circuit[k].b), 0 }, c,
                        { circuit[k].a, circuit[k].b } });
            }
        }
    }
    return out;
}

std::vector<LikelyFault> likelyFaults(const sig::Signature &board, const Models &models,
    Simulator &simulator, int point, const std::vector<sig::IvCurve> &measured, std::size_t most,
    FaultCache *cache)
{
    if (board.parts.empty() || point < 0 || std::size_t(point) >= board.points.size())
        return {};
    const sig::Point &p = board.points[std::size_t(point)];
    const Circuit circuit
        = circuitAt(boardElements(board, models), nodeOf(p), board.commonNet(), nullptr);
    const std::vector<SingleFault> faults = singleFaults(circuit.elements);
    std::vector<zem::Stimulus> stimuli;
    for (std::size_t m = 0; m < p.measurements.size(); ++m)
        stimuli.push_back(zem::stimulusOf(board.settingsOf(p, m)));

    const QByteArray key
        = cache ? FaultCache::key(circuit, stimuli, models.version()) : QByteArray();
    std::shared_ptr<const FaultCurves> curves
        = cache ? cache->find(key, faults.size(), stimuli) : nullptr;
    if (!curves) {
        bool complete = false;
        curves = std::make_shared<const FaultCurves>(
            simulateFaults(circuit, faults, stimuli, simulator, &complete));
        // A fault that did not simulate may next time (a library installed,
        // a transient failure): only a complete set is kept.
        if (cache && complete)
            cache->insert(key, *curves);
    }

    struct Ranked
    {
        LikelyFault fault;
        double rank;
    };
    std::vector<Ranked> ranked;
    for (std::size_t f = 0; f < faults.size(); ++f) {
        const std::vector<sig::IvCurve> &own = (*curves)[f];
        // A fault the simulator cannot show explains nothing: it is not ranked.
        if (own.empty())
            continue;
        double worst = 0;
        for (std::size_t m = 0; m < own.size() && m < measured.size(); ++m)
            worst = std::max(worst, sig::score(own[m], measured[m], board.settingsOf(p, m)));
        LikelyFault fault = faults[f].fault;
        fault.match = std::max(0.0, 100 - worst);
        // Faults that explain the curves alike (the supply's load open, or
        // the pin's own junction to it, both leave that junction idle) are
        // told apart by where they are: the one on the probed net first.
        const bool near = faults[f].nodes.contains(circuit.probe);
        ranked.push_back({ fault, fault.match + (near ? kNearMargin : 0.0) });
    }
    std::stable_sort(ranked.begin(), ranked.end(),
        [](const Ranked &a, const Ranked &b) { return a.rank > b.rank; });
    std::vector<LikelyFault> out;
    for (std::size_t k = 0; k < ranked.size() && k < most; ++k)
        out.push_back(ranked[k].fault);
    return out;
}

QString faultText(const LikelyFault &fault)
{
    return tr("%1 %2: matches %3 %").arg(fault.part, fault.fault).arg(std::round(fault.match));
}

} // namespace predict
