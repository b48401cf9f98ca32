#include "drawnicons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace {

// A double chevron pointing right (») or down, in the text colour.
class ChevronEngine : public QIconEngine
{
public:
    explicit ChevronEngine(bool down)
        : down(down)
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        const QPalette palette = QApplication::palette();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.center());
        if (down)
            painter->rotate(90);
        const qreal s = qMin(rect.width(), rect.height()) / 4.0;
        QPainterPath path;
        for (const qreal x : { -s, 0.0 }) {
            path.moveTo(x - s / 2, -s);
            path.lineTo(x + s / 2, 0);
            path.lineTo(x - s / 2, s);
        }
        painter->setPen(QPen(palette.color(mode == QIcon::Disabled ? QPalette::Disabled
                                                                   : QPalette::Normal,
                                 QPalette::WindowText),
            qMax(1.0, s / 3)));
        painter->drawPath(path);
        painter->restore();
    }

    QIconEngine *clone() const override { return new ChevronEngine(down); }

private:
    bool down;
};

} // namespace

QIcon DrawnIconsStyle::standardIcon(
    StandardPixmap which, const QStyleOption *option, const QWidget *widget) const
{
    if (which == SP_ToolBarHorizontalExtensionButton)
        return QIcon(new ChevronEngine(false));
    if (which == SP_ToolBarVerticalExtensionButton)
        return QIcon(new ChevronEngine(true));
    const bool titleBar = which == SP_TitleBarCloseButton || which == SP_TitleBarNormalButton
        || which == SP_TitleBarMinButton || which == SP_TitleBarMaxButton
        || which == SP_DockWidgetCloseButton;
    // Fixed pictures, whatever the option or the dock.
    if (!titleBar)
        return QProxyStyle::standardIcon(which, option, widget);
    auto at = m_titleBarIcons.find(which);
    if (at == m_titleBarIcons.end())
        at = m_titleBarIcons.insert(which, QProxyStyle::standardIcon(which, option, widget));
    return *at;
}
