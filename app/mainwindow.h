#pragma once

#include "logline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>

class CallsDock;
class Container;
class CurveDock;
class SignaturesDock;
class StatusLine;
class DeviceSession;
class DockContext;
class LogView;
class FileChooser;
class FrameUpdate;
class TrendDock;
class iopanel;
class QLabel;
class QAction;
class QCloseEvent;
class QDockWidget;
class QMenu;
class QLineEdit;
class QStringListModel;
class QTimer;

namespace zem {
struct Command;
}

namespace Ui {
class MainWindow;
}

// The frame of the debugger: URL and search fields, the command browser, the
// event log. Owns the device session and closes the device on destruction.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Appends "hh:mm:ss: message" to the log; the newest line is scrolled into
    // view once control returns to the event loop.
    void AddLog(const QString &message);
    // The same with the line's level: a failure is drawn in red.
    void AddLog(const QString &message, LogLevel level);

    Container *container() const { return browser; }
    std::int32_t deviceHandle() const;
    DeviceSession *deviceSession() const { return session; }
    // The page of a command by its name, built now if it was not yet; or null.
    iopanel *page(const QString &command);
    // Replaces the file dialogs of the window and every dock.
    void setFileChooser(std::shared_ptr<FileChooser> chooser);
    // The Curve dock: one-click measurement and the plot.
    CurveDock *curveDock() const { return curve; }
    CallsDock *calls() const { return callsDock; }
    // Whether a Reconnect attempt is scheduled: after Disconnect none is.
    bool reconnectPending() const;
    // What the command line asks for at start: the device at a URL, a board
    // in the Signatures dock.
    void connectTo(const QString &url);
    void openBoard(const QString &file);

public slots:
    void connectButton();
    void dconnectButton();
    void SearchSlot(const QString &str);
    void GetProfileSlot();
    void SetProfileSlot();

    void get_measurementPressSlot(bool);
    void get_identity_informationPressSlot(bool);
    void start_autocalibrationPressSlot(bool);
    void get_statusPressSlot(bool);
    void get_measurement_settingsPressSlot(bool);
    void set_measurement_settingsPressSlot(bool);
    void set_measurement_settingsCallGetterPressSlot(bool);
    void start_measurementPressSlot(bool);
    void check_measurement_statusPressSlot(bool);
    void get_calibration_settingsPressSlot(bool);
    void set_calibration_settingsPressSlot(bool);
    void set_calibration_settingsCallGetterPressSlot(bool);
    void get_measurement_rawPressSlot(bool);
    void reset_eventsPressSlot(bool);

    // Sends a recorded request again through its command (an index into
    // zem::kCommands) and shows and logs the result as Send does.
    void sendAgain(int command, const QByteArray &request);

protected:
    // Unsaved signature points are saved, discarded or kept open, as the user answers.
    void closeEvent(QCloseEvent *event) override;

private:
    void buildPages();
    // A command's page, made when first shown or used (an index into zem::kCommands).
    iopanel *buildPage(int command);
    iopanel *pageAt(int command);
    // Runs a command from its page and logs the result.
    void send(const char *command);
    // Runs the setter's getter, then fills the setter's request from its response.
    void callGetter(const char *setter);
    void addLogLines(const LogLines &lines);
    void buildDocks();
    // The status line shows the change within a frame.
    void updateStatus();
    // A call's log line and its status.
    void noteResult(const zem::Command &c, std::int32_t result, const unsigned char *request);
    QString logStamp();

    // For long sessions: trends, reconnection, recent URLs, keys.
    void setupSessionTools();
    void attachTrendMenus(iopanel &page, int command);
    void startReconnecting();
    void noteConnection(const QString &url);
    void reconnectAttempt();
    void showKeys();
    iopanel *shownPage() const;

    LogView *log = nullptr;
    Container *browser = nullptr;
    QLineEdit *urlEdit = nullptr;
    DeviceSession *session = nullptr;
    QVector<iopanel *> pages; // in the order of the command table; null until built
    // What every dock is made with; outlived by the docks only in their
    // destructors, which do not use it.
    std::unique_ptr<DockContext> m_context;
    QByteArray profileText; // the last profile loaded, kept until the next load
    Ui::MainWindow *ui = nullptr;
    QTimer *logScroll = nullptr;
    CurveDock *curve = nullptr;
    SignaturesDock *m_signatures = nullptr;
    CallsDock *callsDock = nullptr;
    StatusLine *statusText = nullptr;
    FrameUpdate *statusUpdate = nullptr;
    QString statusUrl; // the URL of the last connection attempt, for the status bar
    QElapsedTimer stampClock; // since the stamp's second began to be shown
    qint64 stampValidMs = 0;
    QString stamp;

    TrendDock *trend = nullptr;
    QAction *reconnectAction = nullptr;
    QTimer *reconnectTimer = nullptr;
    QString connectedUrl; // what Reconnect opens again; empty when not connected
    int reconnectAttempts = 0;
    QStringListModel *recentUrls = nullptr;

    // File and Help menus, the docks' layout kept between runs (windowmenus.cpp).
    void setupMenus();
    void fitScreen();
    void showAbout();
    void noteSignatureFile(const QString &path);
    void fillRecentSignatures();
    QMenu *m_recentSignatures = nullptr;

    // A docks' run line equal to the line before it adds to that line's count.
    void addFoldedLog(const QString &message, LogLevel level);
    QString m_foldedMessage;
    int m_foldedRow = -1;
    int m_foldedCount = 0;
    QByteArray m_defaultLayout;
    QList<QDockWidget *> m_docks; // all of them, in the right dock area
};
