#include "docklayout.h"

#include <QDockWidget>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>

#include <algorithm>

namespace {

// What the window takes of a screen that has room for more: enough for the
// pages and the docks side by side without stretching them across 4K.
constexpr QSize kRoomyWindow(1600, 1000);
// The title bar and borders of a frame not yet shown, as usual window managers draw them.
constexpr QMargins kUsualFrame(8, 40, 8, 8);

void wrap(QDockWidget &dock)
{
    QWidget *contents = dock.widget();
    if (!contents || qobject_cast<QScrollArea *>(contents))
        return;
    auto *scroll = new QScrollArea(&dock);
    scroll->setObjectName(dock.objectName() + QStringLiteral("Scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    dock.setWidget(scroll);
    scroll->setWidget(contents);
}

QMargins frameMargins(const QWidget &window)
{
    const QRect frameRect = window.frameGeometry(), inner = window.geometry();
    return window.isVisible() && frameRect != inner
        ? QMargins(inner.left() - frameRect.left(), inner.top() - frameRect.top(),
            frameRect.right() - inner.right(), frameRect.bottom() - inner.bottom())
        : kUsualFrame;
}

// Sets the window's size and moves its frame back onto the screen where it
// hangs over an edge.
void place(QWidget &window, const QRect &available, const QSize &size)
{
    window.resize(size);
    if (!window.isVisible())
        return;
    const QRect frameRect = window.frameGeometry();
    const QSize outer = window.size().grownBy(frameMargins(window));
    const int x = std::clamp(frameRect.left(), available.left(),
        std::max(available.left(), available.right() + 1 - outer.width()));
    const int y = std::clamp(frameRect.top(), available.top(),
        std::max(available.top(), available.bottom() + 1 - outer.height()));
    if (QPoint(x, y) != frameRect.topLeft())
        window.move(x, y);
}

QRect availableGeometry(const QWidget &window)
{
    const QScreen *screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

void letDockShrink(QDockWidget &dock)
{
    wrap(dock);
    // Connected after the dock's own handler, so its contents exist by then.
    // A dock that builds wide contents when first shown puts them in a scroll
    // area itself: here it would be too late, the window widens at once.
    QObject::connect(&dock, &QDockWidget::visibilityChanged, &dock, [&dock](bool visible) {
        if (visible)
            wrap(dock);
    });
}

void fitWindowToScreen(QMainWindow &window, const QList<QDockWidget *> &docks)
{
    const QRect available = availableGeometry(window);
    if (!available.isValid())
        return;
    const QRect room = available.marginsRemoved(frameMargins(window));
    const QSize size = kRoomyWindow.boundedTo(room.size()).expandedTo(window.minimumSizeHint());
    place(window, available, size);
    QList<QDockWidget *> shown;
    for (QDockWidget *dock : docks)
        if (!dock->isHidden() && !dock->isFloating())
            shown << dock;
    if (!shown.isEmpty())
        window.resizeDocks(
            shown, QList<int>(shown.size(), int(size.width() * kDockShare)), Qt::Horizontal);
}
