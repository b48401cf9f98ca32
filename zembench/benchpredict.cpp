// The bench's Predict from CAD: a board with its parts (netlist and BOM) but
// no good board to learn from gets its references simulated, as one edit of
// the document, saved as a learn's references are.
#include "benchwindow.h"

#include "referenceprediction.h"
#include "runcontroller.h"
#include "signaturedocument.h"
#include "signaturemodel.h"

#include <QAction>
#include <QMenu>

void BenchWindow::buildPrediction(QMenu *menu)
{
    m_prediction = new ReferencePrediction(*m_document, this);
    m_predictAction
        = menu->addAction(tr("&Predict references from CAD"), this, &BenchWindow::predictFromCad);
    m_predictAction->setObjectName(QStringLiteral("predictAction"));
    m_predictAction->setShortcut(QKeySequence(tr("Ctrl+Shift+P")));
    m_predictAction->setToolTip(tr("Every point's references simulated from the board's parts; "
                                   "points learned from a board keep theirs"));
    connect(
        m_prediction, &ReferencePrediction::runningChanged, this, &BenchWindow::updatePrediction);
    connect(m_prediction, &ReferencePrediction::finished, this, &BenchWindow::setStatus);
    connect(m_run, &RunController::stateChanged, this, [this] {
        if (m_run->isRunning())
            m_prediction->cancel();
        updatePrediction();
    });
    connect(m_document, &SignatureDocument::replaced, this, &BenchWindow::updatePrediction);
    connect(
        m_document->model(), &QAbstractItemModel::modelReset, this, &BenchWindow::updatePrediction);
    updatePrediction();
}

void BenchWindow::predictFromCad()
{
    // A run holds the points it probes: no references change under it.
    if (!m_run->isRunning() && m_prediction->start())
        setStatus(tr("Predicting the references from the board's parts..."));
}

void BenchWindow::updatePrediction()
{
    m_predictAction->setEnabled(!m_run->isRunning() && m_prediction->canStart());
}
