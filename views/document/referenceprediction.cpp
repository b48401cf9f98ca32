#include "referenceprediction.h"

#include "signaturedocument.h"
#include "signatureedits.h"
#include "signaturemodel.h"

#include <QFutureWatcher>
#include <QUndoStack>
#include <QtConcurrent/QtConcurrentRun>

ReferencePrediction::ReferencePrediction(SignatureDocument &document, QObject *parent)
    : QObject(parent)
    , m_document(document)
    , m_watcher(new QFutureWatcher<Outcome>(this))
{
    connect(m_watcher, &QFutureWatcherBase::finished, this, &ReferencePrediction::done);
    const auto stale = [this] { m_stale = true; };
    connect(&document, &SignatureDocument::aboutToReplace, this, stale);
    connect(document.undoStack(), &QUndoStack::indexChanged, this, stale);
}

ReferencePrediction::~ReferencePrediction()
{
    if (!isRunning())
        return;
    // The simulations under way finish; no more start.
    m_cancel->store(true);
    m_watcher->waitForFinished();
}

bool ReferencePrediction::isRunning() const
{
    return m_running;
}

bool ReferencePrediction::canStart() const
{
    return !isRunning() && predict::canPredict(m_document.signature());
}

bool ReferencePrediction::start(predict::PredictRequest request)
{
    if (!canStart())
        return false;
    m_stale = false;
    // The flag outlives this object as long as the work needs it.
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    request.cancelled = m_cancel.get();
    m_running = true;
    m_watcher->setFuture(
        QtConcurrent::run([board = m_document.signature(), request, cancel = m_cancel] {
            Outcome out { board, {} };
            out.report = predict::predictReferences(out.board, request);
            return out;
        }));
    emit runningChanged(true);
    return true;
}

void ReferencePrediction::cancel()
{
    if (!isRunning())
        return;
    m_stale = true;
    m_cancel->store(true);
}

void ReferencePrediction::done()
{
    const Outcome outcome = m_watcher->result();
    m_running = false;
    emit runningChanged(false);
    if (m_stale)
        return emit finished(tr("The board changed, or a run began, while its references were "
                                "predicted: nothing was applied. Predict again."));
    const predict::PredictReport &report = outcome.report;
    if (!report.ok())
        return emit finished(tr("Nothing predicted: %1").arg(report.error));
    std::vector<int> rows;
    for (const predict::PointPrediction &p : report.prediction.points)
        if (p.predicted)
            rows.push_back(outcome.board.find(p.point));
    if (!rows.empty())
        m_document.undoStack()->push(
            new edits::PredictReferences(*m_document.model(), outcome.board, std::move(rows),
                tr("Predict %n reference(s) from CAD", nullptr, report.predicted)));
    emit finished(predictionStatus(report));
}

QString predictionStatus(const predict::PredictReport &report)
{
    QStringList said { report.summary() };
    if (report.kept > 0)
        said << ReferencePrediction::tr("%n learned from a board kept", nullptr, report.kept);
    said << report.partNotes();
    QStringList missing;
    for (const predict::PointPrediction &p : report.prediction.points)
        if (p.missing())
            missing << ReferencePrediction::tr("%1 (%2)").arg(p.point, p.message);
    if (!missing.isEmpty())
        said << ReferencePrediction::tr("not predicted: %1").arg(missing.join(QLatin1String(", ")));
    return said.join(QLatin1String("; ")) + QLatin1Char('.');
}
