// The technician's window: one board at a time, probed point by point, with
// the board's verdict in large words above everything. It is built from the
// Signatures dock's parts (the document, the run controller, the board view,
// the point table, the I-V chart) and the History views, not from copies,
// and is driven from the keyboard: Help > Keys lists every key.
#pragma once

#include "boardverdict.h"
#include "logline.h"
#include "session.h"

#include <QMainWindow>

#include <memory>

class DeviceSession;
class DockContext;
class HistoryView;
class IvChart;
class ProberPanel;
class QAction;
class QMenu;
class QShortcut;
class ReferencePrediction;
class RunController;
class SignatureDocument;
class VerdictBanner;
namespace Ui {
class BenchWindow;
}

class BenchWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit BenchWindow(QWidget *parent = nullptr);
    ~BenchWindow() override;

    // The session, history, file chooser and settings the window works with;
    // a test points the history and the chooser elsewhere.
    DockContext &context() { return *m_context; }

    // What the window's buttons do once a URL or file is chosen; false, with
    // the reason in the status bar, when it cannot be done.
    bool connectTo(const QString &url);
    void openBoard(const QString &file);
    bool saveBoard(const QString &file);
    bool writeReport(const QString &file);

    void startRun();
    void stopRun();
    void measure();

signals:
    // A board file was opened (or could not be).
    void boardOpened(bool ok);
    // A point was learned or judged, for scripts that probe.
    void pointDone(int point, sig::Verdict verdict);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // benchwindow.cpp: the widgets and the run.
    void buildParts();
    void wireRun();
    void updateButtons();
    void updateBanner();
    void updateDeviceState();
    void showPoint(int row);
    void plot(const sig::IvCurve *reference, const sig::IvCurve *test);
    void setStatus(const QString &text);
    void fail(const QString &text);
    void log(const QString &text, LogLevel level);
    void serialEntered();
    void showHistory();

    // benchactions.cpp: menus, keys and dialogs.
    void buildMenus();
    void fillRecentBoards();
    void showKeys();
    void openDialog();
    bool saveDialog();
    void reportDialog();
    bool maybeSave();
    void setMode(int mode);

    // benchpredict.cpp: the board's references predicted from its parts.
    void buildPrediction(QMenu *menu);
    void predictFromCad();
    void updatePrediction();

    std::unique_ptr<Ui::BenchWindow> ui;
    DeviceSession *m_session;
    std::unique_ptr<DockContext> m_context;
    SignatureDocument *m_document;
    RunController *m_run;
    IvChart *m_chart = nullptr;
    VerdictBanner *m_banner = nullptr;
    ProberPanel *m_prober = nullptr;
    HistoryView *m_history = nullptr; // made when its tab is first shown
    QShortcut *m_measureKey = nullptr;
    QMenu *m_recentMenu = nullptr;
    ReferencePrediction *m_prediction = nullptr;
    QAction *m_predictAction = nullptr;
    QString m_url; // the URL connected to, for the state shown
    bool m_holdFailed = false; // a failed point's curves stay until the next point is probed
    bool m_runSelects = false; // a row chosen by the run, not by the user
    bool m_testRun = false; // the last run started was a test
};
