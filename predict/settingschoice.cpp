#include "settingschoice.h"

#include "boardcircuit.h"
#include "faults.h"
#include "models.h"
#include "parallel.h"
#include "partspread.h"
#include "predictor.h"
#include "references.h"
#include "score.h"
#include "signature.h"
#include "simulator.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <optional>

namespace predict {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("predict::SettingsChoice", text);
}

// Below a silicon junction's knee (0.5 V and less), below a Schottky's
// (0.25 V), and at 1 V.
constexpr float kAmplitudes[] = { 1.0f, 0.5f, 0.25f };
constexpr float kBelowKnee = 0.5f;
constexpr float kSlower = 10.0f;
// Good boards drawn for the spread at each candidate, the same every run.
constexpr int kGoodBoards = 6;
constexpr std::uint64_t kSeed = 20261209;
// A candidate whose good boards spread by more than this share of the
// tolerance would fail good boards: it is not chosen.
constexpr double kSpreadShare = 0.7;
// A fault is shown where it scores this many tolerances beyond the spread.
constexpr double kMargin = 1.25;

QByteArray settingsKey(const QString &node, const measurement_settings &s)
{
    return QStringLiteral("%1\n%2 %3 %4 %5 %6 %7")
        .arg(node)
        .arg(double(s.SamplingRate), 0, 'g', 9)
        .arg(double(s.ProbeSignalFrequency), 0, 'g', 9)
        .arg(s.NumberPoints)
        .arg(double(s.MaxVoltage), 0, 'g', 9)
        .arg(s.CurrentSensorMode)
        .arg(s.OutputMode)
        .toUtf8();
}

bool sameSettings(const measurement_settings &a, const measurement_settings &b)
{
    return settingsKey({}, a) == settingsKey({}, b);
}

// The points on one node with one first setting: one choice for them all.
struct Group
{
    QString node;
    std::vector<std::size_t> points;
    Circuit circuit;
    std::vector<SingleFault> faults;
    std::vector<std::vector<Element>> good; // the nominal board first
    std::vector<measurement_settings> candidates; // the first setting first
    // [candidate][variant]: the good boards, then the faults
    std::vector<std::vector<std::optional<sig::IvCurve>>> curves;
    QString error; // the nominal board did not simulate at the first setting

    std::size_t variants() const { return good.size() + faults.size(); }
    const std::vector<Element> &variant(std::size_t v) const
    {
        return v < good.size() ? good[v] : faults[v - good.size()].elements;
    }
};

// What each candidate shows of a group's faults, beyond its good boards'
// spread; nothing at a candidate that would fail good boards.
struct Shown
{
    std::vector<std::vector<bool>> at; // [candidate][fault]
    std::vector<std::vector<double>> weight; // [candidate][fault]: strength over what is needed, to 2
    std::vector<double> spread; // [candidate]: the good boards' highest score
    std::vector<bool> usable; // [candidate]: good boards pass there
};

Shown shownBy(const Group &g, const ChoiceOptions &o)
{
    const std::size_t nc = g.candidates.size(), nf = g.faults.size();
    const double need = o.tolerance * kMargin;
    Shown out { std::vector<std::vector<bool>>(nc, std::vector<bool>(nf, false)),
        std::vector<std::vector<double>>(nc, std::vector<double>(nf, 0.0)),
        std::vector<double>(nc, 0.0), std::vector<bool>(nc, false) };
    for (std::size_t c = 0; c < nc; ++c) {
        const auto &curves = g.curves[c];
        if (!curves[0])
            continue;
        double spread = 0;
        bool complete = true;
        for (std::size_t v = 1; v < g.good.size() && complete; ++v) {
            complete = bool(curves[v]);
            if (complete)
                spread = std::max(spread, sig::score(*curves[0], *curves[v], g.candidates[c]));
        }
        out.spread[c] = spread;
        out.usable[c] = complete && spread <= o.tolerance * kSpreadShare;
        // What the point's own setting shows is said even where it is not kept.
        if (c > 0 && !out.usable[c])
            continue;
        for (std::size_t f = 0; f < nf; ++f)
            if (const auto &curve = curves[g.good.size() + f]) {
                const double strength
                    = sig::score(*curves[0], *curve, g.candidates[c]) - spread;
                out.at[c][f] = strength >= need;
                out.weight[c][f] = std::clamp(strength / need, 0.0, 2.0);
            }
    }
    return out;
}

QString labelOf(const SingleFault &f)
{
    return f.fault.part + QLatin1Char(' ') + f.fault.fault;
}

} // namespace

