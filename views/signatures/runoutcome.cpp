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

#include <QFileInfo>

#include <algorithm>
#include <cmath>

const std::vector<sig::PointResult> *RunController::results() const
{
    return m_probe && m_options.kind == Kind::Test ? &m_results : nullptr;
}

bool RunController::writeReport(const QString &file)
{
    static const std::vector<sig::PointResult> none;
    const auto *r = results();
    return m_document.writeReport(file, r ? *r : none, m_report);
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
    return m_order.empty() ? sig::boardVerdict(m_results, int(m_results.size()))
                           : sig::boardVerdict(m_results, m_order);
}

void RunController::finished()
{
    m_running = false;
    m_measuring = false;
    emit slow(false);
    // The device thread is done with the machine.
    m_finished = m_probe && m_probe->session().done();
    m_report.finished = QDateTime::currentDateTimeUtc();
    emit logMessage(tr("Signatures: run stopped"), LogLevel::Normal);
    emit stateChanged();
    if (m_finished && m_options.kind == Kind::Test && m_options.keepInHistory
        && m_context.history())
        record();
    if (m_finished && m_options.kind == Kind::CompareAlike)
        showSymmetry();
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

void RunController::record()
{
    const sig::Signature &board = m_document.signature();
    std::vector<int> order = m_order;
    if (order.empty())
        for (std::size_t k = 0; k < board.points.size(); ++k)
            order.push_back(int(k));
    zem::history::Run record = zem::history::historyRun(board, m_results, order, m_started,
        m_options.serial, QFileInfo(m_document.path()).fileName());
    record.operatorName = m_options.operatorName;
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

