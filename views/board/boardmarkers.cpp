#include "boardmarkers.h"

namespace board {
namespace {

constexpr double kRing = 9;

} // namespace

FiducialMark::FiducialMark(const QString &name, const QFont &font)
    : m_name(name)
    , m_font(font)
{
    setFlag(ItemIgnoresTransformations);
    setAcceptedMouseButtons(Qt::NoButton);
    setZValue(4);
    m_font.setBold(true);
    const QFontMetricsF metrics(m_font);
    m_label = QRectF(-metrics.horizontalAdvance(m_name) / 2 - 4, kRing + 4,
        metrics.horizontalAdvance(m_name) + 8, metrics.height());
}

QRectF FiducialMark::boundingRect() const
{
    const double r = kRing + 6;
    return QRectF(-r, -r, 2 * r, 2 * r).united(m_label.adjusted(-2, -2, 2, 2));
}

void FiducialMark::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setRenderHint(QPainter::Antialiasing);
    // Magenta on black: no verdict has that colour, and it shows on green boards.
    for (const auto &[colour, width] :
        { std::pair { QColor(Qt::black), 4.0 }, std::pair { QColor(0xe0, 0x20, 0xe0), 2.0 } }) {
        painter->setPen(QPen(colour, width));
        painter->setBrush(Qt::NoBrush);
        painter->drawEllipse(QPointF(0, 0), kRing, kRing);
        painter->drawLine(QPointF(-kRing - 5, 0), QPointF(kRing + 5, 0));
        painter->drawLine(QPointF(0, -kRing - 5), QPointF(0, kRing + 5));
    }
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0xe0, 0x20, 0xe0));
    painter->drawRoundedRect(m_label, 3, 3);
    painter->setPen(Qt::white);
    painter->setFont(m_font);
    painter->drawText(m_label, Qt::AlignCenter, m_name);
}

ProbeMark::ProbeMark()
{
    setFlag(ItemIgnoresTransformations);
    setAcceptedMouseButtons(Qt::NoButton);
    setZValue(5);
}

QRectF ProbeMark::boundingRect() const
{
    const double r = kRing + 10;
    return QRectF(-r, -r, 2 * r, 2 * r);
}

void ProbeMark::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setRenderHint(QPainter::Antialiasing);
    for (const auto &[colour, width] :
        { std::pair { QColor(Qt::black), 4.0 }, std::pair { QColor(0x00, 0xe5, 0xff), 2.0 } }) {
        painter->setPen(QPen(colour, width));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(-kRing / 2, -kRing / 2, kRing, kRing));
        for (const QLineF &arm : { QLineF(-kRing - 8, 0, -kRing / 2, 0), QLineF(kRing / 2, 0, kRing + 8, 0),
                 QLineF(0, -kRing - 8, 0, -kRing / 2), QLineF(0, kRing / 2, 0, kRing + 8) })
            painter->drawLine(arm);
    }
}

} // namespace board
