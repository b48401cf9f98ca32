#include "intarrinput.h"
#include "ui_intarrinput.h"
#include "validintlineedit.h"

#include <QBoxLayout>
#include <QStringList>

#include <algorithm>

IntArrInput::IntArrInput(
    QWidget *parent, const QString &name, const QString &type, uint8_t min, uint8_t max, int count)
    : base_io_widget(name, type, parent)
    , ui(new Ui::IntArrInput)
    , count(count)
{
    ui->setupUi(this);
    SetLabel(ui->Label);
    auto *box = new QBoxLayout(QBoxLayout::TopToBottom);
    setLayout(box);
    auto *edit = new ValidIntLineEdit(this, min, max, count);
    SetEdit(edit);
    box->addWidget(ui->Label, 1);
    box->addWidget(edit, 5);
}

IntArrInput::~IntArrInput()
{
    delete ui;
}

void IntArrInput::GetArray(uint8_t *buffer) const
{
    // Empty parts (doubled, leading or trailing spaces) read as 0 and out of
    // range numbers are cut to 8 bits: the text is sent as it stands, red or not.
    const QStringList parts = GetValue().split(QLatin1Char(' '));
    const int n = std::min<int>(parts.size(), count);
    for (int i = 0; i < n; ++i)
        buffer[i] = uint8_t(parts[i].toInt(nullptr, 10));
}
