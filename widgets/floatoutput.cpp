#include "floatoutput.h"
#include "ui_floatoutput.h"

FloatOutput::FloatOutput(QWidget *parent, const QString &name, const QString &type)
    : base_io_widget(name, type, parent)
    , ui(new Ui::FloatOutput)
{
    ui->setupUi(this);
    SetLabel(ui->Label);
    SetEdit(ui->FloatEdit);
}

FloatOutput::~FloatOutput()
{
    delete ui;
}

void FloatOutput::SetFloat(float value)
{
    GetEdit()->setText(QString::number(double(value), 'g', 6));
}
