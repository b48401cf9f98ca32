#include "proberpanel.h"

#include "boardprober.h"
#include "dockcontext.h"
#include "signaturedocument.h"
#include "signatureedits.h"
#include "signaturemodel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {

constexpr double kSteps[] = { 0.01, 0.1, 1, 10 };

QString mm(double v)
{
    return QString::number(v, 'f', 3);
}

} // namespace

ProberPanel::ProberPanel(DockContext &context, SignatureDocument &document, QWidget *keys, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_document(document)
    , m_url(new QLineEdit(this))
    , m_connect(new QPushButton(tr("Connect"), this))
    , m_stop(new QPushButton(tr("Stop"), this))
    , m_home(new QPushButton(tr("Home"), this))
    , m_unlock(new QPushButton(tr("Unlock"), this))
    , m_step(new QComboBox(this))
    , m_fiducials(new QComboBox(this))
    , m_teach(new QPushButton(tr("Teach here"), this))
    , m_state(new QLabel(this))
    , m_placement(new QLabel(this))
    , m_jogButtons(new QWidget(this))
{
    setObjectName(QStringLiteral("proberPanel"));
    m_url->setObjectName(QStringLiteral("proberUrlEdit"));
    m_url->setPlaceholderText(QStringLiteral("grbl-tcp://127.0.0.1:2300?safe=-5&surface=-40"));
    m_url->setToolTip(tr("The machine: grbl:/dev/ttyUSB0?baud=115200 or grbl-tcp://host:port, "
                         "with its travel height (safe=), the board's surface (surface=) and feeds "
                         "in mm/s (feed=, contact_feed=)"));
    m_url->setText(context.settings().proberUrl());
    m_connect->setObjectName(QStringLiteral("proberConnectButton"));
    m_stop->setObjectName(QStringLiteral("proberStopButton"));
    m_stop->setToolTip(tr("Stop the machine now: feed hold, then reset. Also stops a run."));
    // The one button that must be found without looking.
    m_stop->setStyleSheet(QStringLiteral("QPushButton { background: #c62828; color: white; "
                                         "font-weight: bold; padding: 6px; }"));
    m_home->setObjectName(QStringLiteral("proberHomeButton"));
    m_home->setToolTip(tr("Home the machine ($H): needed before it moves"));
    m_unlock->setObjectName(QStringLiteral("proberUnlockButton"));
    m_unlock->setToolTip(tr("Clear an alarm that kept the position ($X)"));
    m_step->setObjectName(QStringLiteral("proberStepBox"));
    for (double step : kSteps)
        m_step->addItem(tr("%1 mm").arg(step), step);
    m_step->setCurrentIndex(2);
    m_step->setToolTip(tr("How far one jog moves: arrow keys for X and Y, Page Up and Page Down "
                          "for Z, while the Board tab has the focus"));
    m_fiducials->setObjectName(QStringLiteral("proberFiducialBox"));
    m_teach->setObjectName(QStringLiteral("proberTeachButton"));
    m_teach->setToolTip(tr("The probe stands on this fiducial: keep the machine's X and Y for it"));
    m_state->setObjectName(QStringLiteral("proberState"));
    m_state->setWordWrap(true);
    m_state->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_placement->setObjectName(QStringLiteral("proberPlacement"));
    m_placement->setWordWrap(true);

    auto *grid = new QGridLayout(m_jogButtons);
    grid->setContentsMargins(0, 0, 0, 0);
    const struct
    {
        const char *name;
        QString text;
        int row, column, dx, dy, dz;
    } buttons[] = {
        { "proberJogYPlus", QStringLiteral("Y+"), 0, 1, 0, 1, 0 },
        { "proberJogXMinus", QStringLiteral("X-"), 1, 0, -1, 0, 0 },
        { "proberJogXPlus", QStringLiteral("X+"), 1, 2, 1, 0, 0 },
        { "proberJogYMinus", QStringLiteral("Y-"), 2, 1, 0, -1, 0 },
        { "proberJogZPlus", QStringLiteral("Z+"), 0, 3, 0, 0, 1 },
        { "proberJogZMinus", QStringLiteral("Z-"), 2, 3, 0, 0, -1 },
    };
    for (const auto &b : buttons) {
        auto *button = new QPushButton(b.text, m_jogButtons);
        button->setObjectName(QLatin1String(b.name));
        button->setAutoRepeat(true);
        grid->addWidget(button, b.row, b.column);
        connect(button, &QPushButton::clicked, this, [this, b] { jog(b.dx, b.dy, b.dz); });
    }
    // The keys jog wherever the focus is on the Board tab; a shortcut comes
    // before the picture's own scrolling by the arrows.
    const struct
    {
        Qt::Key key;
        int dx, dy, dz;
    } keysJog[] = { { Qt::Key_Left, -1, 0, 0 }, { Qt::Key_Right, 1, 0, 0 }, { Qt::Key_Up, 0, 1, 0 },
        { Qt::Key_Down, 0, -1, 0 }, { Qt::Key_PageUp, 0, 0, 1 }, { Qt::Key_PageDown, 0, 0, -1 } };
    for (const auto &k : keysJog) {
        auto *shortcut = new QShortcut(QKeySequence(k.key), keys);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, k] {
            if (m_machine.state().open)
                jog(k.dx, k.dy, k.dz);
        });
    }

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 0, 0, 0);
    auto *line = new QHBoxLayout;
    line->addWidget(m_url, 1);
    line->addWidget(m_connect);
    layout->addLayout(line);
    layout->addWidget(m_stop);
    layout->addWidget(m_state);
    auto *homing = new QHBoxLayout;
    homing->addWidget(m_home);
    homing->addWidget(m_unlock);
    layout->addLayout(homing);
    auto *stepRow = new QHBoxLayout;
    stepRow->addWidget(new QLabel(tr("Jog"), this));
    stepRow->addWidget(m_step, 1);
    layout->addLayout(stepRow);
    layout->addWidget(m_jogButtons);
    auto *teachRow = new QHBoxLayout;
    teachRow->addWidget(m_fiducials, 1);
    teachRow->addWidget(m_teach);
    layout->addLayout(teachRow);
    layout->addWidget(m_placement);
    layout->addStretch(1);

    connect(m_connect, &QPushButton::clicked, this, &ProberPanel::connectMachine);
    connect(m_url, &QLineEdit::returnPressed, this, &ProberPanel::connectMachine);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_machine.halt();
        emit stopRequested();
    });
    connect(m_home, &QPushButton::clicked, &m_machine, &motion::Machine::home);
    connect(m_unlock, &QPushButton::clicked, &m_machine, &motion::Machine::unlock);
    connect(m_teach, &QPushButton::clicked, this, &ProberPanel::teach);
    connect(&m_machine, &motion::Machine::changed, this, &ProberPanel::showState);
    connect(document.model(), &SignatureModel::fiducialsChanged, this, &ProberPanel::refreshFiducials);
    connect(&document, &SignatureDocument::replaced, this, &ProberPanel::refreshFiducials);
    refreshFiducials();
    showState(m_machine.state());
}

