#include "boardeditor.h"

#include "boardview.h"
#include "cadimportdialog.h"
#include "dockcontext.h"
#include "proberpanel.h"
#include "referenceprediction.h"
#include "signaturedocument.h"
#include "signatureedits.h"
#include "signaturemodel.h"

#include "board.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

BoardEditor::BoardEditor(DockContext &context, SignatureDocument &document, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_document(document)
    , m_view(new BoardView(this))
    , m_hint(new QLabel(this))
    , m_proberButton(new QPushButton(tr("Prober"), this))
    , m_predictButton(new QPushButton(tr("Predict from CAD"), this))
    , m_prediction(new ReferencePrediction(document, this))
    , m_body(new QHBoxLayout)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    auto *row = new QHBoxLayout;
    auto *pictureButton = new QPushButton(tr("Picture..."), this);
    pictureButton->setObjectName(QStringLiteral("signaturePictureButton"));
    pictureButton->setToolTip(tr("A photo or scan of the board (PNG or JPEG), kept in the file"));
    auto *componentButton = new QPushButton(tr("Component..."), this);
    componentButton->setObjectName(QStringLiteral("signatureComponentButton"));
    componentButton->setToolTip(tr("Add a component's pins and place them with two clicks"));
    auto *fiducialButton = new QPushButton(tr("Fiducial..."), this);
    fiducialButton->setObjectName(QStringLiteral("signatureFiducialButton"));
    fiducialButton->setToolTip(tr("A mark at a known position on the board (mm), clicked on the "
                                  "picture: two or three register the picture to the board"));
    m_hint->setObjectName(QStringLiteral("boardHint"));
    m_hint->setWordWrap(true);
    row->addWidget(pictureButton);
    row->addWidget(componentButton);
    row->addWidget(fiducialButton);
    auto *importButton = new QPushButton(tr("Import CAD..."), this);
    importButton->setObjectName(QStringLiteral("signatureImportButton"));
    importButton->setToolTip(
        tr("Points from the board's netlist (IPC-D-356) or position file, "
           "with their nets and positions; learned points keep their references"));
    row->addWidget(importButton);
    m_predictButton->setObjectName(QStringLiteral("signaturePredictButton"));
    m_predictButton->setToolTip(
        tr("Every point's references simulated from the board's parts "
           "(its netlist and BOM); points learned from a board keep theirs"));
    row->addWidget(m_predictButton);
    m_proberButton->setObjectName(QStringLiteral("signatureProberButton"));
    m_proberButton->setCheckable(true);
    m_proberButton->setToolTip(tr("A machine that brings the probe: connect, home, jog, teach "
                                  "the fiducials; runs then probe with it"));
    row->addStretch(1);
    row->addWidget(m_proberButton);
    layout->addLayout(row);
    // A row of its own: a hint wrapped beside six buttons grows the row.
    layout->addWidget(m_hint);
    m_body->addWidget(m_view, 1);
    layout->addLayout(m_body, 1);
    m_view->setModel(document.model());
    connect(pictureButton, &QPushButton::clicked, this, &BoardEditor::pictureDialog);
    connect(componentButton, &QPushButton::clicked, this, &BoardEditor::componentDialog);
    connect(fiducialButton, &QPushButton::clicked, this, &BoardEditor::fiducialDialog);
    connect(m_proberButton, &QPushButton::toggled, this, &BoardEditor::showProber);
    connect(importButton, &QPushButton::clicked, this, &BoardEditor::importDialog);
    connect(m_predictButton, &QPushButton::clicked, this, &BoardEditor::predictFromCad);
    connect(m_prediction, &ReferencePrediction::runningChanged, this,
        &BoardEditor::updatePredictButton);
    connect(m_prediction, &ReferencePrediction::finished, this, &BoardEditor::statusChanged);
    // An import brings the parts, an undo takes them away.
    connect(
        document.model(), &QAbstractItemModel::modelReset, this, &BoardEditor::updatePredictButton);
    connect(m_view, &BoardView::pointClicked, this, &BoardEditor::pointChosen);
    connect(m_view, &BoardView::pictureClicked, this, &BoardEditor::onPictureClicked);
    connect(m_view, &BoardView::pointDragged, this, [this](int row, QPointF to) {
        if (!sig::isPlace(to))
            return;
        m_document.undoStack()->push(new edits::PlacePoints(*m_document.model(), { { row, to } },
            tr("Move %1").arg(m_document.signature().points[std::size_t(row)].name), registered()));
    });
    connect(&document, &SignatureDocument::replaced, this, [this] {
        m_placing.clear();
        m_fiducial.reset();
        showHint();
        updatePredictButton();
    });
    // Undo and redo change the fiducials too.
    connect(document.model(), &SignatureModel::fiducialsChanged, this, [this] {
        if (m_placing.isEmpty() && !m_fiducial)
            showHint();
    });
    showHint();
    updatePredictButton();
}

