// learn --predict: every point's references simulated from the board's
// parts, without an instrument. The prediction itself is predict/'s.
#include "signaturerunner.h"

#include "models.h"
#include "ngspice.h"
#include "predictor.h"

#include <QElapsedTimer>
#include <QThread>

#include <nlohmann/json.hpp>

#include <cstdio>

namespace zemctl::signature {
namespace {

nlohmann::ordered_json names(const QStringList &list)
{
    auto out = nlohmann::ordered_json::array();
    for (const QString &n : list)
        out.push_back(n.toStdString());
    return out;
}

bool print(const std::string &line)
{
    return std::fputs((line + '\n').c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

} // namespace

void predict(zemctl::SignatureJob &job)
{
    const auto fail = [&job](int code, const std::string &message) {
        job.exitCode = code;
        job.message = message;
    };
    if (job.add || !job.variant.empty() || !job.prober.empty() || job.button || job.onContact
        || !job.from.empty())
        return fail(kExitUsage,
            "--predict measures nothing: --add, --variant, --prober, --button, --on-contact "
            "and --from are for a learn on a board");
    const QString path = QString::fromStdString(job.file);
    QString error;
    auto board = sig::load(path, &error);
    if (!board)
        return fail(kExitInput, error.toStdString());
    predict::Models models = predict::Models::builtIn();
    if (!job.models.empty()) {
        auto own = predict::Models::load(QString::fromStdString(job.models), models, &error);
        if (!own)
            return fail(kExitInput, error.toStdString());
        models = std::move(*own);
    }
    if (job.predictionTolerance >= 0)
        board->predictionTolerance = job.predictionTolerance;
    if (!job.common.empty())
        board->common = QString::fromStdString(job.common).trimmed();
    // Only the points asked for: the others are marked to skip on a copy.
    sig::Signature chosen = *board;
    if (!job.points.empty()) {
        for (sig::Point &p : chosen.points)
            p.check = sig::Check::Skip;
        for (const std::string &name : job.points) {
            const int k = chosen.find(QString::fromStdString(name).trimmed());
            if (k < 0)
                return fail(kExitUsage, "no point named " + name + " in " + job.file);
            chosen.points[std::size_t(k)].check = board->points[std::size_t(k)].check;
        }
    }

    QElapsedTimer clock;
    clock.start();
    predict::NgspiceSimulator simulator(std::max(1, QThread::idealThreadCount()));
    predict::PredictOptions options;
    options.threads = simulator.copies();
    const predict::Prediction result = predict::predictBoard(chosen, models, simulator, options);
    if (!result.error.isEmpty())
        return fail(kExitInput, result.error.toStdString());
    for (std::size_t k = 0; k < board->points.size(); ++k) {
        sig::Point &p = board->points[k];
        const sig::Point &q = chosen.points[k];
        p.measurements = q.measurements;
        p.predictedBy = q.predictedBy;
    }

    int predicted = 0, kept = 0;
    bool written = true;
    for (const predict::PointPrediction &p : result.points) {
        predicted += p.predicted;
        kept += p.kept;
        nlohmann::ordered_json line { { "point", p.point.toStdString() },
            { "predicted", p.predicted } };
        if (!p.message.isEmpty())
            line[p.predicted || p.kept ? "note" : "error"] = p.message.toStdString();
        if (job.text)
            written = print(shown(p.point) + "  " + (p.predicted ? "predicted" : "not predicted")
                          + (p.message.isEmpty() ? "" : ": " + shown(p.message)))
                && written;
        else
            written = print(line.dump()) && written;
    }
    if (predicted > 0 && !sig::save(*board, path, &error))
        return fail(kExitFailed, error.toStdString());
    nlohmann::ordered_json summary { { "predicted", predicted }, { "kept", kept },
        { "points", result.points.size() }, { "models", result.models.toStdString() },
        { "simulations", result.simulations }, { "seconds", clock.elapsed() / 1000.0 },
        { "unknown_parts", names(result.unknown) }, { "part_problems", names(result.problems) } };
    if (job.text) {
        written = print(std::to_string(predicted) + " of " + std::to_string(result.points.size())
                      + " points predicted with models " + result.models.toStdString())
            && written;
        if (!result.unknown.isEmpty())
            written
                = print("unknown parts, left open: " + shown(result.unknown.join(", "))) && written;
        for (const QString &problem : result.problems)
            written = print(shown(problem)) && written;
    } else {
        written = print(summary.dump()) && written;
    }
    if (!written)
        return fail(kExitFailed, "standard output cannot be written");
    const int missing = int(result.points.size()) - predicted - kept;
    job.exitCode = missing == 0 ? kExitOk : kExitIncomplete;
    if (missing > 0)
        job.message = std::to_string(missing) + " of " + std::to_string(result.points.size())
            + " points not predicted";
}

} // namespace zemctl::signature
