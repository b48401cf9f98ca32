// One call's request and response, decoded field by field beside a hex dump
// of their bytes. Fields that differ from the previous call of the same
// command are marked; selecting a field highlights its bytes.
#pragma once

#include <QWidget>

#include <vector>

class QPlainTextEdit;
class QResizeEvent;
class QSplitter;
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

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void highlight(QTreeWidgetItem *item);

    QSplitter *split = nullptr;
    int lineWidth = 0; // the dump's width for a whole line: offset and 16 pairs
    bool splitMoved = false; // by the user: the shares are theirs from then on

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
