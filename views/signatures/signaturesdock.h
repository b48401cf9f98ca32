// The Signatures dock: learn the curves of a known-good board point by point,
// then test a suspect board against them. A measurement is taken by Measure,
// by Space, or by the probe's button, which the dock polls for while a run
// is going (and only then).
#pragma once

#include "logline.h"
#include "proberun.h"
#include "session.h"

#include <QDateTime>
#include <QDockWidget>

namespace zem::history {
class Worker;
}

#include <cstdint>
#include <memory>

class BoardView;
class DeviceRun;
class DeviceSession;
class FileChooser;
class SignatureModel;
class QAction;
class QChart;
class QCheckBox;
class QSpinBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QRadioButton;
class QTableView;
class QTabWidget;
class QTimer;
class QUndoStack;
class QValueAxis;

class SignaturesDock : public QDockWidget
{
    Q_OBJECT

public:
    // `device` is the window's session; it must outlive the dock.
    explicit SignaturesDock(DeviceSession &device, QWidget *parent = nullptr);
    ~SignaturesDock() override;

    const sig::Signature &signature() const { return board; }
    // The results of the last test run, one per point.
    const std::vector<sig::PointResult> *results() const;
    // Also while a test waits for its probing order from the history.
    bool isRunning() const { return running || orderPending; }

    // What the buttons do once a file name is chosen; false, with the reason
    // shown, when it cannot be done.
    bool openFile(const QString &path);
    // The same, the file read and checked off the window's thread (a board's
    // photo makes it megabytes); fileOpened() tells the outcome.
    void openFileInBackground(const QString &path);
    void setFileChooser(std::shared_ptr<FileChooser> chooser);
    bool saveFile(const QString &path);
    bool writeReport(const QString &path);
    void newSignature();
    // Adds the names (comma or line separated); returns how many were added.
    int addPoints(const QString &names);
    // Where finished test runs are kept and probe orders come from; the
    // history is opened only when a run needs it. Without one, test runs
    // are not kept.
    void setHistory(zem::history::Worker *worker) { history = worker; }
    // Adds the pins of a component, "U1.1" to "U1.<pins>"; returns how many.
    int addComponent(const QString &component, int pins);
    // The next clicks on the picture place the component's pins: pin 1 and
    // the last pin (a row), and for two rows pin pins/2 as well.
    void placeComponent(const QString &component, bool twoRows);
    // Embeds a PNG or JPEG picture of the board.
    bool setPicture(const QString &path);
    // Whether the signature has changes that are not saved.
    bool isModified() const;
    // Asks to save unsaved changes: true to go on (saved or discarded),
    // false when the user cancelled or saving failed.
    bool maybeSave();
    // Points edits and Learn, undone with Ctrl+Z.
    QUndoStack *undoStack() const { return m_undo; }

public slots:
    void startRun();
    void stopRun();
    void measure();

signals:
    // A line for the window's log.
    void logMessage(const QString &message, LogLevel level);
    // A point's measurement was stored (Learn) or judged (Test) and is shown.
    void pointDone(int point, sig::Verdict verdict);
    // A finished test run was written to the history.
    void runRecorded();
    void fileOpened(bool ok);
    // A signature file was opened or saved, for the recent files.
    void fileUsed(const QString &path);

private:
    void buildUi();
    void onRunEvent(const sig::ProbeRun::Event &event);
    void runFinished();
    void showSymmetry();
    void showWaiting(bool slow);
    void fail(const QString &message);
    void showPoint(int row);
    void plot(const sig::IvCurve *reference, const sig::IvCurve *test);
    void selectRow(int row);
    void setStatus(const QString &text);
    void updateButtons();
    void openDialog();
    bool saveDialog();
    bool saveAsDialog();
    void reportDialog();
    void pasteNames();
    void beginRun(int row, std::vector<int> order);
    void recordRun();
    void buildBoard();
    void pictureDialog();
    void componentDialog();
    void onPictureClicked(QPointF at);
    void deleteSelected();
    void moveCurrent(int by);
    void setEditing(bool allowed);
    void afterLoad();
    bool takeLoaded(
        const QString &file, std::optional<sig::Signature> loaded, const QString &error);

    DeviceSession &device;
    sig::Signature board;
    // The run's machine, then the run that advances it on the device thread;
    // the machine is the window's again once the run has finished.
    std::unique_ptr<sig::ProbeRun> probe;
    std::unique_ptr<DeviceRun> run;
    sig::Session::Mode runMode = sig::Session::Mode::Learn;
    std::vector<sig::PointResult> testResults; // of the last test run, as its points were done
    bool running = false;
    bool measuring = false;
    int runCount = 0; // runs started, so a stop meant for one spares the next
    std::shared_ptr<FileChooser> files;
    QString path;
    bool modified = false; // the board's name; the points' edits are on the undo stack
    bool finished = false; // the last run went through the last point: start over
    zem::history::Worker *history = nullptr;
    bool orderPending = false; // a test waits for its order from the history
    QDateTime runStarted; // UTC
    std::vector<int> runOrder; // the points in the order the run probes them

    SignatureModel *model = nullptr;
    QTableView *table = nullptr;
    QLineEdit *boardEdit = nullptr;
    QLineEdit *pointEdit = nullptr;
    QLineEdit *serialEdit = nullptr;
    QCheckBox *likelyFirstCheck = nullptr;
    QCheckBox *addBoardCheck = nullptr;
    QRadioButton *symmetryButton = nullptr;
    bool symmetryRun = false;
    std::vector<sig::IvCurve> symmetryCurves; // of the last compare-alike run, by point
    QCheckBox *autoSettingsCheck = nullptr;
    QSpinBox *repeatBox = nullptr;
    QCheckBox *keepHistoryCheck = nullptr;
    QRadioButton *learnButton = nullptr;
    QRadioButton *testButton = nullptr;
    QPushButton *runButton = nullptr;
    QPushButton *measureButton = nullptr;
    QPushButton *saveButton = nullptr;
    QLabel *status = nullptr;
    QChart *chart = nullptr;
    QLineSeries *referenceSeries = nullptr;
    QLineSeries *testSeries = nullptr;
    QValueAxis *axisV = nullptr;
    QValueAxis *axisI = nullptr;
    QTabWidget *m_tabs = nullptr;
    QWidget *m_boardPage = nullptr;
    BoardView *m_boardView = nullptr; // built when its tab is first shown
    QLabel *m_boardHint = nullptr;
    QUndoStack *m_undo = nullptr;
    // A component being placed: its first row, its pin count, and the clicks so far.
    QString m_placing;
    bool m_placingTwoRows = false;
    std::vector<QPointF> m_clicks;
};
