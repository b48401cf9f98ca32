#include "calldetail.h"

#include "call.h"
#include "codec.h"
#include "records.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTreeWidget>

#include <cstring>

namespace {

enum Roles { SideRole = Qt::UserRole, OffsetRole, SizeRole };
constexpr int kBytesPerLine = 16;
// A profile text can be megabytes; the dump shows its start.
constexpr int kMaxDumpedBytes = 64 * 1024;

// No translation ships, so plurals are chosen here rather than by "%n".
QString bytesText(int n)
{
    return n == 1 ? CallDetail::tr("1 byte") : CallDetail::tr("%1 bytes").arg(n);
}

QString valueText(const zem::codec::Json &v)
{
    if (v.is_object()) {
        if (v.contains("text"))
            return QStringLiteral("\"%1\"").arg(
                QString::fromStdString(v["text"].get<std::string>()));
        const QString value = QString::fromStdString(v.value("value", zem::codec::Json()).dump());
        if (v.contains("flags")) {
            QStringList flags;
            for (const auto &f : v["flags"])
                flags << QString::fromStdString(f.get<std::string>());
            return flags.isEmpty() ? value
                                   : QStringLiteral("%1 (%2)").arg(value, flags.join(" | "));
        }
        if (v.contains("name"))
            return QStringLiteral("%1 (%2)").arg(
                value, QString::fromStdString(v["name"].get<std::string>()));
        return value;
    }
    if (v.is_array()) {
        QStringList items;
        for (const auto &e : v)
            items << QString::fromStdString(e.dump());
        return items.join(QStringLiteral(", "));
    }
    return QString::fromStdString(
        v.dump(-1, ' ', false, zem::codec::Json::error_handler_t::replace));
}

} // namespace

CallDetail::CallDetail(QWidget *parent)
    : QWidget(parent)
{
    tree = new QTreeWidget;
    tree->setObjectName(QStringLiteral("callFields"));
    tree->setHeaderLabels({ tr("Field"), tr("Value"), tr("Bytes") });
    tree->setRootIsDecorated(true);
    tree->setUniformRowHeights(true);
    tree->header()->setSectionResizeMode(QHeaderView::Interactive);

    dump = new QPlainTextEdit;
    dump->setObjectName(QStringLiteral("callHex"));
    dump->setReadOnly(true);
    dump->setLineWrapMode(QPlainTextEdit::NoWrap);
    dump->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // A whole line is the offset and 16 pairs. Narrower, the dump scrolls:
    // a hard minimum here squeezed the fields to a sliver in a small window
    // and kept the handle from moving.
    lineWidth = QFontMetrics(dump->font()).horizontalAdvance(QString(56, QLatin1Char('0')))
        + dump->verticalScrollBar()->sizeHint().width() + 2 * dump->frameWidth();
    const int character = fontMetrics().averageCharWidth();
    dump->setMinimumWidth(12 * character);
    tree->setMinimumWidth(16 * character);

    split = new QSplitter(Qt::Horizontal);
    split->setObjectName(QStringLiteral("callDetailSplitter"));
    split->addWidget(tree);
    split->addWidget(dump);
    split->setChildrenCollapsible(false);
    connect(split, &QSplitter::splitterMoved, this, [this] { splitMoved = true; });
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(tree, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem *item) { highlight(item); });
}

void CallDetail::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (splitMoved)
        return;
    // The dump takes its whole line where that leaves the fields more than
    // half; else the fields get 55 %, which shows names and values whole.
    const int total = split->width() - split->handleWidth();
    const int dumpWidth = lineWidth <= total / 2 ? lineWidth : total * 45 / 100;
    split->setSizes({ total - dumpWidth, dumpWidth });
}

