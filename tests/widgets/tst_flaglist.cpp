#include "intinput.h"
#include "intoutput.h"
#include "multilistwidget.h"

#include "records.h"

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QStyleOptionViewItem>
#include <QTest>

#include <memory>

using NamedValues = zem::Span<zem::NamedValue>;
Q_DECLARE_METATYPE(NamedValues)

namespace {

constexpr zem::NamedValue kEqualValues[] = { { "B_EQUAL", 4, zem::ValueKind::Flag },
    { "A_EQUAL", 4, zem::ValueKind::Flag }, { "C_OTHER", 1, zem::ValueKind::Flag } };
constexpr zem::NamedValue kZeroValues[] = { { "ZERO_A", 0, zem::ValueKind::Constant },
    { "ONE", 1, zem::ValueKind::Flag }, { "ZERO_B", 0, zem::ValueKind::Constant } };

template <class Widget> Widget *withValues(Widget *w, NamedValues values)
{
    for (const zem::NamedValue &v : values)
        w->AddFlag(v.name, v.value);
    return w;
}

// A uint16_t field widget carrying named values, shown so that clicks land
// where a user's would.
struct FlagField
{
    std::unique_ptr<base_io_widget> widget;
    MultiListWidget *list = nullptr;

    FlagField(bool output, NamedValues values)
    {
        if (output)
            widget.reset(withValues(new IntOutput(nullptr, "Field", "uint16_t"), values));
        else
            widget.reset(withValues(
                new IntInput(nullptr, "Field", "uint16_t", uint16_t(0), uint16_t(65535)), values));
        list = widget->findChild<MultiListWidget *>();
        widget->resize(400, 300);
        widget->show();
    }

    QString ticks() const
    {
        QString marks;
        for (int row = 0; row < list->count(); ++row)
            marks += list->item(row)->checkState() == Qt::Checked ? '1' : '0';
        return marks;
    }

    // "tX" replaces the text by typing X, "sX" sets it as a handler does, "bN"
    // clicks the check box of row N, "nN" clicks its name and "kN" toggles it
    // with the space bar.
    void run(const QString &step)
    {
        const QChar verb = step[0];
        const QString arg = step.mid(1);
        QStyleOptionViewItem item;
        if (verb == 'b' || verb == 'n') {
            item.initFrom(list);
            item.rect = list->visualItemRect(list->item(arg.toInt()));
            item.features
                = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
            item.text = list->item(arg.toInt())->text();
        }
        if (verb == 't') {
            widget->GetEdit()->clear();
            QTest::keyClicks(widget->GetEdit(), arg);
        } else if (verb == 's') {
            widget->SetValue(arg);
        } else if (verb == 'b') {
            const QRect box
                = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, list);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
        } else if (verb == 'n') {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                QPoint(item.rect.right() - 10, item.rect.center().y()));
        } else if (verb == 'k') {
            list->setCurrentRow(arg.toInt());
            QTest::keyClick(list, Qt::Key_Space);
        }
    }
};

} // namespace

class tst_FlagList : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
    void clickRecoloursNumber();
};

void tst_FlagList::scenario_data()
{
    QTest::addColumn<bool>("output");
    QTest::addColumn<NamedValues>("values");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("ticks");
    const auto row = [](const char *name, bool output, NamedValues values, const char *steps,
                         const char *text, const char *ticks) {
        QTest::newRow(name) << output << values << QString(steps) << QString(text)
                            << QString(ticks);
    };

    const NamedValues rst = zem::kIOEventsRstValues, points = zem::kNumberPointsValues;
    row("events fresh input all ticked", false, rst, "", "", "1111");
    row("events typed 5", false, rst, "t5", "5", "1010");
    row("events clicked to 10", false, rst, "t5 b0 b1 b2 b3", "10", "0101");
    row("events untick all writes 0", false, rst, "b0 b1 b2 b3", "0", "0000");
    row("events space bar keeps number", false, rst, "t5 k1", "5", "1110");
    row("events click after space bar", false, rst, "t5 k1 n3", "7", "1110");
    row("points ticking both is OR", false, points, "t0 b0 b1", "1002", "11");
    row("points typed 1002", false, points, "t0 b0 b1 t1002", "1002", "01");
    row("points typed 1010", false, points, "t1010", "1010", "00");
    row("points click on name rewrites", false, points, "t1002 n0", "1000", "01");
    row("points not a number", false, points, "tabc", "abc", "00");
    row("frame size 25", false, zem::kFrameNumberValues, "t25", "25", "1");
    row("frame size 1", false, zem::kFrameNumberValues, "t1", "1", "0");
    row("equal values later name wins", false, kEqualValues, "t4", "4", "100");
    row("equal values with other", false, kEqualValues, "t5", "5", "101");
    row("zeros with 1", false, kZeroValues, "t1", "1", "111");
    row("zeros with 0", false, kZeroValues, "t0", "0", "101");
    row("zeros with empty", false, kZeroValues, "t1 t", "", "101");
    row("zeros untick one", false, kZeroValues, "t1 b1", "0", "101");
    const NamedValues sense = zem::kCurrentSensorModeValues;
    row("sense fresh output", true, sense, "", "", "1000");
    row("sense 3", true, sense, "s3", "3", "1001");
    row("sense 2", true, sense, "s2", "2", "1010");
    row("sense emptied", true, sense, "s3 s", "", "1000");
    row("sense output ignores user", true, sense, "s3 b0 b1 n2 k2", "3", "1001");
    row("state output", true, zem::kIOStateValues, "s3", "3", "11");
}

void tst_FlagList::scenario()
{
    QFETCH(bool, output);
    QFETCH(NamedValues, values);
    QFETCH(QString, steps);
    QFETCH(QString, text);
    QFETCH(QString, ticks);

    FlagField field(output, values);
    QVERIFY(QTest::qWaitForWindowExposed(field.widget.get()));
    // The list stands between caption and number.
    QLayout *layout = field.widget->layout();
    QCOMPARE(layout->count(), 3);
    QCOMPARE(layout->indexOf(field.widget->GetLabel()), 0);
    QCOMPARE(layout->indexOf(field.list), 1);
    for (const QString &step : steps.split(' ', Qt::SkipEmptyParts))
        field.run(step);
    QCOMPARE(field.widget->GetValue(), text);
    QCOMPARE(field.ticks(), ticks);
}

void tst_FlagList::clickRecoloursNumber()
{
    // Writing the number from the ticks must not silence the line edit's own
    // validation along with the tick-following.
    FlagField field(false, zem::kIOEventsRstValues);
    QVERIFY(QTest::qWaitForWindowExposed(field.widget.get()));
    field.run("t99999");
    QCOMPARE(field.widget->GetEdit()->palette().color(QPalette::Base), QColor(Qt::red));
    field.run("b0");
    QCOMPARE(field.widget->GetValue(), QString("14"));
    QCOMPARE(field.widget->GetEdit()->palette().color(QPalette::Base), QColor(Qt::white));
    field.run("t5");
    QCOMPARE(field.ticks(), QString("1010"));
}

QTEST_MAIN(tst_FlagList)
#include "tst_flaglist.moc"
