// The signature's points as a table with their edits: rename (F2), delete,
// move (Alt+Up, Alt+Down, or a drag), undo and redo, each an undoable command
// of the document. Edits are refused while a run goes.
#pragma once

#include <QTableView>

class SignatureDocument;

class PointTable : public QTableView
{
    Q_OBJECT

public:
    explicit PointTable(QWidget *parent = nullptr);

    // The document whose points are shown; set once, before use.
    void attach(SignatureDocument *document);
    // False while a run goes: no edit, no drag.
    void setEditable(bool editable);
    void selectRow(int row);
    int currentRow() const { return currentIndex().row(); }

signals:
    void currentRowChanged(int row);

private:
    void deleteSelected();
    void moveCurrent(int by);

    SignatureDocument *m_document = nullptr;
    bool m_editable = true;
};