void BoardEditor::predictFromCad()
{
    if (m_editable && m_prediction->start())
        emit statusChanged(tr("Predicting the references from the board's parts..."));
}

void BoardEditor::updatePredictButton()
{
    m_predictButton->setEnabled(m_editable && m_prediction->canStart());
}

void BoardEditor::importDialog()
{
    const QString file = m_context.files().openFileName({ this, tr("Import the board's CAD"),
        QString(), tr("CAD files (*.d356 *.ipc *.356 *.pos *.csv);;All files (*)") });
    if (file.isEmpty())
        return;
    CadImportDialog dialog(m_document.signature(), file, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_document.undoStack()->push(new edits::ImportBoard(
        *m_document.model(), dialog.result(), tr("Import %1").arg(QFileInfo(file).fileName())));
    showHint();
    emit statusChanged(
        tr("Imported %1: %n point(s).", nullptr, int(m_document.signature().points.size()))
            .arg(QFileInfo(file).fileName()));
}

void BoardEditor::showProber(bool shown)
{
    m_proberButton->setChecked(shown);
    if (!m_prober && shown) {
        // Made when first asked for: it starts the machine's thread.
        m_prober = new ProberPanel(m_context, m_document, this, this);
        m_prober->setMaximumWidth(m_prober->sizeHint().width() + 40);
        m_body->addWidget(m_prober);
        connect(m_prober, &ProberPanel::probeMoved, m_view, &BoardView::setProbe);
        connect(m_prober, &ProberPanel::stopRequested, this, &BoardEditor::stopRequested);
        connect(m_prober, &ProberPanel::statusChanged, this, &BoardEditor::statusChanged);
    }
    if (m_prober)
        m_prober->setVisible(shown);
}

void BoardEditor::setCurrent(int row)
{
    m_current = row;
    m_view->setCurrent(row);
}

void BoardEditor::setEditable(bool editable)
{
    m_editable = editable;
    m_view->setEditable(editable);
    // A run holds the points it probes: no import under it.
    findChild<QPushButton *>(QStringLiteral("signatureImportButton"))->setEnabled(editable);
    if (!editable)
        m_prediction->cancel();
    updatePredictButton();
}

void BoardEditor::showHint()
{
    const sig::Signature &board = m_document.signature();
    QString hint = board.image ? tr("Choose a point and click on the picture to place it.")
        : board.outline.size() >= 3
        ? tr("Drawn from the CAD outline, points by their mm; a picture can be loaded.")
        : tr("Load a picture of the board.");
    QString why;
    if (const auto r = registered(&why))
        hint += QLatin1Char(' ') + tr("The picture is %1.").arg(sig::describe(*r));
    else if (!why.isEmpty())
        hint += QLatin1Char(' ') + tr("The picture is not registered: %1.").arg(why);
    m_hint->setText(hint);
}

std::optional<sig::Registration> BoardEditor::registered(QString *why) const
{
    const sig::Signature &s = m_document.signature();
    const auto placed = std::count_if(
        s.fiducials.begin(), s.fiducials.end(), [](const sig::Fiducial &f) { return f.px; });
    // One fiducial clicked is a registration on its way, not a fault.
    QString error;
    auto r = sig::registration(s, &error);
    if (!r && placed >= 2 && why)
        *why = error;
    return r;
}

void BoardEditor::fiducialDialog()
{
    const auto &fiducials = m_document.signature().fiducials;
    QString free;
    for (int k = 1; free.isEmpty(); ++k)
        if (m_document.signature().findFiducial(QStringLiteral("F%1").arg(k)) < 0)
            free = QStringLiteral("F%1").arg(k);
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Fiducial"));
    auto *form = new QFormLayout(&dialog);
    auto *name = new QLineEdit(free, &dialog);
    QDoubleSpinBox *xy[2];
    for (QDoubleSpinBox *&box : xy) {
        box = new QDoubleSpinBox(&dialog);
        box->setRange(-10000, 10000);
        box->setDecimals(3);
        box->setSuffix(tr(" mm"));
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(tr("Name:"), name);
    form->addRow(tr("X (from the board's left edge):"), xy[0]);
    form->addRow(tr("Y (from the board's lower edge):"), xy[1]);
    form->addRow(buttons);
    // A fiducial named again shows its position, to be corrected.
    connect(name, &QLineEdit::textChanged, &dialog, [&](const QString &text) {
        const int k = m_document.signature().findFiducial(text.trimmed());
        if (k >= 0) {
            xy[0]->setValue(fiducials[std::size_t(k)].mm.x());
            xy[1]->setValue(fiducials[std::size_t(k)].mm.y());
        }
    });
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || name->text().trimmed().isEmpty())
        return;
    placeFiducial(name->text().trimmed(), QPointF(xy[0]->value(), xy[1]->value()));
}

void BoardEditor::placeFiducial(const QString &name, QPointF mm)
{
    if (!m_editable || !sig::isPlace(mm))
        return;
    const sig::Signature &s = m_document.signature();
    const int known = s.findFiducial(name);
    if (known < 0 && s.fiducials.size() >= sig::kMaxFiducials)
        return emit statusChanged(
            tr("A board has at most %1 fiducials; name one of them to move it.")
                .arg(sig::kMaxFiducials));
    // A fiducial given again keeps its place on the photo and on the machine.
    sig::Fiducial f = known >= 0 ? s.fiducials[std::size_t(known)] : sig::Fiducial();
    f.name = name;
    f.mm = mm;
    if (!s.image)
        return setFiducial(std::move(f));
    m_placing.clear();
    m_fiducial = std::move(f);
    m_hint->setText(tr("Click fiducial %1 on the picture.").arg(name));
}

void BoardEditor::setFiducial(sig::Fiducial fiducial)
{
    std::vector<sig::Fiducial> all = m_document.signature().fiducials;
    const int k = m_document.signature().findFiducial(fiducial.name);
    const QString name = fiducial.name;
    if (k >= 0)
        all[std::size_t(k)] = std::move(fiducial);
    else
        all.push_back(std::move(fiducial));
    m_document.undoStack()->push(
        new edits::SetFiducials(*m_document.model(), std::move(all), tr("Fiducial %1").arg(name)));
    showHint();
    QString why;
    const auto r = registered(&why);
    emit statusChanged(r    ? tr("The picture is %1.").arg(sig::describe(*r))
            : why.isEmpty() ? tr("Fiducial %1 set.").arg(name)
                            : tr("The picture is not registered: %1.").arg(why));
}

void BoardEditor::pictureDialog()
{
    const QString file = m_context.files().openFileName({ this, tr("Picture of the board"),
        m_document.path(), tr("Pictures (*.png *.jpg *.jpeg);;All files (*)") });
    if (!file.isEmpty())
        emit pictureChosen(file);
}

void BoardEditor::componentDialog()
{
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Add a component"));
    auto *form = new QFormLayout(&dialog);
    auto *name = new QLineEdit(&dialog);
    name->setPlaceholderText(tr("U1"));
    auto *pins = new QSpinBox(&dialog);
    pins->setRange(1, 1000);
    pins->setValue(8);
    auto *twoRows = new QCheckBox(tr("Two rows (pins numbered around the package)"), &dialog);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(tr("Name:"), name);
    form->addRow(tr("Pins:"), pins);
    form->addRow(twoRows);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || name->text().trimmed().isEmpty())
        return;
    QStringList taken;
    if (m_document.addComponent(name->text().trimmed(), pins->value(), &taken) == 0)
        return emit statusChanged(
            tr("Already in the list: %1").arg(taken.join(QStringLiteral(", "))));
    if (m_current < 0)
        emit pointChosen(0);
    if (m_document.signature().image)
        placeComponent(name->text().trimmed(), twoRows->isChecked());
}

