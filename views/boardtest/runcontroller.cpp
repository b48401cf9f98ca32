#include "runcontroller.h"

#include "dockcontext.h"
#include "signaturedocument.h"
#include "signaturemodel.h"

#include "boardprober.h"
#include "devicerun.h"
#include "devicesession.h"
#include "netcheck.h"
#include "outputguard.h"
#include "recording.h"
#include "worker.h"

#include <QFileInfo>
#include <QTimer>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

RunController::RunController(DockContext &context, SignatureDocument &document, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_document(document)
{
    // A run on a handle that is gone stops: later, as the run's own call may be
    // what closed it, and only that run.
    connect(&context.session(), &DeviceSession::closed, this, [this] {
        if (isRunning())
            QTimer::singleShot(0, this, [this, runs = m_runs] {
                if (runs == m_runs)
                    stop();
            });
    });
    // The run's machine holds a copy of the signature; the one it reports to goes.
    connect(&document, &SignatureDocument::aboutToReplace, this, &RunController::reset);
    // Nothing the board leaves is written over the history in use.
    document.setKeptFiles([&context] {
        return context.history() ? sig::keptHistory(context.history()->locationText())
                                 : std::vector<sig::KeptFile>();
    });
}

RunController::~RunController() = default;

void RunController::reset()
{
    stop();
    m_run.reset();
    m_test.reset();
    m_results.clear();
    m_record = sig::RunRecord();
    m_finished = false;
    m_document.model()->setResults(nullptr);
}

bool RunController::start(const Options &options)
{
    if (isRunning())
        return false;
    const sig::Signature &board = m_document.signature();
    if (!m_context.session().isOpen()) {
        emit statusChanged(tr("Connect to an instrument first."));
        return false;
    }
    if (board.points.empty()) {
        emit statusChanged(tr("Add the points to probe first."));
        return false;
    }
    m_options = options;
    const int row = m_finished ? 0 : std::max(0, options.row);
    zem::history::Worker *history = m_context.history();
    if (options.kind != Kind::Test || !options.likelyFirst || !history) {
        begin(row, std::nullopt);
        return true;
    }
    // The order is read on the history's thread; the run starts when it comes.
    m_orderPending = true;
    emit stateChanged();
    emit statusChanged(tr("Reading the probing order from the history..."));
    history->post(this,
        [this, row, type = board.board](
            zem::history::Store *store, const QString &error) -> zem::history::Worker::Reply {
            std::optional<QStringList> likely;
            if (store)
                likely = store->probeOrder(type);
            const QString why = store ? store->errorString() : error;
            return [this, row, likely, why] {
                if (!m_orderPending)
                    return; // stopped meanwhile
                m_orderPending = false;
                if (!m_context.session().isOpen()) { // disconnected meanwhile
                    emit stateChanged();
                    emit statusChanged(tr("Connect to an instrument first."));
                    return;
                }
                // Without the history the run goes in the usual order: it still tests.
                if (!likely)
                    emit logMessage(tr("Signatures: no probing order from the history %1: %2")
                                        .arg(m_context.history()->locationText(), why),
                        LogLevel::Failure);
                begin(row, likely);
            };
        });
    return true;
}

void RunController::begin(int row, std::optional<QStringList> likelyFirst)
{
    const sig::Signature &board = m_document.signature();
    const bool learning = m_options.kind != Kind::Test;
    m_finished = false;
    m_document.model()->setResults(nullptr);
    m_run.reset();
    m_test.reset();
    m_results.assign(board.points.size(), sig::PointResult());
    m_alike.assign(board.points.size(), sig::IvCurve());

    sig::RunPlan plan;
    plan.kind = m_options.kind == Kind::Test ? sig::RunPlan::Kind::Test
        : m_options.kind == Kind::Learn      ? sig::RunPlan::Kind::Learn
                                             : sig::RunPlan::Kind::Measure;
    plan.signature = board;
    plan.signaturePath = m_document.path();
    plan.likelyFirst = std::move(likelyFirst);
    if (m_options.kind == Kind::CompareAlike) {
        const QString group = board.points[std::size_t(row)].group;
        for (std::size_t k = 0; k < board.points.size(); ++k)
            if (group.isEmpty() || board.points[k].group == group)
                plan.points.push_back(int(k));
    }
    // On contact the curve says when to measure; else the probe's button or
    // the measure key.
    plan.trigger
        = m_options.onContact ? sig::RunPlan::Trigger::OnContact : sig::RunPlan::Trigger::Button;
    plan.prober = m_options.proberUrl;
    plan.session.add = m_options.addBoard;
    plan.session.autoSettings = m_options.autoSettings;
    plan.session.repeat = m_options.repeat;
    plan.serial = m_options.serial;
    plan.operatorName = m_options.operatorName;
    if (zem::history::Worker *history = m_context.history())
        plan.outputs.history = history->locationText();
    plan.outputs.record = m_options.kind == Kind::Test && m_options.keepInHistory;
    // A person at the window tries a point again after a failed call.
    plan.stopOnFailure = false;
    QString error;
    const std::optional<std::vector<int>> order = sig::plannedOrder(plan, &error);
    if (!order) {
        emit stateChanged();
        emit statusChanged(error);
        return;
    }
    // From the chosen row on: the first point of the order at or after it.
    int first = order->front();
    if (m_options.kind != Kind::CompareAlike && !plan.likelyFirst) {
        const auto at
            = std::find_if(order->begin(), order->end(), [row](int k) { return k >= row; });
        if (at != order->end())
            first = *at;
    }
    // Begun at its first point, the run is the whole board's, not a resumed one.
    if (first != order->front())
        plan.from = board.points[std::size_t(first)].name;
    DeviceSession &device = m_context.session();
    // The test's events come on the device thread; they are taken on this one.
    m_test = sig::BoardTest::create(
        device.connection(), std::move(plan),
        [this](const sig::BoardTest::Event &e, const sig::RunRecord &) {
            m_run->toWindow([this, e] { onEvent(e); });
        },
        &error);
    if (!m_test) {
        emit statusChanged(error);
        emit stateChanged();
        return;
    }
    m_order = m_test->record().order;
    if (motion::GantryProber *machine = m_test->machine())
        machine->setPositionListener([this](const motion::grbl::MachinePoint &p) {
            m_run->toWindow([this, at = QPointF(p.x, p.y)] { emit machineMoved(at); });
        });
    sig::BoardTest *t = m_test.get();
    m_run = std::make_unique<DeviceRun>(
        device, zem::calls::Origin::Signature,
        [t](sig::BoardTest::Clock::time_point now) {
            const auto next = t->advance(now);
            if (!next)
                t->releaseProber();
            return next;
        },
        [t] {
            t->stop(tr("Stopped"));
            t->releaseProber();
        },
        this);
    connect(m_run.get(), &DeviceRun::finished, this, &RunController::finished);
    connect(m_run.get(), &DeviceRun::waiting, this, &RunController::slow);
    ++m_runs;
    m_undoBefore = m_document.undoStack()->index();
    m_document.model()->setResults(learning ? nullptr : &m_results);
    emit pointSelected(first);
    if (!learning)
        emit verdictChanged();
    m_running = true;
    m_measuring = false;
    emit stateChanged();
    emit logMessage(learning ? tr("Signatures: learning started") : tr("Signatures: test started"),
        LogLevel::Normal);
    m_run->start();
}

void RunController::stop()
{
    if (m_orderPending) {
        m_orderPending = false;
        emit statusChanged(tr("Run stopped"));
        emit stateChanged();
    } else if (m_running) {
        m_run->stop();
    }
}

void RunController::measure()
{
    if (m_running && !m_measuring)
        m_run->post([t = m_test.get()] { t->trigger(); });
}

void RunController::select(int row)
{
    if (m_running && !m_measuring)
        m_run->post([t = m_test.get(), row] { t->select(row); });
}

void RunController::onEvent(const sig::BoardTest::Event &e)
{
    using Event = sig::BoardTest::Event;
    const sig::Signature &board = m_document.signature();
    const bool alike = m_options.kind == Kind::CompareAlike;
    const bool learning = m_options.kind != Kind::Test;
    const auto status = [this](const QString &text) {
        m_lastStatus = text;
        emit statusChanged(text);
    };
    switch (e.kind) {
    case Event::Measuring:
        m_measuring = true;
        emit stateChanged();
        break;
    case Event::Waiting: {
        emit pointSelected(e.point);
        const QString &name = board.points[std::size_t(e.point)].name;
        status(learning ? tr("Learning: probe %1 and measure.").arg(name)
                        : tr("Testing: probe %1 and measure.").arg(name));
        break;
    }
    case Event::Measured: {
        const sig::Point &p = board.points[std::size_t(e.point)];
        if (alike) {
            if (e.measurement == 0)
                m_alike[std::size_t(e.point)] = e.curve;
            emit curvesChanged(nullptr, &e.curve);
        } else if (learning) {
            emit curvesChanged(&e.curve, nullptr); // stored once the point is done
        } else {
            const auto &ref = p.measurements[e.measurement].reference;
            emit curvesChanged(ref ? &*ref : nullptr, &e.curve);
        }
        m_measuring = false;
        m_document.model()->pointChanged(e.point);
        emit stateChanged();
        break;
    }
    case Event::PointDone: {
        const sig::Point &p = board.points[std::size_t(e.point)];
        QString text;
        if (learning) {
            text = alike ? tr("%1 measured").arg(p.name) : tr("%1 learned").arg(p.name);
            if (!alike && e.learned)
                m_document.learn(e.point, *e.learned);
        } else {
            m_results[std::size_t(e.point)] = e.result;
            m_document.model()->pointChanged(e.point);
            const sig::PointResult &r = e.result;
            text = std::isnan(r.score) ? tr("%1: %2").arg(p.name, sig::verdictText(r.verdict))
                                       : tr("%1: %2, score %3 % (tolerance %4 %); %5")
                                             .arg(p.name, sig::verdictText(r.verdict))
                                             .arg(r.score, 0, 'f', 1)
                                             .arg(board.toleranceOf(p), 0, 'f', 1)
                                             .arg(r.reading.text());
            // By hand a missed pad reads as an open pin: the probe is the
            // first thing to check.
            if (r.cause && r.cause->kind == sig::Cause::Kind::Open)
                text += tr("; check the probe's contact");
            if (!r.note.isEmpty())
                text += tr("; note: %1").arg(r.note);
            if (const QString marks = sig::resultMarks(r); !marks.isEmpty())
                text += QStringLiteral("; ") + marks;
            emit logMessage(tr("Signatures: %1").arg(text),
                r.verdict == sig::Verdict::Pass ? LogLevel::Normal : LogLevel::Failure);
        }
        status(text);
        emit pointDone(e.point, e.step.verdict);
        if (!learning)
            emit verdictChanged();
        break;
    }
    case Event::Judged: {
        // A net's points are judged together once its last is measured:
        // the table, the banner and the history follow the final verdict.
        if (learning || std::size_t(e.point) >= m_results.size())
            break;
        const sig::Verdict before = m_results[std::size_t(e.point)].verdict;
        m_results[std::size_t(e.point)] = e.result;
        m_document.model()->pointChanged(e.point);
        if (e.result.verdict == before)
            break;
        const sig::Point &p = board.points[std::size_t(e.point)];
        if (e.result.verdict == sig::Verdict::NetDisagrees) {
            const QString why = sig::netDisagreementText(board, p, e.result.netPoints);
            emit logMessage(tr("Signatures: %1: %2").arg(p.name, why), LogLevel::Failure);
        }
        emit verdictChanged();
        break;
    }
    case Event::Failed:
        m_measuring = false;
        status(e.message);
        emit logMessage(tr("Signatures: %1").arg(e.message), LogLevel::Failure);
        emit stateChanged();
        break;
    case Event::Ended:
        if (e.complete && m_options.kind == Kind::Test)
            status(tr("%1. All points done. Board: %2")
                       .arg(m_lastStatus, sig::boardVerdictHeadline(boardVerdict())));
        else if (e.complete)
            status(tr("%1. All points done.").arg(m_lastStatus));
        break;
    case Event::Still:
        status(tr("%1 holds still: measuring.").arg(board.points[std::size_t(e.point)].name));
        break;
    case Event::Notice:
        status(e.message);
        emit logMessage(tr("Signatures: %1").arg(e.message), LogLevel::Normal);
        break;
    case Event::Retry:
        status(tr("%1: no contact, trying again (try %2).")
                   .arg(board.points[std::size_t(e.point)].name)
                   .arg(e.attempt + 1));
        break;
    }
}