ProberPanel::~ProberPanel() = default;

void ProberPanel::connectMachine()
{
    if (m_machine.state().open || !m_machine.state().url.isEmpty()) {
        m_machine.close();
        return;
    }
    const QString url = m_url->text().trimmed();
    QString error;
    if (url.isEmpty() || !m_machine.open(url, &error)) {
        emit statusChanged(url.isEmpty() ? tr("Give the machine's URL first.") : error);
        return;
    }
    m_context.settings().setProberUrl(url);
    m_state->setText(tr("Connecting to %1...").arg(url));
}

QString ProberPanel::takeForRun()
{
    if (!m_machine.state().open)
        return {};
    m_runUrl = m_url->text().trimmed();
    m_machine.release();
    return m_runUrl;
}

void ProberPanel::runEnded()
{
    if (m_runUrl.isEmpty())
        return;
    QString error;
    m_machine.open(std::exchange(m_runUrl, QString()), &error);
}

double ProberPanel::jogStep() const
{
    return m_step->currentData().toDouble();
}

void ProberPanel::jog(int dx, int dy, int dz)
{
    const double step = jogStep();
    m_machine.jog(dx * step, dy * step, dz * step);
}

void ProberPanel::teach()
{
    const auto &position = m_machine.state().position;
    const int k = m_document.signature().findFiducial(m_fiducials->currentText());
    if (!position || k < 0 || !m_machine.state().homed)
        return;
    std::vector<sig::Fiducial> all = m_document.signature().fiducials;
    all[std::size_t(k)].machine = QPointF(position->x, position->y);
    const QString name = all[std::size_t(k)].name;
    // A teach that does not fit the board is refused, as zemctl's is: every
    // run would otherwise probe beside the points.
    sig::Signature taught = m_document.signature();
    taught.fiducials = all;
    motion::TransformFit fit;
    QString unplaced;
    if (motion::boardPlacement(taught, &fit, &unplaced)) {
        if (const QString problem = motion::teachProblem(taught, motion::TeachLimits(), &fit); !problem.isEmpty()) {
            emit statusChanged(tr("Fiducial %1 not taught: %2").arg(name, problem));
            return;
        }
    }
    m_document.undoStack()->push(
        new edits::SetFiducials(*m_document.model(), std::move(all), tr("Teach %1").arg(name)));
    emit statusChanged(tr("Fiducial %1 taught at X %2, Y %3.").arg(name, mm(position->x), mm(position->y)));
}

