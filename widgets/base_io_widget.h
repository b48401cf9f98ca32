#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;

// The widget of one record field: a caption naming the field and its type,
// and one line edit holding the value as text.
class base_io_widget : public QWidget
{
    Q_OBJECT

public:
    explicit base_io_widget(const QString &name, const QString &type, QWidget *parent = nullptr);

    QLineEdit *GetEdit() const { return edit; }
    QLabel *GetLabel() const { return label; }

public slots:
    virtual QString GetValue() const;
    virtual QString GetType() const;
    virtual QString GetName() const;
    virtual void SetValue(const QString &text);

protected:
    void SetEdit(QLineEdit *lineEdit);
    void SetLabel(QLabel *caption);

private:
    QString name;
    QString type;
    QLabel *label = nullptr;
    QLineEdit *edit = nullptr;
};