void CallDetail::showCall(const zem::calls::Call *call, const zem::calls::Call *previous)
{
    tree->clear();
    dump->clear();
    sides[0] = sides[1] = Side();
    if (!call)
        return;

    QString text;
    int line = 0;
    const zem::Command *command = call->commandEntry();
    for (int s = 0; s < 2; ++s) {
        const bool request = s == 0;
        const bool present = request ? call->hasRequest : call->hasResponse;
        if (!present)
            continue;
        const std::uint8_t *data = request ? call->request() : call->response();
        const int size = int(request ? call->requestSize : call->responseSize());
        const zem::Record *record
            = command ? (request ? command->request : command->response) : nullptr;
        const QString sideName = request ? tr("request") : tr("response");

        auto *top = new QTreeWidgetItem(tree,
            { record ? tr("%1 (%2)").arg(sideName, QLatin1String(record->name)) : sideName, {},
                bytesText(size) });
        top->setData(0, SideRole, s);
        top->setData(0, OffsetRole, 0);
        top->setData(0, SizeRole, size);
        top->setFirstColumnSpanned(false);

        const std::uint8_t *before = nullptr;
        if (previous && record && (request ? previous->hasRequest : previous->hasResponse)
            && int(request ? previous->requestSize : previous->responseSize()) == size)
            before = request ? previous->request() : previous->response();

        if (record && int(record->size) == size) {
            for (const zem::Field &f : record->fields) {
                auto *item = new QTreeWidgetItem(top,
                    { QString::fromLatin1(f.name), valueText(zem::codec::decodeField(f, data)),
                        tr("%1..%2").arg(f.offset).arg(f.offset + f.size() - 1) });
                item->setData(0, SideRole, s);
                item->setData(0, OffsetRole, int(f.offset));
                item->setData(0, SizeRole, int(f.size()));
                item->setToolTip(0, QString::fromLatin1(f.typeText));
                item->setToolTip(1, item->text(1));
                if (before && std::memcmp(before + f.offset, data + f.offset, f.size()) != 0) {
                    QFont bold = item->font(0);
                    bold.setBold(true);
                    for (int c = 0; c < 3; ++c) {
                        item->setFont(c, bold);
                        item->setBackground(c, QColor(255, 236, 179));
                    }
                    item->setToolTip(1,
                        tr("Changed since the previous %1 call, which had %2")
                            .arg(QLatin1String(call->commandName()),
                                valueText(zem::codec::decodeField(f, before))));
                }
            }
        } else if (size > 0) {
            // Texts: the URL opened or the profile.
            const QString t = QString::fromUtf8(
                reinterpret_cast<const char *>(data), qMin(size, kMaxDumpedBytes));
            auto *item = new QTreeWidgetItem(top, { tr("text"), t.left(200).simplified() });
            item->setToolTip(1, t.left(4000));
            item->setData(0, SideRole, s);
            item->setData(0, OffsetRole, 0);
            item->setData(0, SizeRole, size);
        }
        top->setExpanded(true);

        // The dump: a heading line, then 16 bytes a line with their offsets.
        text += QStringLiteral("%1 (%2)\n").arg(sideName, bytesText(size));
        ++line;
        sides[s].firstLine = line;
        sides[s].bytes = qMin(size, kMaxDumpedBytes);
        for (int at = 0; at < sides[s].bytes; at += kBytesPerLine) {
            QString l = QStringLiteral("%1 ").arg(at, 4, 16, QLatin1Char('0'));
            for (int i = at; i < qMin(at + kBytesPerLine, sides[s].bytes); ++i)
                l += QStringLiteral(" %1").arg(data[i], 2, 16, QLatin1Char('0'));
            text += l + QLatin1Char('\n');
            ++line;
        }
        if (size > sides[s].bytes) {
            text += tr("... %1 more\n").arg(bytesText(size - sides[s].bytes));
            ++line;
        }
        text += QLatin1Char('\n');
        ++line;
    }
    dump->setPlainText(text);
    for (int c = 0; c < 3; ++c)
        tree->resizeColumnToContents(c);
}

void CallDetail::highlight(QTreeWidgetItem *item)
{
    QList<QTextEdit::ExtraSelection> marks;
    if (item) {
        const Side side = sides[item->data(0, SideRole).toInt() & 1];
        const int from = item->data(0, OffsetRole).toInt();
        const int to = qMin(from + item->data(0, SizeRole).toInt(), side.bytes);
        QTextCharFormat format;
        format.setBackground(QColor(173, 216, 230));
        // One selection per line the field's bytes cross.
        for (int at = from; side.firstLine >= 0 && at < to;) {
            const int lineEnd = qMin(to, (at / kBytesPerLine + 1) * kBytesPerLine);
            const QTextBlock block
                = dump->document()->findBlockByNumber(side.firstLine + at / kBytesPerLine);
            // "oooo " then " xx" per byte: byte k's pair starts at 6 + 3k.
            const int first = 6 + 3 * (at % kBytesPerLine);
            const int last = 6 + 3 * ((lineEnd - 1) % kBytesPerLine) + 2;
            QTextEdit::ExtraSelection mark;
            mark.cursor = QTextCursor(block);
            mark.cursor.setPosition(block.position() + first);
            mark.cursor.setPosition(block.position() + last, QTextCursor::KeepAnchor);
            mark.format = format;
            marks << mark;
            at = lineEnd;
        }
        if (!marks.isEmpty())
            dump->setTextCursor(QTextCursor(marks.first().cursor.block()));
    }
    dump->setExtraSelections(marks);
}