void ProberPanel::showState(const motion::MachineState &state)
{
    const bool open = state.open;
    const bool connecting = !open && !state.url.isEmpty() && m_runUrl.isEmpty();
    m_connect->setText(open || connecting ? tr("Disconnect") : tr("Connect"));
    m_url->setEnabled(!open && !connecting);
    m_home->setEnabled(open && !state.busy);
    m_unlock->setEnabled(open && state.state.startsWith(QLatin1String("Alarm")));
    m_jogButtons->setEnabled(open && state.homed);
    m_stop->setEnabled(open || !m_runUrl.isEmpty());
    QStringList lines;
    if (!m_runUrl.isEmpty())
        lines << tr("In use by the run.");
    else if (open)
        lines << tr("%1, %2").arg(state.state.isEmpty() ? tr("connected") : state.state,
            state.homed ? tr("homed") : tr("not homed: press Home"));
    else if (connecting)
        lines << tr("Connecting to %1...").arg(state.url);
    else
        lines << tr("Not connected.");
    if (open && state.position)
        lines << tr("X %1  Y %2  Z %3 mm").arg(mm(state.position->x), mm(state.position->y), mm(state.position->z));
    if (!state.problem.isEmpty())
        lines << state.problem;
    m_state->setText(lines.join(QLatin1Char('\n')));
    if (!state.problem.isEmpty() && state.problem != m_state->property("problem").toString())
        emit statusChanged(tr("Machine: %1").arg(state.problem));
    m_state->setProperty("problem", state.problem);
    refreshFiducials();
}

void ProberPanel::showRunPosition(QPointF machine)
{
    tellPosition(machine);
}

void ProberPanel::tellPosition(std::optional<QPointF> machine)
{
    motion::TransformFit fit;
    QString error;
    if (!machine || !motion::boardPlacement(m_document.signature(), &fit, &error)) {
        emit probeMoved(std::nullopt);
        return;
    }
    const motion::PlanePoint board = fit.transform.unmap({ machine->x(), machine->y() });
    emit probeMoved(QPointF(board.x, board.y));
}

void ProberPanel::refreshFiducials()
{
    const sig::Signature &s = m_document.signature();
    const QString chosen = m_fiducials->currentText();
    QStringList names;
    for (const sig::Fiducial &f : s.fiducials)
        names << f.name;
    QStringList shown;
    for (int k = 0; k < m_fiducials->count(); ++k)
        shown << m_fiducials->itemText(k);
    if (names != shown) {
        m_fiducials->clear();
        m_fiducials->addItems(names);
        m_fiducials->setCurrentIndex(std::max(0, int(names.indexOf(chosen))));
    }
    const motion::MachineState &state = m_machine.state();
    m_teach->setEnabled(state.open && state.homed && state.position && !names.isEmpty());
    int taught = 0;
    for (const sig::Fiducial &f : s.fiducials)
        taught += f.machine.has_value();
    motion::TransformFit fit;
    QString error;
    if (names.isEmpty())
        m_placement->setText(tr("No fiducials: add them on the picture (Fiducial...) to place the "
                                "board on the machine."));
    else if (motion::boardPlacement(s, &fit, &error))
        m_placement->setText(tr("Board placed on %1 taught fiducials, %2 mm at worst.")
                                 .arg(taught)
                                 .arg(mm(fit.residualMm)));
    else
        m_placement->setText(tr("%1 of %2 fiducials taught: jog the probe onto each and press "
                                "Teach here.")
                                 .arg(taught)
                                 .arg(names.size()));
    // The probe is drawn once the board is placed; a run draws its own.
    if (m_runUrl.isEmpty())
        tellPosition(state.open && state.position
                ? std::optional<QPointF>(QPointF(state.position->x, state.position->y))
                : std::nullopt);
}
