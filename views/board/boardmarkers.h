// The items drawn over the board's picture: a point's marker, and a
// fiducial's cross. Both keep their size on screen at any zoom.
#pragma once

#include "boardview.h"

#include <QFontMetricsF>
#include <QGraphicsItem>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

namespace board {

// A point on the picture: a dot in its verdict's colour and its name; the
// same size on screen at any zoom.
class Marker : public QGraphicsItem
{
public:
    Marker(BoardView &view, int row)
        : m_view(view)
        , m_row(row)
    {
        setFlag(ItemIgnoresTransformations);
        setCacheMode(DeviceCoordinateCache);
        setCursor(Qt::PointingHandCursor);
    }

    int row() const { return m_row; }
    void setLook(const QString &name, const QColor &colour, bool flagged, bool current)
    {
        if (name == m_name && colour == m_colour && flagged == m_flagged && current == m_current)
            return;
        prepareGeometryChange();
        m_name = name;
        m_colour = colour;
        m_flagged = flagged;
        m_current = current;
        const QFontMetricsF metrics(labelFont());
        m_label = QRectF(radius() + 4, -metrics.height() / 2, metrics.horizontalAdvance(m_name) + 8,
            metrics.height());
        setZValue(current ? 3 : flagged ? 2 : 1);
        update();
    }

    QRectF boundingRect() const override
    {
        const double r = radius() + (m_current ? 14 : 3);
        return QRectF(-r, -r, 2 * r, 2 * r).united(m_label.adjusted(-2, -2, 2, 2));
    }

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override
    {
        painter->setRenderHint(QPainter::Antialiasing);
        const double r = radius();
        if (m_current) {
            // A wide ring, black inside yellow, finds the eye on any picture.
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(QColor(0xff, 0xd4, 0x00), 6));
            painter->drawEllipse(QPointF(0, 0), r + 8, r + 8);
            painter->setPen(QPen(Qt::black, 2));
            painter->drawEllipse(QPointF(0, 0), r + 11, r + 11);
            painter->drawEllipse(QPointF(0, 0), r + 5, r + 5);
        }
        painter->setPen(QPen(Qt::white, 2));
        painter->setBrush(m_colour);
        painter->drawEllipse(QPointF(0, 0), r, r);
        if (m_flagged) {
            // A cross as well as the colour: a flag must not rest on colour alone.
            painter->setPen(QPen(Qt::white, 2.5));
            const double c = r * 0.5;
            painter->drawLine(QPointF(-c, -c), QPointF(c, c));
            painter->drawLine(QPointF(-c, c), QPointF(c, -c));
        }
        painter->setPen(Qt::NoPen);
        painter->setBrush(m_current ? QColor(0xff, 0xd4, 0x00) : QColor(255, 255, 255, 210));
        painter->drawRoundedRect(m_label, 3, 3);
        painter->setPen(Qt::black);
        painter->setFont(labelFont());
        painter->drawText(m_label, Qt::AlignCenter, m_name);
    }

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override
    {
        m_from = pos();
        QGraphicsItem::mousePressEvent(event);
        m_view.pointClicked(m_row);
    }
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override
    {
        QGraphicsItem::mouseReleaseEvent(event);
        if (pos() != m_from)
            m_view.markerReleased(m_row, m_from, pos());
    }

private:
    double radius() const { return m_current ? 8 : m_flagged ? 7 : 5; }
    QFont labelFont() const
    {
        QFont f = m_view.font();
        f.setBold(m_current || m_flagged);
        return f;
    }

    BoardView &m_view;
    int m_row;
    QString m_name;
    QColor m_colour;
    bool m_flagged = false;
    bool m_current = false;
    QRectF m_label;
    QPointF m_from;
};

// A fiducial: a cross in a ring where it was clicked, and its name. It takes
// no clicks: a click on it places what the picture's click places.
class FiducialMark : public QGraphicsItem
{
public:
    enum { Type = UserType + 1 };

    FiducialMark(const QString &name, const QFont &font);
    int type() const override { return Type; }
    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override;

private:
    QString m_name;
    QFont m_font;
    QRectF m_label;
};

// Where the machine's probe is: a square crosshair in cyan, which neither a
// verdict nor a fiducial uses. It takes no clicks.
class ProbeMark : public QGraphicsItem
{
public:
    enum { Type = UserType + 2 };

    ProbeMark();
    int type() const override { return Type; }
    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override;
};

} // namespace board
