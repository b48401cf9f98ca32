// The Prober panel beside the board's picture: the machine that brings the
// probe, connected, homed and jogged by hand (the arrow keys move it in X
// and Y, Page Up and Page Down in Z), its fiducials taught where the probe
// stands, and a Stop that halts it at any moment. The machine's position is
// told as a board position, for the picture to draw.
//
// A run takes the machine's line (takeForRun()) and gives it back when it
// ends (runEnded()), as the controller takes one sender at a time.
#pragma once

#include "machine.h"

#include <QPointF>
#include <QWidget>

#include <optional>

class DockContext;
class SignatureDocument;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class ProberPanel : public QWidget
{
    Q_OBJECT

public:
    // The keys jog while the focus is anywhere in `keys` (the Board tab).
    ProberPanel(DockContext &context, SignatureDocument &document, QWidget *keys,
        QWidget *parent = nullptr);
    ~ProberPanel() override;

    // The machine's URL for a run, its line let go; empty when no machine
    // is connected (the run is then probed by hand).
    QString takeForRun();
    // The run is over: the panel takes the machine's line again.
    void runEnded();
    // A position the run's machine reported (machine mm), to draw.
    void showRunPosition(QPointF machine);

    const motion::MachineState &machineState() const { return m_machine.state(); }

signals:
    // Where the probe is on the board (mm), or nothing when it is not known.
    void probeMoved(std::optional<QPointF> boardMm);
    // Stop was pressed: a run that uses the machine must stop too.
    void stopRequested();
    void statusChanged(const QString &text);

private:
    void connectMachine();
    void teach();
    void jog(int dx, int dy, int dz);
    void showState(const motion::MachineState &state);
    void refreshFiducials();
    void tellPosition(std::optional<QPointF> machine);
    double jogStep() const;

    DockContext &m_context;
    SignatureDocument &m_document;
    motion::Machine m_machine;
    QLineEdit *m_url;
    QPushButton *m_connect;
    QPushButton *m_stop;
    QPushButton *m_home;
    QPushButton *m_unlock;
    QComboBox *m_step;
    QComboBox *m_fiducials;
    QPushButton *m_teach;
    QLabel *m_state;
    QLabel *m_placement;
    QWidget *m_jogButtons;
    QString m_runUrl; // the URL a run borrowed the line for
};
