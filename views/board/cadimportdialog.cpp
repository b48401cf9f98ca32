#include "cadimportdialog.h"

#include "cadimport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

CadImportDialog::CadImportDialog(const sig::Signature &board, const QString &file, QWidget *parent)
    : QDialog(parent)
    , m_board(board)
    , m_file(file)
    , m_side(new QComboBox(this))
    , m_units(new QComboBox(this))
    , m_nets(new QLineEdit(this))
    , m_refdes(new QLineEdit(this))
    , m_table(new QTableWidget(0, 6, this))
    , m_summary(new QLabel(this))
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("cadImportDialog"));
    setWindowTitle(tr("Import %1").arg(QFileInfo(file).fileName()));
    m_side->setObjectName(QStringLiteral("cadSideBox"));
    m_side->addItems({ tr("Both sides"), tr("Top"), tr("Bottom") });
    m_units->setObjectName(QStringLiteral("cadUnitsBox"));
    m_units->addItem(tr("As the file says"));
    for (const char *unit : { "mm", "in", "mil" })
        m_units->addItem(QLatin1String(unit), QLatin1String(unit));
    m_units->setToolTip(tr("For a file that does not say its units"));
    m_nets->setObjectName(QStringLiteral("cadNetsEdit"));
    m_nets->setPlaceholderText(tr("all nets, or e.g. GND, /SDA*"));
    m_refdes->setObjectName(QStringLiteral("cadRefdesEdit"));
    m_refdes->setPlaceholderText(tr("all parts, or e.g. U1, R*"));
    m_table->setObjectName(QStringLiteral("cadPreviewTable"));
    m_table->setHorizontalHeaderLabels(
        { tr("Point"), tr("Net"), tr("Side"), tr("X (mm)"), tr("Y (mm)"), tr("Change") });
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_summary->setObjectName(QStringLiteral("cadSummary"));
    m_summary->setWordWrap(true);
    m_buttons->button(QDialogButtonBox::Ok)->setText(tr("Import"));

    auto *form = new QFormLayout;
    form->addRow(tr("Side"), m_side);
    form->addRow(tr("Nets"), m_nets);
    form->addRow(tr("Parts"), m_refdes);
    form->addRow(tr("Units"), m_units);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_summary);
    layout->addWidget(m_buttons);
    resize(640, 480);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_side, &QComboBox::currentIndexChanged, this, &CadImportDialog::preview);
    connect(m_units, &QComboBox::currentIndexChanged, this, &CadImportDialog::preview);
    connect(m_nets, &QLineEdit::editingFinished, this, &CadImportDialog::preview);
    connect(m_refdes, &QLineEdit::editingFinished, this, &CadImportDialog::preview);
    preview();
}

int CadImportDialog::previewRows() const
{
    return m_table->rowCount();
}

void CadImportDialog::preview()
{
    sig::CadFilter filter;
    if (m_side->currentIndex() > 0)
        filter.side = m_side->currentIndex() == 1 ? sig::Side::Top : sig::Side::Bottom;
    filter.nets = sig::splitNames(m_nets->text());
    filter.refdes = sig::splitNames(m_refdes->text());
    const QString unit = m_units->currentData().toString();
    m_result = m_board;
    QString error;
    const auto done = sig::importCadFile(m_result, m_file, filter,
        unit.isEmpty() ? std::nullopt : cad::unitNamed(unit), &error);
    m_table->setRowCount(0);
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(done.has_value());
    if (!done) {
        m_result = m_board;
        m_summary->setText(error);
        return;
    }
    const auto row = [this](const sig::Point *p, const QString &name, const QString &change) {
        const int r = m_table->rowCount();
        m_table->insertRow(r);
        const auto mm = [](double v) { return QString::number(v, 'f', 3); };
        const QStringList cells { name, p ? p->net : QString(),
            p && p->side ? (*p->side == sig::Side::Top ? tr("top") : tr("bottom")) : QString(),
            p && p->mm ? mm(p->mm->x()) : QString(), p && p->mm ? mm(p->mm->y()) : QString(),
            change };
        for (int c = 0; c < cells.size(); ++c)
            m_table->setItem(r, c, new QTableWidgetItem(cells[c]));
    };
    for (const auto &[names, change] : { std::pair { &done->added, tr("new") },
             std::pair { &done->updated, tr("updated, references kept") } })
        for (const QString &name : *names) {
            const int k = m_result.find(name);
            row(k >= 0 ? &m_result.points[std::size_t(k)] : nullptr, name, change);
        }
    for (const QString &name : done->vanished)
        row(nullptr, name, tr("not in the CAD file: kept"));
    m_table->resizeColumnsToContents();
    m_summary->setText(tr("%1 new, %2 updated, %3 not in the CAD file (kept, never deleted).")
                           .arg(done->added.size())
                           .arg(done->updated.size())
                           .arg(done->vanished.size()));
}