std::vector<measurement_settings> choiceCandidates(const measurement_settings &base, bool reactive)
{
    std::vector<float> amplitudes { base.MaxVoltage };
    for (float a : kAmplitudes)
        if (a < base.MaxVoltage)
            amplitudes.push_back(a);
    std::vector<measurement_settings> out;
    const auto add = [&](const measurement_settings &s) {
        if (!sameSettings(s, base))
            out.push_back(s);
    };
    for (std::uint8_t range :
        { CURRENT_SENSE_MODE_I_LOW, CURRENT_SENSE_MODE_I_MID, CURRENT_SENSE_MODE_I_HIGH }) {
        measurement_settings s = base;
        s.CurrentSensorMode = range;
        for (float a : amplitudes) {
            s.MaxVoltage = a;
            add(s);
        }
        // A tenth of the frequency, the same samples a cycle: a capacitor's
        // impedance ten times higher, so that what is in parallel shows.
        if (reactive) {
            s.ProbeSignalFrequency = base.ProbeSignalFrequency / kSlower;
            s.SamplingRate = base.SamplingRate / kSlower;
            for (float a : { base.MaxVoltage, kBelowKnee }) {
                s.MaxVoltage = std::min(a, base.MaxVoltage);
                add(s);
            }
        }
    }
    return out;
}

