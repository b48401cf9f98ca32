#include "runcontroller.h"

#include "dockcontext.h"
#include "signaturedocument.h"
#include "signaturemodel.h"

#include "boardprober.h"
#include "devicerun.h"
#include "devicesession.h"
#include "historyrun.h"
#include "netcheck.h"
#include "recording.h"
#include "store.h"
#include "symmetry.h"
#include "worker.h"

#include <QFileInfo>
#include <QTimer>

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
}

RunController::~RunController() = default;

void RunController::reset()
{
    stop();
    m_run.reset();
    m_probe.reset();
    m_results.clear();
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
        begin(row, {});
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
                const auto &points = m_document.signature().points;
                std::vector<int> order(points.size());
                for (std::size_t k = 0; k < order.size(); ++k)
                    order[k] = int(k);
                if (!likely)
                    emit logMessage(tr("Signatures: no probing order from the history %1: %2")
                                        .arg(m_context.history()->locationText(), why),
                        LogLevel::Failure);
                else
                    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                        const auto rank = [&](int k) {
                            const qsizetype at = likely->indexOf(points[std::size_t(k)].name);
                            return at < 0 ? likely->size() : at;
                        };
                        return rank(a) < rank(b);
                    });
                begin(row, std::move(order));
            };
        });
    return true;
}

void RunController::begin(int row, std::vector<int> order)
{
    const sig::Signature &board = m_document.signature();
    const bool learning = m_options.kind != Kind::Test;
    m_finished = false;
    m_document.model()->setResults(nullptr);
    m_run.reset();
    m_results.assign(board.points.size(), sig::PointResult());
    m_order = std::move(order);
    m_alike.assign(board.points.size(), sig::IvCurve());
    if (m_options.kind == Kind::CompareAlike) {
        const QString group = board.points[std::size_t(row)].group;
        for (std::size_t k = 0; k < board.points.size(); ++k)
            if (group.isEmpty() || board.points[k].group == group)
                m_order.push_back(int(k));
    }
    int first = m_order.empty() ? row : m_order.front();
    if (m_options.kind != Kind::CompareAlike) {
        // Points marked "skip" are neither learned nor tested.
        const bool fromRow = m_order.empty();
        m_order = fromRow ? board.probedPoints() : board.withoutSkipped(std::move(m_order));
        if (m_order.empty()) {
            emit stateChanged();
            emit statusChanged(tr("Every point is marked to skip: nothing to probe."));
            return;
        }
        const auto at = std::find_if(
            m_order.begin(), m_order.end(), [row](int k) { return k >= row; });
        first = fromRow && at != m_order.end() ? *at : m_order.front();
    }
    m_started = QDateTime::currentDateTimeUtc();
    m_report = sig::ReportInfo();
    m_report.serial = m_options.serial;
    m_report.operatorName = m_options.operatorName;
    m_report.started = m_started;
    sig::ProbeRun::Options options;
    // On contact the curve says when to measure; the button still can.
    options.pollButton = !m_options.onContact;
    options.autoMeasure = m_options.onContact;
    options.measureOnContact = m_options.onContact;
    options.session.add = m_options.addBoard;
    options.session.autoSettings = m_options.autoSettings;
    options.session.repeat = m_options.repeat;
    // Compared pins are measured as a board is learned, into nothing kept.
    const auto mode = learning ? sig::Session::Mode::Learn : sig::Session::Mode::Test;
    // A machine says when the probe is down, and tries a missed pad lower.
    std::unique_ptr<motion::GantryProber> machine;
    if (!m_options.proberUrl.isEmpty()) {
        std::vector<int> points = m_order;
        if (points.empty())
            for (int k = 0; k < int(board.points.size()); ++k)
                points.push_back(k);
        QString error;
        machine = motion::boardProber(m_options.proberUrl, board, points, &error);
        if (!machine) {
            emit statusChanged(error);
            emit stateChanged();
            return;
        }
        machine->setPositionListener([this](const motion::grbl::MachinePoint &p) {
            m_run->toWindow([this, at = QPointF(p.x, p.y)] { emit machineMoved(at); });
        });
        options.autoMeasure = true;
        options.pollButton = options.measureOnContact = false;
    }
    DeviceSession &device = m_context.session();
    // The machine's events come on the device thread; they are taken on this one.
    m_probe = std::make_unique<sig::ProbeRun>(device.connection(), board, mode, options, m_order,
        [this](const sig::ProbeRun::Event &e) { m_run->toWindow([this, e] { onEvent(e); }); },
        std::move(machine));
    m_probe->select(first);
    sig::ProbeRun *p = m_probe.get();
    // A test's report names the instrument: read once, on the device thread,
    // before the first point.
    auto identify = std::make_shared<bool>(!learning);
    m_run = std::make_unique<DeviceRun>(
        device, zem::calls::Origin::Signature,
        [this, p, identify, &device](sig::ProbeRun::Clock::time_point now) {
            if (*identify) {
                *identify = false;
                m_run->toWindow([this, id = sig::instrumentIdentity(device.connection())] {
                    m_report.instrument = id;
                });
            }
            const auto next = p->advance(now);
            if (!next)
                p->releaseProber();
            return next;
        },
        [p] {
            p->cancel();
            p->releaseProber();
        },
        this);
    connect(m_run.get(), &DeviceRun::finished, this, &RunController::finished);
    connect(m_run.get(), &DeviceRun::waiting, this, &RunController::slow);
    ++m_runs;
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
        m_run->post([p = m_probe.get()] { p->trigger(); });
}

void RunController::select(int row)
{
    if (m_running && !m_measuring)
        m_run->post([p = m_probe.get(), row] { p->select(row); });
}

void RunController::onEvent(const sig::ProbeRun::Event &e)
{
    using Event = sig::ProbeRun::Event;
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
    case Event::Retry:
        status(tr("%1: no contact, trying again (try %2).")
                   .arg(board.points[std::size_t(e.point)].name)
                   .arg(e.attempt + 1));
        break;
    }
}
