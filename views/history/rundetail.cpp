#include "rundetail.h"

#include "ivchart.h"
#include "runsmodel.h"

#include <QHeaderView>
#include <QTableWidget>

RunDetail::RunDetail(QWidget *parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_pointsTable(new QTableWidget(0, 5, this))
    , m_curveChart(new IvChart(this))
{
    m_pointsTable->setObjectName(QStringLiteral("historyPointsTable"));
    m_pointsTable->setHorizontalHeaderLabels(
        { tr("Point"), tr("Verdict"), tr("Score (%)"), tr("Tolerance (%)"), tr("Cause") });
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
            QString::number(p.tolerance, 'f', 1), cause };
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

void RunDetail::showPointCurve(int row)
{
    if (!m_run || row < 0 || std::size_t(row) >= m_run->points.size())
        return m_curveChart->setCurves({}, {});
    const auto &p = m_run->points[std::size_t(row)];
    m_curveChart->setCurves(
        IvChart::pointsOf(p.refVolts, p.refMilliamps), IvChart::pointsOf(p.volts, p.milliamps));
}
