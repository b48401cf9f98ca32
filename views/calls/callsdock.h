// The Calls dock: every library call the window made, newest last, with its
// request and response decoded and as bytes; copy as JSON or C, send again,
// save and open call files, and per-command statistics.
#pragma once

#include <QDockWidget>

#include <memory>

class CallDetail;
class DockContext;
class CallsFilter;
class CallsModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTreeWidget;

namespace zem::calls {
struct Call;
}

class CallsDock : public QDockWidget
{
    Q_OBJECT

public:
    explicit CallsDock(DockContext &context, QWidget *parent = nullptr);
    ~CallsDock() override;

    // Records every library call into the live table from now on, or stops.
    void attach();
    void detach();

    CallsModel *liveModel() const { return live; }
    // What the table shows: the live calls, or a call file opened for viewing.
    CallsModel *shownModel() const;
    // The selected call of the shown table, or null.
    const zem::calls::Call *selectedCall() const;

signals:
    // Send again: the command's index in zem::kCommands and its request bytes.
    void sendAgainRequested(int command, const QByteArray &request);
    // Calls were recorded, or the live table cleared; at most once per frame.
    void callsChanged();

private:
    void build();
    QWidget *buildCallsTab();
    void showModel(CallsModel *model);
    void selectionChanged();
    void copyJson();
    void copyC();
    void sendAgain();
    void saveCalls();
    void openCalls();
    void showLive();
    void updateStats();
    void updateDropped();
    void message(const QString &text, bool error);

    CallsModel *live = nullptr;
    std::unique_ptr<CallsModel> file; // a call file being viewed
    CallsFilter *filter = nullptr;
    DockContext &m_context;

    QTabWidget *tabs = nullptr;
    QTableView *table = nullptr;
    CallDetail *detail = nullptr;
    QLineEdit *filterEdit = nullptr;
    QCheckBox *errorsOnly = nullptr;
    QLabel *dropped = nullptr;
    QLabel *source = nullptr;
    QLabel *status = nullptr;
    QPushButton *copyJsonButton = nullptr;
    QPushButton *copyCButton = nullptr;
    QPushButton *sendAgainButton = nullptr;
    QPushButton *liveButton = nullptr;
    QTreeWidget *stats = nullptr;
    bool follow = true; // the table keeps the newest call in view
};
