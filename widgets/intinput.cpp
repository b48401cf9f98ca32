#include "intinput.h"
#include "ui_intinput.h"
#include "validintlineedit.h"

#include <QBoxLayout>

#include <algorithm>
#include <functional>

IntInput::IntInput(
    QWidget *parent, const QString &name, const QString &type, uint8_t min, uint8_t max)
    : base_io_widget(name, type, parent)
    , ui(new Ui::intinput)
{
    build(min, max);
}

IntInput::IntInput(
    QWidget *parent, const QString &name, const QString &type, uint16_t min, uint16_t max)
    : base_io_widget(name, type, parent)
    , ui(new Ui::intinput)
{
    build(min, max);
}

IntInput::IntInput(
    QWidget *parent, const QString &name, const QString &type, uint32_t min, uint32_t max)
    : base_io_widget(name, type, parent)
    , ui(new Ui::intinput)
{
    build(min, max);
}

IntInput::~IntInput()
{
    delete ui;
}

template <class T> void IntInput::build(T min, T max)
{
    ui->setupUi(this);
    SetLabel(ui->Label);
    auto *box = new QBoxLayout(QBoxLayout::TopToBottom);
    setLayout(box);
    box->addWidget(ui->Label, 1);
    auto *edit = new ValidIntLineEdit(this, min, max, 0);
    SetEdit(edit);
    box->addWidget(edit, 5);
}

void IntInput::AddFlag(const QString &name, int value)
{
    if (!flagList) {
        flagList = new MultiListWidget;
        connect(flagList, &QListWidget::itemClicked, this, &IntInput::cBoxChanged);
        connect(GetEdit(), &QLineEdit::textChanged, this, &IntInput::EditChanged);
        // The list goes between caption and number.
        auto *box = static_cast<QBoxLayout *>(layout());
        box->addWidget(flagList);
        box->removeWidget(GetEdit());
        box->addWidget(GetEdit());
        setMaximumHeight(1000);
    }
    flagValues.insert(name, value);
    flagOrder.append({ value, name });
    std::sort(flagOrder.begin(), flagOrder.end(), std::greater<>());
    // Until the text first changes, every name of an input stays ticked.
    flagList->AddItem(name);
}

void IntInput::cBoxChanged()
{
    // Writing the number must not move the ticks the user just set, yet the
    // line edit must still recolour: only the tick-following connection is cut.
    disconnect(GetEdit(), &QLineEdit::textChanged, this, &IntInput::EditChanged);
    quint32 bits = 0;
    for (const QString &name : flagList->CheckedItems())
        bits |= quint32(flagValues.value(name));
    GetEdit()->setText(QString::number(qint32(bits)));
    connect(GetEdit(), &QLineEdit::textChanged, this, &IntInput::EditChanged);
}

void IntInput::EditChanged()
{
    if (flagList)
        flagList->ShowBits(flagOrder, GetEdit()->text().toLongLong(nullptr, 10));
}
