#include "floatinput.h"
#include "ui_floatinput.h"

#include <QDoubleValidator>
#include <QLocale>

FloatInput::FloatInput(
    QWidget *parent, const QString &name, const QString &type, float min, float max)
    : base_io_widget(name, type, parent)
    , ui(new Ui::FloatInput)
{
    ui->setupUi(this);
    auto *validator = new QDoubleValidator(double(min), double(max), 10, this);
    // Outputs write numbers with '.' and may use exponents ("1.23457e+06"),
    // and GetFloat reads them the same way, whatever the system locale.
    validator->setNotation(QDoubleValidator::ScientificNotation);
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    validator->setLocale(c);
    ui->FloatEdit1->setValidator(validator);
    SetLabel(ui->Label);
    SetEdit(ui->FloatEdit1);
}

FloatInput::~FloatInput()
{
    delete ui;
}

float FloatInput::GetFloat() const
{
    return GetValue().toFloat();
}