void BoardEditor::placeComponent(const QString &component, bool twoRows)
{
    m_fiducial.reset();
    m_placing = component;
    m_placingTwoRows = twoRows;
    m_clicks.clear();
    m_hint->setText(tr("Click pin 1 of %1.").arg(component));
}

void BoardEditor::onPictureClicked(QPointF at)
{
    // A place that is no number could not be saved, and the file not read back.
    if (!m_editable || !sig::isPlace(at))
        return;
    SignatureModel &model = *m_document.model();
    const auto &points = m_document.signature().points;
    QUndoStack *undo = m_document.undoStack();
    if (m_fiducial) {
        sig::Fiducial f = std::move(*m_fiducial);
        m_fiducial.reset();
        f.px = at;
        return setFiducial(std::move(f));
    }
    if (m_placing.isEmpty()) {
        // Place the chosen point, then choose the next one without a place.
        const int row = m_current;
        if (row < 0 || row >= int(points.size()))
            return;
        undo->push(new edits::PlacePoints(model, { { row, at } },
            tr("Place %1").arg(points[std::size_t(row)].name), registered()));
        // Next is the first point after it not yet on the picture, where a
        // registered board also shows the points with a position in mm.
        const auto r = registered();
        for (int next = row + 1; next < int(points.size()); ++next)
            if (!sig::placeOnPhoto(points[std::size_t(next)], r)) {
                emit pointChosen(next);
                break;
            }
        return;
    }
    std::vector<int> rows;
    for (std::size_t k = 0; k < points.size(); ++k)
        if (points[k].component == m_placing)
            rows.push_back(int(k));
    const int pins = int(rows.size());
    m_clicks.push_back(at);
    const int needed = m_placingTwoRows && pins > 2 ? 3 : 2;
    if (int(m_clicks.size()) == 1) {
        m_hint->setText(tr("Click pin %1 of %2.").arg(pins).arg(m_placing));
        return;
    }
    if (int(m_clicks.size()) < needed) {
        m_hint->setText(
            tr("Click pin %1 of %2, the last of pin 1's row.").arg((pins + 1) / 2).arg(m_placing));
        return;
    }
    const std::vector<QPointF> places = needed == 3
        ? sig::twoRowsOfPins(m_clicks[0], m_clicks[1], m_clicks[2], pins)
        : sig::rowOfPins(m_clicks[0], m_clicks[1], pins);
    // Pins in their number's order, whatever order the rows have in the table.
    std::sort(rows.begin(), rows.end(), [&points](int a, int b) {
        const QString &na = points[std::size_t(a)].name;
        const QString &nb = points[std::size_t(b)].name;
        return na.section(QLatin1Char('.'), -1).toInt() < nb.section(QLatin1Char('.'), -1).toInt();
    });
    std::vector<std::pair<int, std::optional<QPointF>>> placed;
    for (std::size_t k = 0; k < rows.size() && k < places.size(); ++k)
        placed.emplace_back(rows[k], places[k]);
    undo->push(new edits::PlacePoints(
        model, std::move(placed), tr("Place %1").arg(m_placing), registered()));
    m_hint->setText(tr("%1 placed.").arg(m_placing));
    m_placing.clear();
    m_clicks.clear();
}
