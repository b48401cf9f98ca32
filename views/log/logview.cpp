#include "logview.h"

#include "dockcontext.h"
#include "qatomicfile.h"
#include "savefile.h"

#include <QAction>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {

// Reads on the log's black background, unlike a pure dark red.
const QColor kFailureColour(255, 85, 85);

} // namespace

LogView::LogView(DockContext &context, QWidget *parent)
    : QListWidget(parent)
    , m_context(context)
{
    setUniformItemSizes(true);
    // Offsets are pixels; rows have no positions to scroll by.
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);

    copyAllAction = new QAction(tr("Copy all"), this);
    copyAllAction->setObjectName(QStringLiteral("copyAllAction"));
    connect(copyAllAction, &QAction::triggered, this,
        [this] { QGuiApplication::clipboard()->setText(allText()); });
    saveAsAction = new QAction(tr("Save as..."), this);
    saveAsAction->setObjectName(QStringLiteral("saveAsAction"));
    connect(saveAsAction, &QAction::triggered, this, &LogView::saveAs);
    // Lines cannot be selected, so the menu is the way to get text out.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        auto *menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addAction(copyAllAction);
        menu->addAction(saveAsAction);
        menu->popup(viewport()->mapToGlobal(at));
    });
}

LogView *LogView::replace(QListWidget *form, DockContext &context)
{
    QWidget *parent = form->parentWidget();
    auto *view = new LogView(context, parent);
    view->setObjectName(form->objectName());
    view->setPalette(form->palette());
    view->setFont(form->font());
    view->setSizePolicy(form->sizePolicy());
    view->setMinimumSize(form->minimumSize());
    view->setMaximumSize(form->maximumSize());
    view->setSelectionMode(form->selectionMode());
    view->setFocusPolicy(form->focusPolicy());
    if (parent && parent->layout())
        delete parent->layout()->replaceWidget(form, view);
    delete form;
    return view;
}

void LogView::appendLine(const QString &line, LogLevel level)
{
    // Coloured before it is inserted: one insertion, no change afterwards.
    auto *item = new QListWidgetItem(line);
    if (level == LogLevel::Failure)
        item->setForeground(kFailureColour);
    addItem(item);
}

QString LogView::allText() const
{
    QString text;
    for (int row = 0; row < count(); ++row) {
        text += item(row)->text();
        text += u'\n';
    }
    return text;
}

bool LogView::saveTo(const QString &fileName, QString *error) const
{
    const QString failure = zem::files::writeFile(fileName, allText().toUtf8());
    if (!failure.isEmpty() && error)
        *error = tr("Cannot save the log to %1: %2").arg(fileName, failure);
    return failure.isEmpty();
}

void LogView::saveAs()
{
    saveWithDialog(m_context,
        { this, tr("Save log as..."), QStringLiteral("zem_debugger.log"),
            tr("Text files (*.log *.txt);;All files (*)") },
        tr("Save log"), [this](const QString &file, const QString &) {
            QString error;
            saveTo(file, &error);
            return error;
        });
}

int LogView::rowHeight() const
{
    if (height <= 0 && count() > 0) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        const QModelIndex first = model()->index(0, 0);
        height = std::max(1, itemDelegateForIndex(first)->sizeHint(option, first).height());
    }
    return height;
}

QRect LogView::rowRect(int row) const
{
    const int h = rowHeight();
    // Far rows of a very long log lie beyond int; they are never in view.
    const qint64 top = qint64(row) * h - verticalOffset();
    return QRect(-horizontalOffset(), int(std::clamp<qint64>(top, INT_MIN / 2, INT_MAX / 2)),
        std::max(widest, viewport()->width()), h);
}

QRect LogView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.parent().isValid() || index.column() != 0)
        return {};
    return rowRect(index.row());
}

void LogView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    const QRect r = visualRect(index);
    const int top = r.top() + verticalOffset();
    const int bottom = top + r.height() - viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    switch (hint) {
    case PositionAtTop:
        bar->setValue(top);
        break;
    case PositionAtBottom:
        bar->setValue(bottom);
        break;
    case PositionAtCenter:
        bar->setValue((top + bottom) / 2);
        break;
    case EnsureVisible:
        if (r.top() < 0)
            bar->setValue(top);
        else if (r.bottom() >= viewport()->height())
            bar->setValue(bottom);
        break;
    }
}

