#include "rundetail.h"

#include "ivchart.h"
#include "runsmodel.h"

#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <cmath>

RunDetail::RunDetail(QWidget *parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_pointsTable(new QTableWidget(0, 6, this))
    , m_curveChart(new IvChart(this))
{
    m_pointsTable->setObjectName(QStringLiteral("historyPointsTable"));
    m_pointsTable->setHorizontalHeaderLabels({ tr("Point"), tr("Verdict"), tr("Score (%)"),
        tr("Tolerance (%)"), tr("Cpk"), tr("Cause") });
    m_pointsTable->horizontalHeaderItem(4)->setToolTip(
        tr("(tolerance - mean) / (3 sigma) of the point's scores over the board type's good "
           "boards (runs that passed); 1.33 and above is comfortable"));
    m_pointsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pointsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pointsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pointsTable->verticalHeader()->hide();
    m_pointsTable->horizontalHeader()->setStretchLastSection(true);
    connect(m_pointsTable, &QTableWidget::currentCellChanged, this,
        [this](int row) { showPointCurve(row); });

    m_curveChart->setObjectName(QStringLiteral("historyCurveChart"));
    m_curveChart->setMinimumSize(200, 150);
    // Drawn as the Signatures dock draws a reference: dashed, under the test.
    m_curveChart->addCurve(
        IvChart::Role::Reference, tr("Reference"), QPen(QColor(0x80, 0x80, 0x80), 2, Qt::DashLine));
    m_curveChart->addCurve(IvChart::Role::Test, tr("Measured"));
    addWidget(m_pointsTable);
    addWidget(m_curveChart);
    // The curve is what a run is opened for: it gets the larger share.
    setStretchFactor(0, 2);
    setStretchFactor(1, 3);
    setSizes({ 400, 600 });
}

void RunDetail::setRun(std::optional<zem::history::Run> run)
{
    m_pointsTable->setRowCount(0);
    m_curveChart->setCurves({}, {});
    m_run = std::move(run);
    if (!m_run)
        return;
    m_pointsTable->setRowCount(int(m_run->points.size()));
    for (int k = 0; k < int(m_run->points.size()); ++k) {
        const auto &p = m_run->points[std::size_t(k)];
        const QString cause
            = p.causeText.isEmpty() ? p.reading : tr("%1 (%2)").arg(p.causeText, p.reading);
        const QStringList cells { p.name, zem::history::verdictWords(p.verdict),
            p.score ? QString::number(*p.score, 'f', 1) : QString(),
            QString::number(p.tolerance, 'f', 1), QString(), cause };
        for (int c = 0; c < cells.size(); ++c)
            m_pointsTable->setItem(k, c, new QTableWidgetItem(cells[c]));
        const VerdictColours colours = verdictColours(p.verdict);
        if (colours.text.isValid()) {
            m_pointsTable->item(k, 1)->setForeground(colours.text);
            m_pointsTable->item(k, 1)->setBackground(colours.ground);
        }
    }
    m_pointsTable->resizeColumnsToContents();
    if (!m_run->points.empty())
        m_pointsTable->setCurrentCell(0, 0);
}

void RunDetail::setCapability(const std::vector<zem::history::Capability> &capability)
{
    if (!m_run)
        return;
    for (int k = 0; k < int(m_run->points.size()); ++k) {
        const QString &name = m_run->points[std::size_t(k)].name;
        const auto found = std::find_if(capability.begin(), capability.end(),
            [&](const zem::history::Capability &c) { return c.point == name; });
        QTableWidgetItem *cell = m_pointsTable->item(k, 4);
        if (!cell || found == capability.end())
            continue;
        cell->setText(std::isfinite(found->cpk) ? QString::number(found->cpk, 'f', 2) : QString());
        cell->setToolTip(tr("%1 good boards: mean %2 %, sigma %3 %; suggested tolerance %4 %")
                             .arg(found->n)
                             .arg(found->mean, 0, 'f', 2)
                             .arg(found->sigma, 0, 'f', 2)
                             .arg(found->suggestedTolerance, 0, 'f', 2));
    }
    m_pointsTable->resizeColumnToContents(4);
}

void RunDetail::showPointCurve(int row)
{
    if (!m_run || row < 0 || std::size_t(row) >= m_run->points.size())
        return m_curveChart->setCurves({}, {});
    const auto &p = m_run->points[std::size_t(row)];
    m_curveChart->setCurves(
        IvChart::pointsOf(p.refVolts, p.refMilliamps), IvChart::pointsOf(p.volts, p.milliamps));
}
