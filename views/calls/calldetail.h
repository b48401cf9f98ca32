// One call's request and response, decoded field by field beside a hex dump
// of their bytes. Fields that differ from the previous call of the same
// command are marked; selecting a field highlights its bytes.
#pragma once

#include <QWidget>

#include <vector>

class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace zem::calls {
struct Call;
}

class CallDetail : public QWidget
{
    Q_OBJECT

public:
    explicit CallDetail(QWidget *parent = nullptr);

    // Shows call (null: nothing), comparing with previous when given.
    void showCall(const zem::calls::Call *call, const zem::calls::Call *previous);

    QTreeWidget *fields() const { return tree; }
    QPlainTextEdit *hex() const { return dump; }

private:
    void highlight(QTreeWidgetItem *item);

    QTreeWidget *tree = nullptr;
    QPlainTextEdit *dump = nullptr;
    // Where each side's lines start in the dump: the text position of the
    // first line of hex pairs, and how many bytes were dumped.
    struct Side
    {
        int firstLine = -1;
        int bytes = 0;
    };
    Side sides[2];
};
