// The board's picture with a marker on every placed point: zoom with the
// wheel, pan by dragging, fit on double-click. A click on the picture or on
// a marker, and a marker dragged, are told to the dock, which makes the
// edit; the view only draws the model's points.
//
// A board photo is large (4000 x 3000 and more): it is decoded off the
// window's thread into a few halved copies, and each paint draws the copy
// nearest the zoom, so that panning and zooming stay within a frame.
#pragma once

#include "registration.h"
#include "session.h"

#include <QFutureWatcher>
#include <QGraphicsView>
#include <QImage>

#include <vector>

class SignatureModel;
class QGraphicsItem;
class QGraphicsPathItem;

namespace board {
class FiducialMark;
class Marker;
class ProbeMark;
class Picture;
} // namespace board

class BoardView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit BoardView(QWidget *parent = nullptr);
    ~BoardView() override;

    // Shows the model's picture and points, and follows its edits.
    void setModel(SignatureModel *model);
    // The point highlighted (the one to probe), -1 for none; brought into view.
    void setCurrent(int row);
    int current() const { return m_current; }
    // Whether markers can be dragged and clicks place points.
    void setEditable(bool editable);
    // The whole picture in view.
    void fit();
    // The picture is decoded and drawn (false also when there is none).
    bool pictureShown() const;
    // How the picture maps to the board, when its fiducials register it.
    const std::optional<sig::Registration> &registration() const { return m_registration; }
    // Where the marker of the point at `row` is drawn, when it has one.
    std::optional<QPointF> markerAt(int row) const;
    // Where a machine's probe is on the board (mm): drawn on a registered
    // picture; nothing hides it.
    void setProbe(std::optional<QPointF> boardMm);
    // Where the probe's mark is drawn, when it is.
    std::optional<QPointF> probeAt() const;

signals:
    void pointClicked(int row);
    void pointDragged(int row, QPointF to);
    // A click on the picture, not on a marker, in the picture's pixels.
    void pictureClicked(QPointF at);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class board::Marker;

    void loadPicture();
    void drawOutline();
    void showPicture(const std::vector<QImage> &levels);
    void rebuildMarkers();
    void updateMarker(int row);
    void styleMarker(board::Marker &marker, int row);
    void markerReleased(int row, QPointF from, QPointF to);
    void placeProbe();

    SignatureModel *m_model = nullptr;
    board::Picture *m_picture = nullptr;
    std::vector<board::Marker *> m_markers; // by row; null for points not placed
    std::vector<board::FiducialMark *> m_fiducials;
    // Points with a position on the board but none on the picture are drawn
    // where the registration puts them.
    std::optional<sig::Registration> m_registration;
    // A board without a picture is drawn from its CAD outline, which the
    // points' millimetres are placed on.
    QGraphicsPathItem *m_outline = nullptr;
    std::optional<QPointF> m_probeMm;
    board::ProbeMark *m_probe = nullptr;
    int m_current = -1;
    bool m_editable = true;
    bool m_fitted = false; // fit once the picture first arrives
    QPoint m_pressedAt;
    QFutureWatcher<std::vector<QImage>> m_decoding;
    QByteArray m_decoded; // the data of the picture shown or being decoded
};
