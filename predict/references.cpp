#include "references.h"

#include "models.h"
#include "ngspice.h"
#include "signature.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

namespace predict {
namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("predict::References", text);
}

PredictReport refused(PredictReport::Refusal why, const QString &error)
{
    PredictReport out;
    out.refusal = why;
    out.error = error;
    return out;
}

} // namespace

QString PredictReport::summary() const
{
    return tr("%1 of %2 points predicted with models %3")
        .arg(predicted)
        .arg(prediction.points.size())
        .arg(prediction.models);
}

QStringList PredictReport::partNotes() const
{
    QStringList out;
    if (!prediction.unknown.isEmpty())
        out << tr("unknown parts, left open: %1").arg(prediction.unknown.join(QLatin1String(", ")));
    out << prediction.problems;
    return out;
}

QString PredictReport::missingText() const
{
    return missing() > 0
        ? tr("%1 of %2 points not predicted").arg(missing()).arg(prediction.points.size())
        : QString();
}

QStringList PredictReport::choiceNotes() const
{
    if (!choice)
        return {};
    const int changed = choice->changed();
    QStringList out { tr("settings chosen: %1 of %2 points given more measurements; %3 of %4 "
                         "faults shown (%5 by the points' own settings)")
                          .arg(changed)
                          .arg(choice->points.size())
                          .arg(choice->shown)
                          .arg(choice->faults)
                          .arg(choice->shownBefore) };
    if (!choice->hidden.isEmpty())
        out << tr("shown by no setting: %1").arg(choice->hidden.join(QLatin1String(", ")));
    return out;
}

bool canPredict(const sig::Signature &board)
{
    return !board.parts.empty();
}

PredictReport predictReferences(
    sig::Signature &board, const PredictRequest &request, Simulator *simulator)
{
    using Refusal = PredictReport::Refusal;
    QElapsedTimer clock;
    clock.start();
    Models models = Models::builtIn();
    if (!request.models.isEmpty()) {
        QString error;
        auto own = Models::load(request.models, models, &error);
        if (!own)
            return refused(Refusal::Input, error);
        models = std::move(*own);
    }
    // Predicted on a copy: the points not asked for are marked to skip
    // there, and a refusal leaves the board untouched.
    sig::Signature chosen = board;
    if (request.tolerance)
        chosen.predictionTolerance = *request.tolerance;
    if (!request.common.isEmpty())
        chosen.common = request.common.trimmed();
    if (!request.points.isEmpty()) {
        for (sig::Point &p : chosen.points)
            p.check = sig::Check::Skip;
        for (qsizetype n = 0; n < request.points.size(); ++n) {
            const QString &name = request.points[n];
            const int k = chosen.find(name.trimmed());
            if (k < 0) {
                PredictReport out = refused(
                    Refusal::Request, tr("no point named %1 in %2").arg(name, board.board));
                out.unknownPoint = int(n);
                return out;
            }
            chosen.points[std::size_t(k)].check = board.points[std::size_t(k)].check;
        }
    }

    std::optional<NgspiceSimulator> ngspice;
    PredictOptions options;
    options.cancelled = request.cancelled;
    if (!simulator) {
        const int wanted = request.threads > 0 ? request.threads : QThread::idealThreadCount();
        ngspice.emplace(std::max(1, wanted));
        simulator = &*ngspice;
        options.threads = ngspice->copies();
    } else {
        options.threads = std::max(1, request.threads);
    }
    PredictReport out;
    if (request.chooseSettings) {
        ChoiceOptions choice;
        choice.tolerance = chosen.tolerance;
        choice.replaceLearned = options.replaceLearned;
        choice.threads = options.threads;
        choice.cancelled = request.cancelled;
        out.choice = chooseSettings(chosen, models, *simulator, choice);
        if (!out.choice->error.isEmpty())
            return refused(request.cancelled && *request.cancelled ? Refusal::Cancelled
                                                                   : Refusal::Input,
                out.choice->error);
    }
    out.prediction = predictBoard(chosen, models, *simulator, options);
    if (!out.prediction.error.isEmpty()) {
        out.refusal = request.cancelled && *request.cancelled ? Refusal::Cancelled : Refusal::Input;
        out.error = out.prediction.error;
        return out;
    }
    board.predictionTolerance = chosen.predictionTolerance;
    board.common = chosen.common;
    for (std::size_t k = 0; k < board.points.size(); ++k) {
        sig::Point &p = board.points[k];
        p.measurements = std::move(chosen.points[k].measurements);
        p.predictedBy = chosen.points[k].predictedBy;
    }
    for (const PointPrediction &p : out.prediction.points) {
        out.predicted += p.predicted;
        out.kept += p.kept;
    }
    out.seconds = clock.elapsed() / 1000.0;
    return out;
}

} // namespace predict
