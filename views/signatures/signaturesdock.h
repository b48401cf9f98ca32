// The Signatures dock: learn the curves of a known-good board point by point,
// then test a suspect board against them. A measurement is taken by Measure,
// by Space, or by the probe's button, which is polled for while a run is
// going (and only then). The dock holds the widgets and wires them to the
// document (the signature and its edits), the run controller (the run) and
// the board editor (the picture).
#pragma once

#include "logline.h"
#include "session.h"

#include <QDockWidget>

#include <memory>

class BoardEditor;
class DockContext;
class RunController;
class SignatureDocument;
class QUndoStack;
namespace Ui {
class SignaturesDock;
}
class IvChart;
class QShortcut;

class SignaturesDock : public QDockWidget
{
    Q_OBJECT

public:
    explicit SignaturesDock(DockContext &context, QWidget *parent = nullptr);
    ~SignaturesDock() override;

    const sig::Signature &signature() const;
    // The results of the last test run, one per point.
    const std::vector<sig::PointResult> *results() const;
    // Also while a test waits for its probing order from the history.
    bool isRunning() const;

    // What the buttons do once a file name is chosen; false, with the reason
    // shown, when it cannot be done.
    bool openFile(const QString &path);
    // The same, the file read and checked off the window's thread (a board's
    // photo makes it megabytes); fileOpened() tells the outcome.
    void openFileInBackground(const QString &path);
    bool saveFile(const QString &path);
    bool writeReport(const QString &path);
    void newSignature();
    // Adds the names (comma or line separated); returns how many were added.
    int addPoints(const QString &names);
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
    QUndoStack *undoStack() const;

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
    BoardEditor *boardEditor();
    void fail(const QString &message);
    void showPoint(int row);
    void plot(const sig::IvCurve *reference, const sig::IvCurve *test);
    void selectRow(int row);
    void setStatus(const QString &text);
    // Says so, and what reading the file let go of.
    void opened(const QString &file);
    void updateButtons();
    void openDialog();
    bool saveDialog();
    bool saveAsDialog();
    void reportDialog();

    DockContext &m_context;
    SignatureDocument *m_document;
    RunController *m_run;
    std::unique_ptr<Ui::SignaturesDock> ui; // built when the dock is first shown or used
    BoardEditor *m_board = nullptr; // built when its tab is first shown
    IvChart *m_chart = nullptr;
    QShortcut *m_measureKey = nullptr;
};