SettingsChoice chooseSettings(sig::Signature &board, const Models &models, Simulator &simulator,
    const ChoiceOptions &options)
{
    SettingsChoice out;
    if (!canPredict(board)) {
        out.error = tr("the board has no parts from a netlist: import its netlist and BOM first "
                       "(zemctl board FILE --import NETLIST --bom BOM)");
        return out;
    }
    const BoardElements elements = boardElements(board, models);
    const QString common = board.commonNet();

    QSet<QString> probed;
    for (int index : board.probedPoints())
        probed << nodeOf(board.points[std::size_t(index)]);
    std::vector<Group> groups;
    QHash<QByteArray, std::size_t> groupOf;
    std::vector<std::size_t> groupOfPoint(board.points.size(), SIZE_MAX);
    for (int index : board.probedPoints()) {
        const sig::Point &p = board.points[std::size_t(index)];
        if (!p.variants.empty() || (p.learned() && !p.predicted() && !options.replaceLearned))
            continue;
        const measurement_settings base = board.settingsOf(p, 0);
        if (base.CurrentSensorMode == CURRENT_SENSE_MODE_ISOLATED
            || base.OutputMode == OUT_MODE_GROUNDED_CONTINUOUS)
            continue;
        const QByteArray key = settingsKey(nodeOf(p), base);
        auto found = groupOf.constFind(key);
        if (found == groupOf.constEnd()) {
            Group g;
            g.node = nodeOf(p);
            g.circuit = circuitAt(elements, g.node, common, nullptr);
            // A fault on a net some point probes is looked for there; one on
            // nets no point probes, wherever it reaches.
            for (SingleFault &f : singleFaults(g.circuit.elements))
                if (f.nodes.contains(g.node)
                    || std::none_of(f.nodes.begin(), f.nodes.end(),
                        [&](const QString &n) { return probed.contains(n); }))
                    g.faults.push_back(std::move(f));
            std::mt19937_64 random(kSeed);
            g.good.push_back(g.circuit.elements);
            for (int k = 0; k < kGoodBoards; ++k) {
                g.good.push_back(g.circuit.elements);
                drawWithinTolerance(g.good.back(), random);
            }
            g.candidates.push_back(base);
            const bool reactive = std::any_of(g.circuit.elements.begin(),
                g.circuit.elements.end(), [](const Element &e) {
                    return e.kind == Element::Kind::Capacitor || e.kind == Element::Kind::Inductor;
                });
            for (const measurement_settings &s : choiceCandidates(base, reactive))
                g.candidates.push_back(s);
            g.curves.assign(g.candidates.size(),
                std::vector<std::optional<sig::IvCurve>>(g.variants()));
            found = groupOf.insert(key, groups.size());
            groups.push_back(std::move(g));
        }
        groups[*found].points.push_back(std::size_t(index));
        groupOfPoint[std::size_t(index)] = *found;
    }

    struct Job
    {
        std::size_t group, candidate, variant;
    };
    std::vector<Job> jobs;
    for (std::size_t g = 0; g < groups.size(); ++g)
        for (std::size_t c = 0; c < groups[g].candidates.size(); ++c)
            for (std::size_t v = 0; v < groups[g].variants(); ++v)
                jobs.push_back({ g, c, v });
    forEachParallel(jobs.size(), options.threads, options.cancelled, [&](std::size_t k) {
        const Job &job = jobs[k];
        Group &g = groups[job.group];
        const zem::Stimulus s = zem::stimulusOf(g.candidates[job.candidate]);
        const Simulation sim
            = simulator.simulate({ g.circuit.probe, g.circuit.common, g.variant(job.variant) }, s);
        if (sim.curve && sim.curve->volts.size() == s.points)
            g.curves[job.candidate][job.variant] = asMeasured(*sim.curve, s);
        else if (job.candidate == 0 && job.variant == 0)
            g.error = sim.error.isEmpty() ? tr("the simulation gave no curve") : sim.error;
    });
    out.simulations = int(jobs.size());
    if (options.cancelled && *options.cancelled) {
        out.error = tr("cancelled");
        return out;
    }

    // Which faults each group's candidates show; a fault shown at any
    // point's chosen settings is found, so the choice is the board's: the
    // point's own settings first, then one measurement at a time, wherever
    // it shows the most faults not yet shown anywhere.
    std::vector<Shown> shown(groups.size());
    // A point's own setting where good boards differ by more than that
    // share of the tolerance would fail good boards: it is not kept either.
    std::vector<std::vector<std::size_t>> chosen(groups.size());
    QSet<QString> all, covered, before;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (!groups[g].error.isEmpty())
            continue;
        shown[g] = shownBy(groups[g], options);
        QSet<QString> &at = shown[g].usable[0] ? covered : before;
        if (shown[g].usable[0])
            chosen[g].push_back(0);
        for (std::size_t f = 0; f < groups[g].faults.size(); ++f) {
            all << labelOf(groups[g].faults[f]);
            if (shown[g].at[0][f])
                at << labelOf(groups[g].faults[f]);
        }
    }
    out.faults = int(all.size());
    out.shownBefore = int((covered + before).size());
    for (;;) {
        std::size_t bestGroup = 0, best = 0;
        int bestGain = 0;
        double bestWeight = 0;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (!groups[g].error.isEmpty() || int(chosen[g].size()) >= options.most)
                continue;
            for (std::size_t c = 0; c < groups[g].candidates.size(); ++c) {
                if (!shown[g].usable[c]
                    || std::find(chosen[g].begin(), chosen[g].end(), c) != chosen[g].end())
                    continue;
                int gain = 0;
                double weight = 0;
                for (std::size_t f = 0; f < groups[g].faults.size(); ++f)
                    if (!covered.contains(labelOf(groups[g].faults[f]))) {
                        gain += shown[g].at[c][f];
                        weight += shown[g].weight[c][f];
                    }
                if (gain > bestGain || (gain == bestGain && gain > 0 && weight > bestWeight)) {
                    bestGroup = g;
                    best = c;
                    bestGain = gain;
                    bestWeight = weight;
                }
            }
        }
        if (bestGain == 0)
            break;
        chosen[bestGroup].push_back(best);
        for (std::size_t f = 0; f < groups[bestGroup].faults.size(); ++f)
            if (shown[bestGroup].at[best][f])
                covered << labelOf(groups[bestGroup].faults[f]);
    }
    // A point still without a setting gets the one its good boards differ
    // least at, or its own when none simulated.
    for (std::size_t g = 0; g < groups.size(); ++g)
        if (groups[g].error.isEmpty() && chosen[g].empty()) {
            const auto &spread = shown[g].spread;
            std::size_t least = 0;
            for (std::size_t c = 1; c < spread.size(); ++c)
                if (shown[g].usable[c] && (!shown[g].usable[least] || spread[c] < spread[least]))
                    least = c;
            chosen[g].push_back(least);
            for (std::size_t f = 0; f < groups[g].faults.size(); ++f)
                if (shown[g].at[least][f])
                    covered << labelOf(groups[g].faults[f]);
        }
    out.shown = int(covered.size());
    for (const Group &g : groups)
        for (const SingleFault &f : g.faults)
            if (!covered.contains(labelOf(f)) && !out.hidden.contains(labelOf(f)))
                out.hidden << labelOf(f);

    for (int index : board.probedPoints()) {
        sig::Point &p = board.points[std::size_t(index)];
        PointChoice c;
        c.point = p.name;
        const std::size_t g = groupOfPoint[std::size_t(index)];
        if (g == SIZE_MAX) {
            c.message = !p.variants.empty() ? tr("has variants: left as it is")
                : p.learned() && !p.predicted()
                ? tr("learned from a board: kept")
                : tr("its sensing path is isolated or its output grounded: left as it is");
            out.points.push_back(c);
            continue;
        }
        const Group &group = groups[g];
        c.faults = int(group.faults.size());
        if (!group.error.isEmpty()) {
            c.message = group.error;
            out.points.push_back(c);
            continue;
        }
        for (std::size_t f = 0; f < group.faults.size(); ++f) {
            c.shownBefore += bool(shown[g].at[0][f]);
            c.shown += std::any_of(chosen[g].begin(), chosen[g].end(),
                [&](std::size_t k) { return shown[g].at[k][f]; });
        }
        const bool ownKept = chosen[g].front() == 0;
        if (ownKept && chosen[g].size() == 1) {
            c.message = tr("no other setting shows more of its faults");
            out.points.push_back(c);
            continue;
        }
        bool same = chosen[g].size() == p.measurements.size();
        for (std::size_t m = 0; same && m < chosen[g].size(); ++m)
            same = sameSettings(board.settingsOf(p, m), group.candidates[chosen[g][m]]);
        if (same) {
            c.message = tr("its settings are already these");
            out.points.push_back(c);
            continue;
        }
        if (!ownKept) {
            c.message = tr("good boards differ by up to %1 % at its own settings: replaced")
                            .arg(shown[g].spread[0], 0, 'f', 1);
            p.measurements.clear();
        }
        p.measurements.resize(1);
        if (!ownKept)
            p.measurements[0] = { group.candidates[chosen[g][0]], {}, {} };
        for (std::size_t m = 1; m < chosen[g].size(); ++m)
            p.measurements.push_back({ group.candidates[chosen[g][m]], {}, {} });
        c.changed = true;
        out.points.push_back(c);
    }
    return out;
}

} // namespace predict
