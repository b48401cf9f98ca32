#include "predictor.h"

#include "boardcircuit.h"
#include "models.h"
#include "parallel.h"
#include "signature.h"
#include "simulator.h"

#include <QCoreApplication>
#include <QHash>

#include <algorithm>
#include <cmath>

namespace predict {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("predict::Predictor", text);
}

QString stimulusKey(const QString &node, const zem::Stimulus &s)
{
    return QStringLiteral("%1\n%2 %3 %4 %5 %6 %7")
        .arg(node)
        .arg(s.amplitude, 0, 'g', 17)
        .arg(s.frequency, 0, 'g', 17)
        .arg(s.samplingRate, 0, 'g', 17)
        .arg(s.points)
        .arg(s.sourceOhms, 0, 'g', 17)
        .arg(s.isolated);
}

struct Job
{
    Circuit circuit;
    zem::Stimulus stimulus;
    Simulation result;
};

} // namespace

QString nodeOf(const sig::Point &p)
{
    return p.net.isEmpty() ? p.name : p.net;
}

sig::IvCurve asMeasured(const sig::IvCurve &simulated, const zem::Stimulus &s)
{
    sig::IvCurve out;
    const double omega = 2.0 * 3.14159265358979323846 * s.frequency;
    for (std::size_t k = 0; k < s.points; ++k) {
        double v = s.isolated ? s.amplitude * std::sin(omega * double(k) / s.samplingRate)
                              : simulated.volts.at(k);
        double i = s.isolated ? 0.0 : simulated.milliamps.at(k);
        out.volts.push_back(std::clamp(v, -zem::kVoltageFullScale, zem::kVoltageFullScale));
        out.milliamps.push_back(std::clamp(i, -s.fullScaleMilliamps, s.fullScaleMilliamps));
    }
    return out;
}

Prediction predictBoard(sig::Signature &board, const Models &models, Simulator &simulator,
    const PredictOptions &options)
{
    Prediction out;
    out.models = models.version();
    // Parts a position file placed without a netlist have no pads: no circuit.
    if (std::none_of(board.parts.begin(), board.parts.end(),
            [](const sig::Part &p) { return !p.pads.empty(); })) {
        out.error = tr("the board has no parts from a netlist: import its netlist and BOM first "
                       "(zemctl board FILE --import NETLIST --bom BOM)");
        return out;
    }
    const BoardElements elements = boardElements(board, models);
    out.unknown = elements.unknown;
    out.problems = elements.problems;
    const QString common = board.commonNet();
    // A point on a net with an unknown part says so: its curve lacks that part.
    QHash<QString, QStringList> unknownOn;
    for (const sig::Part &part : board.parts)
        if (elements.unknown.contains(part.refdes))
            for (const sig::Pad &pad : part.pads)
                if (!pad.net.isEmpty() && pad.net != common
                    && !unknownOn[pad.net].contains(part.refdes))
                    unknownOn[pad.net] << part.refdes;

    // One simulation for each net and stimulus, however many points share them.
    std::vector<Job> jobs;
    QHash<QString, std::size_t> jobOf;
    QHash<QString, QString> notes;
    struct Wanted
    {
        std::size_t point;
        std::vector<std::size_t> jobs; // one a measurement
        bool kept = false; // learned from a board
    };
    std::vector<Wanted> wanted;
    for (int index : board.probedPoints()) {
        const sig::Point &p = board.points[std::size_t(index)];
        Wanted w { std::size_t(index), {},
            p.learned() && !p.predicted() && !options.replaceLearned };
        if (w.kept) {
            wanted.push_back(std::move(w));
            continue;
        }
        const QString node = nodeOf(p);
        for (std::size_t m = 0; m < p.measurements.size(); ++m) {
            const zem::Stimulus s = zem::stimulusOf(board.settingsOf(p, m));
            const QString key = stimulusKey(node, s);
            auto found = jobOf.constFind(key);
            if (found == jobOf.constEnd()) {
                QString note;
                found = jobOf.insert(key, jobs.size());
                jobs.push_back({ circuitAt(elements, node, common, &note), s, {} });
                if (!note.isEmpty())
                    notes.insert(node, note);
            }
            w.jobs.push_back(*found);
        }
        wanted.push_back(std::move(w));
    }

    forEachParallel(jobs.size(), options.threads, options.cancelled, [&](std::size_t k) {
        Job &job = jobs[k];
        job.result = job.stimulus.isolated ? Simulation { sig::IvCurve {}, {} }
                                           : simulator.simulate(job.circuit, job.stimulus);
        if (job.result.curve && !job.stimulus.isolated
            && job.result.curve->volts.size() != job.stimulus.points) {
            job.result = { std::nullopt,
                tr("the simulation gave %1 samples, not %2")
                    .arg(job.result.curve->volts.size())
                    .arg(job.stimulus.points) };
        }
    });
    out.simulations = int(jobs.size());
    if (options.cancelled && *options.cancelled) {
        out.error = tr("cancelled");
        return out;
    }

    for (const Wanted &w : wanted) {
        sig::Point &p = board.points[w.point];
        if (w.kept) {
            out.points.push_back({ p.name, false, true, tr("learned from a board: kept") });
            continue;
        }
        QString failed;
        for (std::size_t j : w.jobs)
            if (!jobs[j].result.curve) {
                failed = jobs[j].result.error;
                break;
            }
        if (!failed.isEmpty()) {
            out.points.push_back({ p.name, false, false, failed });
            continue;
        }
        for (std::size_t m = 0; m < w.jobs.size(); ++m) {
            const Job &job = jobs[w.jobs[m]];
            p.measurements[m].reference = asMeasured(*job.result.curve, job.stimulus);
            p.measurements[m].moreBoards.clear();
        }
        p.predictedBy = out.models;
        QStringList said;
        if (const QString note = notes.value(nodeOf(p)); !note.isEmpty())
            said << note;
        if (const QStringList open = unknownOn.value(nodeOf(p)); !open.isEmpty())
            said
                << tr("no model for %1 on this net: left open").arg(open.join(QLatin1String(", ")));
        out.points.push_back({ p.name, true, false, said.join(QLatin1String("; ")) });
    }
    return out;
}

} // namespace predict
