// The Board tab of the Signatures dock: the board's picture with the points
// placed on it, a picture chosen, a component's pins placed with two or three
// clicks, a point dragged, fiducials that register the picture to the board,
// the board's CAD imported and its references predicted from it. Every edit
// is an undoable command of the document.
#pragma once

#include "registration.h"

#include <QWidget>

#include <vector>

class BoardView;
class DockContext;
class ProberPanel;
class QHBoxLayout;
class QLabel;
class QPushButton;
class ReferencePrediction;
class SignatureDocument;

class BoardEditor : public QWidget
{
    Q_OBJECT

public:
    BoardEditor(DockContext &context, SignatureDocument &document, QWidget *parent = nullptr);

    // The point chosen in the table: the next click on the picture places it.
    void setCurrent(int row);
    // Not while a run goes.
    void setEditable(bool editable);
    // The next clicks on the picture place the component's pins: pin 1 and
    // the last pin (a row), and for two rows pin pins/2 as well.
    void placeComponent(const QString &component, bool twoRows);
    // The fiducial is added (or replaces the one of its name) at the next
    // click on the picture; at once, keeping any place it had, without one.
    void placeFiducial(const QString &name, QPointF mm);
    // Says what a click does now (after a picture or a signature is loaded).
    void showHint();
    // The machine's panel, once shown (the Prober button); else null.
    ProberPanel *prober() const { return m_prober; }
    void showProber(bool shown);

signals:
    // A point was clicked, or is the next one to place.
    void pointChosen(int row);
    // A picture file was chosen for the board.
    void pictureChosen(const QString &file);
    // The outcome of a component added, for the dock's status line.
    void statusChanged(const QString &text);
    // The machine's Stop was pressed: a run must stop as well.
    void stopRequested();

private:
    void pictureDialog();
    void componentDialog();
    void fiducialDialog();
    void importDialog();
    void predictFromCad();
    // Predict from CAD: for a board with parts, not while a run or a
    // prediction goes.
    void updatePredictButton();
    void onPictureClicked(QPointF at);
    void setFiducial(sig::Fiducial fiducial);
    // The board's registration; else nothing, and *why says why when it has
    // fiducials placed.
    std::optional<sig::Registration> registered(QString *why = nullptr) const;

    DockContext &m_context;
    SignatureDocument &m_document;
    BoardView *m_view;
    QLabel *m_hint;
    QPushButton *m_proberButton;
    QPushButton *m_predictButton;
    ReferencePrediction *m_prediction;
    QHBoxLayout *m_body; // the picture, and the prober's panel beside it
    ProberPanel *m_prober = nullptr;
    int m_current = -1;
    bool m_editable = true;
    // A component being placed: its first row, its pin count, and the clicks so far.
    QString m_placing;
    bool m_placingTwoRows = false;
    std::vector<QPointF> m_clicks;
    // A fiducial waiting for its click on the picture.
    std::optional<sig::Fiducial> m_fiducial;
};
