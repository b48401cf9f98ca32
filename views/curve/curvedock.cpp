#include "curvedock.h"

#include "curvefigures.h"
#include "devicerun.h"
#include "devicesession.h"
#include "dockcontext.h"
#include "filechooser.h"
#include "frameupdate.h"
#include "ivchart.h"
#include "pointsmodel.h"
#include "pointsview.h"
#include "recording.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

using Clock = MeasurementSequence::Clock;

} // namespace

CurveDock::CurveDock(DockContext &context, QWidget *parent)
    : QDockWidget(tr("Curve"), parent)
    , m_context(context)
    , session(&context.session())
{
    setObjectName(QStringLiteral("curveDock"));
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);

    auto *buttons = new QHBoxLayout;
    const auto button = [&](const char *name, const QString &text) {
        auto *b = new QPushButton(text);
        b->setObjectName(QLatin1String(name));
        buttons->addWidget(b);
        return b;
    };
    measureButton = button("measureButton", tr("Measure"));
    measureButton->setToolTip(tr("Measure one curve on the connected device"));
    repeatButton = button("repeatButton", tr("Repeat"));
    repeatButton->setCheckable(true);
    repeatButton->setToolTip(tr("Measure again as soon as a run ends, at most once per period"));
    repeatBox = new QSpinBox;
    repeatBox->setObjectName(QStringLiteral("repeatBox"));
    repeatBox->setRange(0, 3600000);
    repeatBox->setValue(500);
    repeatBox->setSuffix(tr(" ms"));
    repeatBox->setToolTip(tr("Shortest time from the start of one run to the start of the next"));
    buttons->addWidget(repeatBox);
    holdButton = button("holdButton", tr("Hold"));
    holdButton->setToolTip(tr("Keep the shown curve as a reference (at most %1)").arg(kMaxHeld));
    clearButton = button("clearButton", tr("Clear"));
    clearButton->setToolTip(tr("Remove the references and the page's curve"));
    exportButton = button("exportButton", tr("Export..."));
    exportButton->setToolTip(
        tr("Save the latest curve, or every curve shown, as CSV or JSON; the chart as PNG or SVG"));
    buttons->addStretch();
    layout->addLayout(buttons);

    tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("curveTabs"));
    buildChart();
    model = new PointsModel(this);
    // The other tabs are built when first shown: the window comes up sooner.
    timePage = new QWidget;
    timePage->setObjectName(QStringLiteral("timePage"));
    new QVBoxLayout(timePage);
    timePage->layout()->setContentsMargins(0, 0, 0, 0);
    pointsPage = new QWidget;
    pointsPage->setObjectName(QStringLiteral("pointsPage"));
    new QVBoxLayout(pointsPage);
    pointsPage->layout()->setContentsMargins(0, 0, 0, 0);
    tabs->addTab(view, tr("Current-voltage"));
    tabs->addTab(timePage, tr("Time"));
    tabs->addTab(pointsPage, tr("Points"));
    // The charts take the height the rest leaves, down to what the tabs need.
    // A chart view asks for a little more than the size it has: in the dock's
    // scroll area, whose contents get the height their word-wrapped labels'
    // layout asks for, the chart grew at every layout pass until the figures
    // under it were out of view.
    tabs->setMinimumHeight(tabs->minimumSizeHint().height());
    tabs->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    layout->addWidget(tabs, 1);
    connect(tabs, &QTabWidget::currentChanged, this, &CurveDock::showCurrentTab);

    figures = new QLabel(tr("No curve yet: press Measure"));
    figures->setObjectName(QStringLiteral("curveFigures"));
    figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long reading goes on a second line rather than out of view.
    figures->setWordWrap(true);
    layout->addWidget(figures);
    status = new QLabel;
    status->setObjectName(QStringLiteral("curveStatus"));
    status->setWordWrap(true);
    layout->addWidget(status);
    setWidget(content);

    pageUpdate = new FrameUpdate([this] { showPage(); }, this);
    repeatTimer = new QTimer(this);
    repeatTimer->setSingleShot(true);
    repeatTimer->setTimerType(Qt::PreciseTimer);
    connect(repeatTimer, &QTimer::timeout, this, [this] {
        if (!run && repeatButton->isChecked())
            startRun();
    });

    connect(session, &DeviceSession::callMade, this, &CurveDock::takePageFrame);
    connect(measureButton, &QPushButton::clicked, this, &CurveDock::measure);
    connect(repeatButton, &QPushButton::toggled, this, [this](bool on) {
        if (!on)
            repeatTimer->stop();
        else if (!run && !repeatTimer->isActive())
            startRun();
    });
    connect(holdButton, &QPushButton::clicked, this, &CurveDock::hold);
    connect(clearButton, &QPushButton::clicked, this, &CurveDock::clearHeld);
    connect(exportButton, &QPushButton::clicked, this, &CurveDock::exportCurve);
    updateButtons();
}

CurveDock::~CurveDock() = default;


