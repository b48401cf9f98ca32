// What a run leaves: the last test's results, its report and curves, the
// board's verdict, the finished run's symmetry table and its record in the
// history.
#include "runcontroller.h"

#include "dockcontext.h"
#include "signaturedocument.h"
#include "signaturemodel.h"

#include "historyrun.h"
#include "store.h"
#include "symmetry.h"
#include "worker.h"

#include <QUndoStack>

#include <algorithm>
#include <cmath>

const std::vector<sig::PointResult> *RunController::results() const
{
    return m_test && m_options.kind == Kind::Test ? &m_results : nullptr;
}

bool RunController::writeReport(const QString &file)
{
    // After a learn, or before any test: the board alone.
    if (!results() || m_running)
        return m_document.writeReport(file, sig::boardRecord(m_document.signature()));
    sig::RunRecord record = m_record;
    record.signature = m_document.signature();
    return m_document.writeReport(file, record);
}

std::pair<const sig::IvCurve *, const sig::IvCurve *> RunController::curvesOf(int row) const
{
    const auto &points = m_document.signature().points;
    if (row < 0 || row >= int(points.size()))
        return {};
    const auto &ref = points[std::size_t(row)].measurements.front().reference;
    const auto *r = results();
    const sig::IvCurve *test
        = r && std::size_t(row) < r->size() && !(*r)[std::size_t(row)].curves.empty()
        ? &(*r)[std::size_t(row)].curves.front()
        : nullptr;
    return { ref ? &*ref : nullptr, test };
}

sig::BoardVerdict RunController::boardVerdict() const
{
    if (!results())
        return sig::BoardVerdict();
    return sig::boardVerdict(m_results, m_document.signature().probedPoints());
}

void RunController::finished()
{
    m_running = false;
    m_measuring = false;
    emit slow(false);
    // The device thread is done with the test: its record is the window's.
    m_record = m_test->record();
    m_finished = m_test->session().done();
    emit logMessage(tr("Signatures: run stopped"), LogLevel::Normal);
    if (m_options.kind == Kind::Test) {
        m_results = m_record.results;
        m_document.model()->setResults(&m_results);
        emit verdictChanged();
    }
    if (m_options.kind == Kind::Learn && m_record.learnedNothing)
        forgetLearned();
    emit stateChanged();
    // A stopped run is kept too, as partial, once it tested a point.
    if (m_options.kind == Kind::Test && m_options.keepInHistory && m_context.history()
        && !m_record.coverage.tested.empty())
        recordInHistory();
    if (m_finished && m_options.kind == Kind::CompareAlike)
        showSymmetry();
}

void RunController::forgetLearned()
{
    // Every pin read open: the probe touched nothing. What the run learned
    // goes, so that no later board passes against open circuits.
    QUndoStack *undo = m_document.undoStack();
    if (undo->index() > m_undoBefore)
        undo->setIndex(m_undoBefore);
    const QString text = sig::learnedNothingText(m_record);
    m_lastStatus = text;
    emit statusChanged(text);
    emit logMessage(tr("Signatures: %1").arg(text), LogLevel::Failure);
}

void RunController::showSymmetry()
{
    const sig::Signature &board = m_document.signature();
    std::vector<sig::IvCurve> curves;
    for (int k : m_order)
        curves.push_back(m_alike[std::size_t(k)]);
    const auto members = sig::symmetry(curves, board.settings, board.tolerance);
    m_results.assign(board.points.size(), sig::PointResult());
    int odd = 0;
    for (std::size_t i = 0; i < members.size() && i < m_order.size(); ++i) {
        sig::PointResult &r = m_results[std::size_t(m_order[i])];
        r.verdict = members[i].outlier ? sig::Verdict::Different : sig::Verdict::Pass;
        r.score = members[i].score;
        r.curves = { curves[i] };
        r.reading = sig::read(curves[i], board.settings);
        if (members[i].outlier) {
            r.cause = members[i].cause;
            ++odd;
        }
    }
    m_document.model()->setResults(&m_results);
    const QString text = tr("%n point(s) differ from the others", nullptr, odd);
    m_lastStatus = text;
    emit statusChanged(text);
    emit logMessage(tr("Signatures: %1").arg(text), odd ? LogLevel::Failure : LogLevel::Normal);
}

void RunController::recordInHistory()
{
    sig::RunRecord kept = m_record;
    kept.signature = m_document.signature();
    const zem::history::Run record = sig::historyRun(kept);
    const QString uuid = record.uuid.toString(QUuid::WithoutBraces);
    zem::history::Worker *history = m_context.history();
    // The window goes on while the run is written; the history's thread
    // finishes it even when the window closes first.
    history->post(this,
        [this, record, uuid, where = history->locationText()](
            zem::history::Store *store, const QString &error) -> zem::history::Worker::Reply {
            if (!store)
                return [this, uuid, where, error] {
                    emit logMessage(tr("Signatures: run %1 not kept in the history %2: %3")
                                        .arg(uuid, where, error),
                        LogLevel::Failure);
                };
            const auto outcome = store->record(record);
            const QString why = store->errorString();
            return [this, uuid, outcome, why] {
                switch (outcome) {
                case zem::history::Store::Outcome::Stored:
                case zem::history::Store::Outcome::AlreadyStored:
                    emit logMessage(
                        tr("Signatures: run %1 kept in the history").arg(uuid), LogLevel::Normal);
                    emit runRecorded();
                    break;
                case zem::history::Store::Outcome::Spooled:
                    emit logMessage(tr("Signatures: the history server cannot be reached (%1); "
                                       "run %2 waits in the local spool")
                                        .arg(why, uuid),
                        LogLevel::Failure);
                    break;
                case zem::history::Store::Outcome::Failed:
                    emit logMessage(
                        tr("Signatures: run %1 not kept in the history: %2").arg(uuid, why),
                        LogLevel::Failure);
                    break;
                }
            };
        });
}
