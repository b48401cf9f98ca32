#include "floatarroutput.h"
#include "ui_floatarroutput.h"

FloatArrOutput::FloatArrOutput(QWidget *parent, const QString &name, const QString &type)
    : base_io_widget(name, type, parent)
    , ui(new Ui::FloatArrOutput)
{
    ui->setupUi(this);
    SetLabel(ui->Label);
    SetEdit(ui->FloatEdit);
}

FloatArrOutput::~FloatArrOutput()
{
    delete ui;
}

void FloatArrOutput::SetArray(const float *elements, int count)
{
    QString text;
    text.reserve(count * 13);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        text += QString::number(double(elements[i]), 'g', 6);
    }
    GetEdit()->setText(text);
}