void CurveDock::takePageFrame(const zem::calls::Call &call)
{
    using zem::calls::Origin;
    // What exports name as the curves' source: the URL opened, and the
    // serial number once any identity call read it.
    if (call.operation == zem::calls::Operation::Open && call.result == 0) {
        m_url = QString::fromUtf8(
            reinterpret_cast<const char *>(call.request()), qsizetype(call.requestSize))
                    .section(QChar(0), 0, 0);
        m_serialNumber.reset();
        return;
    }
    static const std::uint8_t kIdentity = zem::calls::commandByName("get_identity_information");
    if (call.operation == zem::calls::Operation::Command && call.command == kIdentity
        && call.result == ZEM_RESULT_OK
        && call.responseSize() >= sizeof(get_identity_information_response)) {
        get_identity_information_response identity;
        std::memcpy(&identity, call.response(), sizeof identity);
        m_serialNumber = identity.SerialNumber;
        return;
    }
    static const std::uint8_t kGetMeasurement = zem::calls::commandByName("get_measurement");
    if (call.operation != zem::calls::Operation::Command || call.command != kGetMeasurement
        || (call.origin != Origin::Page && call.origin != Origin::Periodic
            && call.origin != Origin::Replay)
        || (call.result != ZEM_RESULT_OK && call.result != ZEM_RESULT_VALUE_ERROR)
        || call.requestSize < sizeof(get_measurement_request)
        || call.responseSize() < sizeof(get_measurement_response))
        return;
    get_measurement_request request;
    std::memcpy(&request, call.request(), sizeof request);
    get_measurement_response response;
    std::memcpy(&response, call.response(), sizeof response);
    addPageFrame(request.FrameNumber, response);
}

void CurveDock::measure()
{
    if (run) {
        cancelledHere = true;
        run->stop();
        return;
    }
    repeatTimer->stop();
    startRun();
}

void CurveDock::startRun()
{
    if (run || !session)
        return;
    cancelledHere = false;
    sequence = std::make_unique<MeasurementSequence>(session->connection());
    MeasurementSequence *s = sequence.get();
    run = std::make_unique<DeviceRun>(
        *session, zem::calls::Origin::Curve, [s](Clock::time_point now) { return s->advance(now); },
        [s] { s->cancel(); }, this);
    connect(run.get(), &DeviceRun::finished, this, &CurveDock::finishRun);
    connect(run.get(), &DeviceRun::waiting, this, &CurveDock::showWaiting);
    runStarted = Clock::now();
    setStatus(tr("Measuring..."));
    updateButtons();
    run->start();
}

void CurveDock::showWaiting(bool slow)
{
    // The run goes on on the device thread; Cancel stays clickable.
    if (slow)
        widget()->setCursor(Qt::BusyCursor);
    else
        widget()->unsetCursor();
    setStatus(slow ? tr("Measuring... waiting for the device") : tr("Measuring..."));
}

void CurveDock::finishRun()
{
    // The device thread is done with the sequence: it is the window's now.
    // The run goes later, as it may be what called this.
    run.release()->deleteLater();
    const std::unique_ptr<MeasurementSequence> finished = std::move(sequence);
    const MeasurementSequence::Outcome outcome = finished->outcome();
    QString message = finished->message();
    if (outcome == MeasurementSequence::Outcome::Cancelled && !cancelledHere)
        message = tr("The device was disconnected; the run was cancelled");
    const Curve curve = finished->curve();
    widget()->unsetCursor();

    // A run that read nothing leaves the shown curve as it was.
    if (!curve.empty())
        showCurve(curve);
    setStatus(message);
    if (outcome != MeasurementSequence::Outcome::Complete) {
        emit logMessage(tr("Measure: %1").arg(message), LogLevel::Failure);
        repeatButton->setChecked(false);
    } else if (repeatButton->isChecked()) {
        scheduleRepeat();
    }
    updateButtons();
    emit runFinished(outcome, message);
}

void CurveDock::scheduleRepeat()
{
    // Periods are counted from start to start; a run longer than the period
    // is followed at once, never by a burst of catching up.
    const auto elapsed
        = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - runStarted);
    repeatTimer->start(int(std::max<std::int64_t>(0, repeatBox->value() - elapsed.count())));
}

void CurveDock::addPageFrame(std::size_t frameNumber, const get_measurement_response &frame)
{
    m_page.putFrame(frameNumber, frame);
    m_page.started = QDateTime::currentDateTime();
    m_pageFrame = frameNumber;
    // A periodic page reads a frame per call: the chart and the texts follow
    // once per frame.
    pageUpdate->request();
}

void CurveDock::showPage()
{
    if (!view->hasCurve(IvChart::Role::Page)) {
        QPen pen(QColor(0x33, 0x33, 0x33));
        pen.setWidthF(1.5);
        pen.setStyle(Qt::DashLine);
        view->addCurve(IvChart::Role::Page, tr("Page"), pen);
    }
    showPageSeries();
    setStatus(tr("Frame %1 from the get_measurement page, drawn as \"Page\" beside the latest "
                 "curve (%2 points read)")
                  .arg(m_pageFrame)
                  .arg(m_page.pointsRead()));
    updateButtons();
}

void CurveDock::flush()
{
    pageUpdate->flush();
}



void CurveDock::updateButtons()
{
    measureButton->setText(run ? tr("Cancel") : tr("Measure"));
    holdButton->setEnabled(!shown.empty() && heldCount() < kMaxHeld);
    clearButton->setEnabled(!held.empty());
    exportButton->setEnabled(!shown.empty() || !m_page.empty());
}

void CurveDock::setStatus(const QString &text)
{
    status->setText(text);
}
