#include "base_io_widget.h"

#include <QLabel>
#include <QLineEdit>

base_io_widget::base_io_widget(const QString &name, const QString &type, QWidget *parent)
    : QWidget(parent)
    , name(name)
    , type(type)
{
}

QString base_io_widget::GetValue() const
{
    return edit->text();
}

QString base_io_widget::GetType() const
{
    return type;
}

QString base_io_widget::GetName() const
{
    return name;
}

void base_io_widget::SetValue(const QString &text)
{
    edit->setText(text);
}

void base_io_widget::SetEdit(QLineEdit *lineEdit)
{
    edit = lineEdit;
}

void base_io_widget::SetLabel(QLabel *caption)
{
    label = caption;
    label->setText(tr("%1 type: %2").arg(name, type));
}
