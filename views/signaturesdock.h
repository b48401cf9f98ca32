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

#include <cstdint>
#include <memory>

class DeviceRun;
class DeviceSession;
class FileChooser;
class SignatureModel;
class QChart;
class QCheckBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QRadioButton;
class QTableView;
class QTimer;
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
    bool isRunning() const { return running; }

    // What the buttons do once a file name is chosen; false, with the reason
    // shown, when it cannot be done.
    bool openFile(const QString &path);
    void setFileChooser(std::shared_ptr<FileChooser> chooser);
    bool saveFile(const QString &path);
    bool writeReport(const QString &path);
    void newSignature();
    // Adds the names (comma or line separated); returns how many were added.
    int addPoints(const QString &names);
    // Where finished test runs are kept and probe orders come from (see
    // location.h); the history is opened only when a run needs it.
    void setHistoryLocation(const QString &text) { historyLocation = text; }

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

private:
    void buildUi();
    void onRunEvent(const sig::ProbeRun::Event &event);
    void runFinished();
    void showWaiting(bool slow);
    void fail(const QString &message);
    void showPoint(int row);
    void plot(const sig::IvCurve *reference, const sig::IvCurve *test);
    void selectRow(int row);
    void setStatus(const QString &text);
    void updateButtons();
    bool confirmDiscard();
    void openDialog();
    void saveDialog();
    void saveAsDialog();
    void reportDialog();
    void pasteNames();
    std::vector<int> likelyOrder();
    void recordRun();

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
    bool modified = false;
    bool finished = false; // the last run went through the last point: start over
    QString historyLocation;
    QDateTime runStarted; // UTC
    std::vector<int> runOrder; // the points in the order the run probes them

    SignatureModel *model = nullptr;
    QTableView *table = nullptr;
    QLineEdit *boardEdit = nullptr;
    QLineEdit *pointEdit = nullptr;
    QLineEdit *serialEdit = nullptr;
    QCheckBox *likelyFirstCheck = nullptr;
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

};
