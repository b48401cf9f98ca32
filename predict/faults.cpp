#include "faults.h"

#include "boardcircuit.h"
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

struct Candidate
{
    LikelyFault fault;
    std::vector<Element> elements; // the net's circuit with the fault
};

// Each single fault of each part with an element on the circuit.
std::vector<Candidate> candidates(const std::vector<Element> &circuit)
{
    std::vector<Candidate> out;
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
        out.push_back({ { part, tr("open"), 0 }, without(part) });
        if (own.size() == 1) {
            Element shorted = first;
            shorted.kind = Element::Kind::Resistor;
            shorted.value = kShortOhms;
            auto c = without(part);
            c.push_back(shorted);
            out.push_back({ { part, tr("short"), 0 }, c });
        }
        if (first.kind != Element::Kind::Diode) {
            for (double factor : { 0.5, 2.0 }) {
                auto c = circuit;
                c[own.front()].value *= factor;
                out.push_back({ { part, tr("value x%1").arg(factor), 0 }, c });
            }
        } else if (own.size() == 1) {
            auto c = circuit;
            std::swap(c[own.front()].a, c[own.front()].b);
            out.push_back({ { part, tr("reversed"), 0 }, c });
        } else {
            // A part of several junctions (an IC's pin, a transistor): each alone open.
            for (std::size_t k : own) {
                auto c = circuit;
                c.erase(c.begin() + std::ptrdiff_t(k));
                out.push_back(
                    { { part, tr("junction %1 to %2 open").arg(circuit[k].a, circuit[k].b), 0 },
                        c });
            }
        }
    }
    return out;
}

} // namespace

std::vector<LikelyFault> likelyFaults(const sig::Signature &board, const Models &models,
    Simulator &simulator, int point, const std::vector<sig::IvCurve> &measured, std::size_t most)
{
    if (board.parts.empty() || point < 0 || std::size_t(point) >= board.points.size())
        return {};
    const sig::Point &p = board.points[std::size_t(point)];
    const QString node = nodeOf(p);
    const BoardElements elements = boardElements(board, models);
    const Circuit circuit = circuitAt(elements, node, board.commonNet(), nullptr);
    std::vector<LikelyFault> ranked;
    for (Candidate &c : candidates(circuit.elements)) {
        double worst = 0;
        bool simulated = true;
        for (std::size_t m = 0; m < p.measurements.size() && m < measured.size() && simulated;
             ++m) {
            const measurement_settings &s = board.settingsOf(p, m);
            const zem::Stimulus stimulus = zem::stimulusOf(s);
            const Simulation sim
                = simulator.simulate({ node, circuit.common, c.elements }, stimulus);
            simulated = sim.curve && sim.curve->volts.size() == stimulus.points;
            if (simulated)
                worst
                    = std::max(worst, sig::score(asMeasured(*sim.curve, stimulus), measured[m], s));
        }
        // A fault the simulator cannot show explains nothing: it is not ranked.
        if (!simulated)
            continue;
        c.fault.match = std::max(0.0, 100 - worst);
        ranked.push_back(c.fault);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
        [](const LikelyFault &a, const LikelyFault &b) { return a.match > b.match; });
    if (ranked.size() > most)
        ranked.resize(most);
    return ranked;
}

QString faultText(const LikelyFault &fault)
{
    return tr("%1 %2: matches %3 %").arg(fault.part, fault.fault).arg(std::round(fault.match));
}

} // namespace predict
