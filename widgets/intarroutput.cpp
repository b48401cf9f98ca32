#include "intarroutput.h"
#include "ui_intarroutput.h"

IntArrOutput::IntArrOutput(QWidget *parent, const QString &name, const QString &type)
    : base_io_widget(name, type, parent)
    , ui(new Ui::IntArrOutput)
{
    ui->setupUi(this);
    SetLabel(ui->Label);
    SetEdit(ui->IntEdit);
}

IntArrOutput::~IntArrOutput()
{
    delete ui;
}

void IntArrOutput::SetArray(const uint8_t *elements, int count)
{
    show(elements, count);
}

void IntArrOutput::SetArray(const uint16_t *elements, int count)
{
    show(elements, count);
}

template <class T> void IntArrOutput::show(const T *elements, int count)
{
    QString text;
    text.reserve(count * 6);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        text += QString::number(elements[i], 10);
    }
    GetEdit()->setText(text);
}
