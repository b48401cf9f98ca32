// A board as a camera would see it from above (parts, pads, traces,
// silkscreen), drawn for the pictures of the documentation: R1, D1, C1 and R2
// with their pads, and an 8-pin package U1 whose pin 1 is at the top left.
#pragma once

#include <QImage>
#include <QPainter>

inline QImage drawBoard()
{
    QImage image(1600, 1000, QImage::Format_RGB32);
    image.fill(QColor(0x14, 0x4d, 0x2a));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1f, 0x6b, 0x3b), 10, Qt::SolidLine, Qt::RoundCap));
    for (int k = 0; k < 14; ++k)
        p.drawLine(QPoint(60 + k * 110, 60), QPoint(60 + k * 110 + 200, 940));
    const auto pad = [&](QPointF at) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xc9, 0xa2, 0x4a));
        p.drawEllipse(at, 16, 16);
    };
    const auto part = [&](QRectF body, const QColor &colour, const QString &label) {
        p.setPen(QPen(QColor(0xee, 0xee, 0xee), 3));
        p.setBrush(colour);
        p.drawRoundedRect(body, 8, 8);
        p.setPen(QColor(0xf4, 0xf4, 0xf4));
        p.setFont(QFont(QStringLiteral("DejaVu Sans"), 26, QFont::Bold));
        p.drawText(body.adjusted(0, -60, 0, 0).topLeft() + QPointF(0, 40), label);
    };
    part(QRectF(200, 220, 220, 70), QColor(0xd9, 0xc3, 0x8f), QStringLiteral("R1"));
    pad({ 180, 255 });
    pad({ 440, 255 });
    part(QRectF(200, 520, 220, 70), QColor(0x30, 0x30, 0x30), QStringLiteral("D1"));
    p.fillRect(QRectF(380, 520, 20, 70), QColor(0xdd, 0xdd, 0xdd));
    pad({ 180, 555 });
    pad({ 440, 555 });
    part(QRectF(230, 760, 160, 110), QColor(0x2b, 0x57, 0x9a), QStringLiteral("C1"));
    pad({ 200, 815 });
    pad({ 420, 815 });
    part(QRectF(1240, 700, 220, 70), QColor(0xd9, 0xc3, 0x8f), QStringLiteral("R2"));
    pad({ 1220, 735 });
    pad({ 1480, 735 });
    // U1: an 8-pin two-row package, pin 1 at the top left.
    part(QRectF(760, 260, 300, 360), QColor(0x22, 0x22, 0x22), QStringLiteral("U1"));
    p.setBrush(QColor(0x55, 0x55, 0x55));
    p.drawEllipse(QPointF(800, 300), 14, 14);
    for (int k = 0; k < 4; ++k) {
        pad({ 720, 320.0 + k * 80 });
        pad({ 1100, 320.0 + k * 80 });
    }
    return image;
}