QModelIndex LogView::indexAt(const QPoint &point) const
{
    const int h = rowHeight();
    if (h <= 0 || point.y() < 0)
        return {};
    const qint64 row = (qint64(point.y()) + verticalOffset()) / h;
    return row < count() ? model()->index(int(row), 0) : QModelIndex();
}

void LogView::doItemsLayout()
{
    // Skips QListView's pass over every row; the geometry is arithmetic.
    updateGeometries();
    // After appends only the new rows that are in view need painting.
    const int top = firstNewRow < 0 ? 0 : rowRect(firstNewRow).top();
    firstNewRow = -1;
    if (top < viewport()->height())
        viewport()->update(QRect(0, top, viewport()->width(), viewport()->height() - top));
}

int LogView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int LogView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

bool LogView::isIndexHidden(const QModelIndex &) const
{
    return false;
}

QModelIndex LogView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int n = count();
    if (n == 0)
        return {};
    const int page = std::max(1, viewport()->height() / std::max(1, rowHeight()));
    int row = currentIndex().isValid() ? currentIndex().row() : 0;
    switch (action) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = n - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(std::clamp(row, 0, n - 1), 0);
}

void LogView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags flags)
{
    const QRect r = rect.normalized();
    const QModelIndex first = indexAt(QPoint(0, std::max(0, r.top())));
    QModelIndex last = indexAt(QPoint(0, r.bottom()));
    if (!first.isValid())
        return;
    if (!last.isValid())
        last = model()->index(count() - 1, 0);
    selectionModel()->select(QItemSelection(first, last), flags);
}

QRegion LogView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    for (const QItemSelectionRange &range : selection)
        region += rowRect(range.top()).united(rowRect(range.bottom()));
    return region;
}

void LogView::paintEvent(QPaintEvent *event)
{
    const int h = rowHeight();
    if (h <= 0)
        return;
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int first = std::max(0, (area.top() + verticalOffset()) / h);
    const int last = std::min(count() - 1, (area.bottom() + verticalOffset()) / h);
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const QModelIndex current = currentIndex();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, 0);
        QStyleOptionViewItem option = base;
        option.rect = rowRect(row);
        if (selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (index == current && hasFocus())
            option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

void LogView::updateGeometries()
{
    const int h = rowHeight();
    const QSize size = viewport()->size();
    const qint64 contentHeight = qint64(count()) * h;
    QScrollBar *v = verticalScrollBar();
    v->setSingleStep(std::max(1, h));
    v->setPageStep(size.height());
    v->setRange(0, int(std::clamp<qint64>(contentHeight - size.height(), 0, INT_MAX)));
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
    horizontal->setPageStep(size.width());
    horizontal->setRange(0, std::max(0, widest - size.width()));
    QAbstractItemView::updateGeometries();
}

void LogView::scrollContentsBy(int dx, int dy)
{
    // Moves what is painted and exposes only the strip uncovered; the
    // inherited version repaints the whole area.
    viewport()->scroll(dx, dy);
}

void LogView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    // From the character count: measuring the text would cost more than the
    // rest of the append. Exact in the log's fixed-pitch font; in another, the
    // widest letter makes it too wide rather than cut.
    if (charWidth <= 0)
        charWidth = std::max(
            fontMetrics().averageCharWidth(), fontMetrics().horizontalAdvance(QLatin1Char('W')));
    for (int row = start; row <= end; ++row)
        widest = std::max(widest, int(item(row)->text().size() + 2) * charWidth);
    // One geometry update per pass of the event loop, however many lines came.
    if (firstNewRow < 0 || start < firstNewRow)
        firstNewRow = start;
    scheduleDelayedItemsLayout();
}

void LogView::reset()
{
    widest = 0;
    height = 0;
    firstNewRow = -1;
    QListWidget::reset();
}

void LogView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        height = 0;
        charWidth = 0;
        firstNewRow = -1;
    }
    QListWidget::changeEvent(event);
}
