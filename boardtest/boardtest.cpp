#include "boardtest.h"

#include "boardprober.h"
#include "connection.h"
#include "probeorder.h"
#include "reading.h"

#include <QFileInfo>

#include <algorithm>

namespace sig {

namespace {

ProbeRun::Options probeOptions(const RunPlan &plan, bool machine)
{
    ProbeRun::Options o;
    o.session = plan.session;
    o.contactTries = plan.contactTries;
    using Trigger = RunPlan::Trigger;
    // A machine says when the probe is down; a missed pad is tried lower.
    const Trigger trigger = machine ? Trigger::Now : plan.trigger;
    o.autoMeasure = trigger == Trigger::Now || trigger == Trigger::OnContact;
    o.pollButton = trigger == Trigger::Button;
    o.measureOnContact = trigger == Trigger::OnContact;
    return o;
}

// The instrument's identity, read once before the first point of a test; a
// failed call leaves it empty, so a record never waits on a lost device.
void identify(zem::Connection &device, RunHeader *header)
{
    get_identity_information_response id {};
    if (!device.isOpen() || device.call("get_identity_information", nullptr, &id) != 0)
        return;
    header->instrument
        = QCoreApplication::translate("sig::BoardTest", "serial %1, firmware %2.%3.%4")
              .arg(id.SerialNumber)
              .arg(id.FirmwareMajor)
              .arg(id.FirmwareMinor)
              .arg(id.FirmwareBugfix);
    header->instrumentSerial = QString::number(id.SerialNumber);
}

// Every curve the learn just stored for the point reads open: the newest
// reference of each measurement (a board added comes last), the variant's
// when one is learned.
bool readsOpen(const Signature &board, const Point &p, const QString &variant)
{
    const int v = variant.isEmpty() ? -1 : p.findVariant(variant);
    const std::vector<Measurement> &learned
        = v < 0 ? p.measurements : p.variants[std::size_t(v)].measurements;
    if (learned.empty())
        return false;
    for (std::size_t m = 0; m < learned.size(); ++m) {
        const Measurement &into = learned[m];
        const IvCurve *curve = !into.moreBoards.empty() ? &into.moreBoards.back()
            : into.reference                            ? &*into.reference
                                                        : nullptr;
        if (!curve || read(*curve, board.settingsOf(p, m)).kind != Reading::Kind::Open)
            return false;
    }
    return true;
}

} // namespace

BoardTest::BoardTest(zem::Connection &device, RunPlan plan, Listener listener)
    : m_device(device)
    , m_plan(std::move(plan))
    , m_listener(std::move(listener))
{
}

BoardTest::~BoardTest() = default;

std::unique_ptr<BoardTest> BoardTest::create(
    zem::Connection &device, RunPlan plan, Listener listener, QString *error)
{
    std::unique_ptr<BoardTest> test(new BoardTest(device, std::move(plan), std::move(listener)));
    if (!test->prepare(error))
        return nullptr;
    return test;
}

bool BoardTest::prepare(QString *error)
{
    const Signature &board = m_plan.signature;
    std::optional<std::vector<int>> order = plannedOrder(m_plan, error);
    if (!order)
        return false;
    std::unique_ptr<motion::GantryProber> machine;
    if (!m_plan.prober.isEmpty()) {
        machine
            = motion::boardProber(m_plan.prober, board, *order, error, nullptr, m_plan.machineLine);
        if (!machine)
            return false;
        if (m_plan.pathOrder)
            *order = machineOrder(machine->config(), *order);
    } else if (m_plan.pathOrder) {
        *error = tr("the shortest path needs a machine: give a prober");
        return false;
    }
    int first = -1;
    if (!m_plan.from.trimmed().isEmpty()) {
        first = board.find(m_plan.from.trimmed());
        if (std::find(order->begin(), order->end(), first) == order->end()) {
            *error = tr("%1: no such point in the run").arg(m_plan.from.trimmed());
            return false;
        }
    }

    RunHeader &h = m_record.header;
    h.boardType = board.board;
    h.serial = m_plan.serial;
    h.operatorName = m_plan.operatorName;
    h.station = m_plan.station;
    h.deviceUrl = m_plan.deviceUrl;
    h.signatureName
        = m_plan.signaturePath.isEmpty() ? board.board : QFileInfo(m_plan.signaturePath).fileName();
    h.started = QDateTime::currentDateTimeUtc();
    m_record.kind = m_plan.kind;
    m_record.signature = board;
    m_record.order = *order;
    m_record.results.assign(board.points.size(), PointResult());
    m_record.seconds.assign(board.points.size(), 0.0);
    m_record.verdict = boardVerdict(m_record.results, board.probedPoints());
    m_done.assign(board.points.size(), 0);
    m_identified = m_plan.kind != RunPlan::Kind::Test;

    m_machine = machine.get();
    m_run = std::make_unique<ProbeRun>(
        m_device, board, sessionMode(m_plan.kind), probeOptions(m_plan, m_machine), *order,
        [this](const Event &e) { onEvent(e); }, std::move(machine));
    if (first >= 0)
        m_run->select(first);
    return true;
}

std::optional<BoardTest::Clock::time_point> BoardTest::advance(Clock::time_point now)
{
    if (!m_identified) {
        m_identified = true;
        identify(m_device, &m_record.header);
        return now;
    }
    return m_run->advance(now);
}

void BoardTest::trigger()
{
    m_run->trigger();
}

void BoardTest::select(int point)
{
    m_run->select(point);
}

void BoardTest::stop(const QString &why)
{
    if (m_run->ended())
        return;
    if (m_record.coverage.stopReason.isEmpty()) {
        m_record.coverage.stopReason = why;
        m_record.coverage.stoppedAt = m_run->point();
    }
    m_run->cancel();
}

void BoardTest::releaseProber()
{
    m_run->releaseProber();
}

void BoardTest::clock(const Event &e)
{
    // A net's verdicts come once its last point is done: no time of theirs.
    if (e.kind == Event::Judged || e.point < 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (e.point != m_timed) {
        m_timed = e.point;
        m_timedSince = now;
    }
    if (e.kind == Event::PointDone || e.kind == Event::Failed) {
        m_record.seconds[std::size_t(e.point)]
            = std::chrono::duration<double>(now - m_timedSince).count();
        m_timed = -1;
    }
}

void BoardTest::onEvent(const Event &e)
{
    clock(e);
    const bool test = m_plan.kind == RunPlan::Kind::Test;
    const auto at = std::size_t(e.point);
    switch (e.kind) {
    case Event::PointDone:
        m_done[at] = 1;
        if (test) {
            m_record.results[at] = e.result;
        } else if (e.learned) {
            m_record.signature.points[at] = *e.learned;
            if (m_plan.kind == RunPlan::Kind::Learn
                && readsOpen(m_record.signature, *e.learned, m_plan.session.variant)
                && !(e.learned->expect && e.learned->expect->quantity == QLatin1String("open")))
                m_record.learnedOpen.push_back(e.point);
        }
        break;
    case Event::Judged:
        m_record.results[at] = e.result;
        break;
    case Event::Failed:
        if (m_plan.stopOnFailure && m_record.coverage.stopReason.isEmpty()) {
            m_record.coverage.stopReason = e.message;
            m_record.coverage.stoppedAt = e.point;
            m_record.coverage.failed = true;
        }
        break;
    case Event::Ended:
        // A run that ended itself early (a machine that failed while a
        // person could have tried again) says why too.
        if (!e.complete && m_record.coverage.stopReason.isEmpty())
            m_record.coverage.stopReason = e.message;
        finish();
        break;
    default:
        break;
    }
    if (test && (e.kind == Event::PointDone || e.kind == Event::Judged))
        m_record.verdict = boardVerdict(m_record.results, m_record.signature.probedPoints());
    if (m_listener)
        m_listener(e, m_record);
    if (e.kind == Event::Failed && m_plan.stopOnFailure && !m_run->ended())
        m_run->cancel();
}

void BoardTest::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    RunRecord &r = m_record;
    r.header.finished = QDateTime::currentDateTimeUtc();
    Coverage &c = r.coverage;
    c.tested.clear();
    c.untested.clear();
    for (int k : r.order)
        if (m_done[std::size_t(k)])
            c.tested.push_back(k);
    const std::vector<int> board
        = m_plan.kind == RunPlan::Kind::Measure ? r.order : r.signature.probedPoints();
    for (int k : board)
        if (!m_done[std::size_t(k)])
            c.untested.push_back(k);
    c.complete = c.untested.empty();
    c.subset = r.order.size() < board.size() || !m_plan.from.trimmed().isEmpty();
    if (m_plan.kind == RunPlan::Kind::Test)
        r.verdict = boardVerdict(r.results, r.signature.probedPoints());
    r.learnedNothing = m_plan.kind == RunPlan::Kind::Learn && !r.learnedOpen.empty()
        && std::all_of(c.tested.begin(), c.tested.end(), [&](int k) {
               return readsOpen(
                   r.signature, r.signature.points[std::size_t(k)], m_plan.session.variant);
           });
}

} // namespace sig
