// One run opened from the History view: its points with their verdicts,
// scores, causes and each point's Cpk over its board type's good boards, and
// the selected point's curve over the reference it was compared with.
#pragma once

#include "capability.h"
#include "run.h"

#include <QSplitter>

#include <optional>

class IvChart;
class QTableWidget;

class RunDetail : public QSplitter
{
    Q_OBJECT

public:
    explicit RunDetail(QWidget *parent = nullptr);

    // Lists the run's points and draws the first one's curve; none clears.
    void setRun(std::optional<zem::history::Run> run);
    // Fills the Cpk column from the figures of the run's board type.
    void setCapability(const std::vector<zem::history::Capability> &capability);
    const std::optional<zem::history::Run> &run() const { return m_run; }

private:
    void showPointCurve(int row);

    std::optional<zem::history::Run> m_run;
    QTableWidget *m_pointsTable;
    IvChart *m_curveChart;
};
