#include "pointtable.h"

#include "signaturedocument.h"
#include "signatureedits.h"
#include "signaturemodel.h"

#include <QAction>
#include <QHeaderView>
#include <QUndoStack>

#include <algorithm>

PointTable::PointTable(QWidget *parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    verticalHeader()->hide();
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked);
    setDragDropMode(QAbstractItemView::InternalMove);
    setDragDropOverwriteMode(false);
    setDropIndicatorShown(true);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void PointTable::attach(SignatureDocument *document)
{
    m_document = document;
    SignatureModel *model = document->model();
    QUndoStack *undoStack = document->undoStack();
    setModel(model);
    // Verdict and score right after the name, sized to their texts, so that
    // they show at the dock's default width; the reading takes what is left.
    QHeaderView *header = horizontalHeader();
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(24);
    for (int column : { SignatureModel::Number, SignatureModel::Verdict, SignatureModel::Score })
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    header->resizeSection(SignatureModel::Name, 110);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex &current) {
            if (current.isValid())
                emit currentRowChanged(current.row());
        });

    connect(model, &SignatureModel::renameRequested, this,
        [model, undoStack](int row, const QString &name) {
            undoStack->push(new edits::RenamePoint(*model, row, name));
        });
    // Queued: the drop that asks is still in progress in the table.
    connect(
        model, &SignatureModel::moveRequested, this,
        [this, model, undoStack](int from, int to) {
            if (m_editable) {
                undoStack->push(new edits::MovePoint(*model, from, to));
                selectRow(to);
            }
        },
        Qt::QueuedConnection);
    const auto action = [this](const QString &text, const QKeySequence &keys, auto &&slot) {
        auto *a = new QAction(text, this);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
        return a;
    };
    QAction *undo = action(tr("Undo"), QKeySequence::Undo, [this, undoStack] {
        if (m_editable)
            undoStack->undo();
    });
    QAction *redo
        = action(tr("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this, undoStack] {
              if (m_editable)
                  undoStack->redo();
          });
    undo->setObjectName(QStringLiteral("signatureUndoAction"));
    redo->setObjectName(QStringLiteral("signatureRedoAction"));
    connect(undoStack, &QUndoStack::undoTextChanged, undo,
        [undo](const QString &text) { undo->setText(tr("Undo %1").arg(text).trimmed()); });
    connect(undoStack, &QUndoStack::redoTextChanged, redo,
        [redo](const QString &text) { redo->setText(tr("Redo %1").arg(text).trimmed()); });
    action(tr("Rename"), QKeySequence(Qt::Key_F2), [this, model] {
        if (currentIndex().isValid() && m_editable)
            edit(model->index(currentRow(), SignatureModel::Name));
    });
    action(tr("Delete"), QKeySequence::Delete, &PointTable::deleteSelected);
    action(tr("Move up"), QKeySequence(Qt::ALT | Qt::Key_Up), [this] { moveCurrent(-1); });
    action(tr("Move down"), QKeySequence(Qt::ALT | Qt::Key_Down), [this] { moveCurrent(1); });
}

void PointTable::setEditable(bool editable)
{
    m_editable = editable;
    m_document->model()->setEditable(editable);
    setDragEnabled(editable);
}

void PointTable::selectRow(int row)
{
    if (row < 0 || row >= model()->rowCount())
        return;
    setCurrentIndex(model()->index(row, SignatureModel::Name));
    scrollTo(model()->index(row, SignatureModel::Name));
}

void PointTable::deleteSelected()
{
    if (!m_editable)
        return;
    std::vector<int> rows;
    for (const QModelIndex &i : selectionModel()->selectedRows())
        rows.push_back(i.row());
    if (rows.empty() && currentIndex().isValid())
        rows.push_back(currentRow());
    if (rows.empty())
        return;
    const int first = *std::min_element(rows.begin(), rows.end());
    SignatureModel *model = m_document->model();
    m_document->undoStack()->push(new edits::DeletePoints(*model, std::move(rows)));
    if (model->rowCount() > 0)
        selectRow(std::min(first, model->rowCount() - 1));
}

void PointTable::moveCurrent(int by)
{
    const int row = currentRow();
    const int to = row + by;
    SignatureModel *model = m_document->model();
    if (!m_editable || row < 0 || to < 0 || to >= model->rowCount())
        return;
    m_document->undoStack()->push(new edits::MovePoint(*model, row, to));
    selectRow(to);
}
