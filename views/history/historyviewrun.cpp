// The History view's run opened from the list: its points at once, then
// the Cpk of its board type, which takes longer.
#include "historyview.h"

#include "rundetail.h"
#include "runsmodel.h"

#include <memory>

void HistoryView::showRun(int row)
{
    const auto *summary = m_runs->runAt(row);
    if (!summary)
        return;
    read([this, uuid = summary->run.uuid](zem::history::Store *store, const QString &) {
        auto found = std::make_shared<std::optional<zem::history::Run>>(store->run(uuid));
        const QString error = *found ? QString() : store->errorString();
        return [this, found, error] {
            m_detail->setRun(*found);
            if (*found && m_capability && m_capability->first == (*found)->boardType)
                m_detail->setCapability(m_capability->second);
            if (!*found)
                setStatus(error, true);
            else
                setStatus(tr("Run of %1 %2: %3")
                              .arg((*found)->boardType, RunsModel::serialWords((*found)->boardSerial),
                                  zem::history::verdictWords((*found)->verdict)),
                    false);
            emit shown();
        };
    });
    // The Cpk column comes after the run: over a line's history it reads
    // every good board's scores, which takes seconds, so the figures are
    // kept for the board type until the next refresh.
    const QString board = summary->run.boardType;
    if (m_capability && m_capability->first == board)
        return;
    read([this, board](zem::history::Store *store, const QString &) {
        QString error;
        auto figures = std::make_shared<std::vector<zem::history::Capability>>();
        if (auto found
            = zem::history::capability(*store, board, zem::history::kDefaultFalseFailRate, &error))
            *figures = std::move(*found);
        return [this, board, figures, error] {
            if (!error.isEmpty())
                setStatus(error, true);
            if (error.isEmpty())
                m_capability.emplace(board, *figures);
            if (m_detail->run() && m_detail->run()->boardType == board)
                m_detail->setCapability(*figures);
        };
    });
}
