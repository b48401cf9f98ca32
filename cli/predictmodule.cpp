// learn --predict: every point's references simulated from the board's
// parts, without an instrument: the options made a request of predict/,
// and its report printed.
#include "signaturerunner.h"

#include "references.h"

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
    predict::PredictRequest request;
    request.models = QString::fromStdString(job.models);
    if (job.predictionTolerance >= 0)
        request.tolerance = job.predictionTolerance;
    request.common = QString::fromStdString(job.common);
    request.chooseSettings = job.chooseSettings;
    for (const std::string &name : job.points)
        request.points << QString::fromStdString(name);
    const predict::PredictReport report = predict::predictReferences(*board, request);
    if (report.refusal == predict::PredictReport::Refusal::Request)
        return fail(kExitUsage,
            "no point named " + job.points[std::size_t(report.unknownPoint)] + " in " + job.file);
    if (!report.ok())
        return fail(kExitInput, report.error.toStdString());
    const predict::Prediction &result = report.prediction;

    const int predicted = report.predicted;
    bool written = true;
    for (const predict::PointPrediction &p : result.points) {
        nlohmann::ordered_json line { { "point", p.point.toStdString() },
            { "predicted", p.predicted } };
        if (!p.message.isEmpty())
            line[p.missing() ? "error" : "note"] = p.message.toStdString();
        if (job.text)
            written = print(shown(p.point) + "  " + (p.predicted ? "predicted" : "not predicted")
                          + (p.message.isEmpty() ? "" : ": " + shown(p.message)))
                && written;
        else
            written = print(line.dump()) && written;
    }
    if (predicted > 0 && !sig::save(*board, path, &error))
        return fail(kExitFailed, error.toStdString());
    nlohmann::ordered_json summary { { "predicted", predicted }, { "kept", report.kept },
        { "points", result.points.size() }, { "models", result.models.toStdString() },
        { "simulations", result.simulations }, { "seconds", report.seconds },
        { "unknown_parts", names(result.unknown) }, { "part_problems", names(result.problems) } };
    if (report.choice) {
        summary["settings_chosen"] = { { "points_changed", report.choice->changed() },
            { "faults", report.choice->faults }, { "shown_before", report.choice->shownBefore },
            { "shown", report.choice->shown }, { "hidden", names(report.choice->hidden) },
            { "simulations", report.choice->simulations } };
    }
    if (job.text) {
        written = print(report.summary().toStdString()) && written;
        for (const QString &note : report.partNotes() + report.choiceNotes())
            written = print(shown(note)) && written;
    } else {
        written = print(summary.dump()) && written;
    }
    if (!written)
        return fail(kExitFailed, "standard output cannot be written");
    job.exitCode = report.missing() == 0 ? kExitOk : kExitIncomplete;
    job.message = report.missingText().toStdString();
}

} // namespace zemctl::signature
