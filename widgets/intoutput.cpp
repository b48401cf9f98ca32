#include "intoutput.h"
#include "ui_intoutput.h"

#include <algorithm>
#include <functional>

IntOutput::IntOutput(QWidget *parent, const QString &name, const QString &type)
    : base_io_widget(name, type, parent)
    , ui(new Ui::IntOutput)
{
    ui->setupUi(this);
    SetLabel(ui->Label);
    SetEdit(ui->IntEdit);
}

IntOutput::~IntOutput()
{
    delete ui;
}

void IntOutput::AddFlag(const QString &name, int value)
{
    if (!flagList) {
        flagList = new MultiListWidget;
        flagList->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(GetEdit(), &QLineEdit::textChanged, this, &IntOutput::EditChanged);
        // The list goes between caption and number.
        ui->verticalLayout->addWidget(flagList);
        ui->verticalLayout->removeWidget(GetEdit());
        ui->verticalLayout->addWidget(GetEdit());
        setMaximumHeight(1000);
    }
    flagValues.insert(name, value);
    flagList->AddItem(name);
    flagOrder.append({ value, name });
    std::sort(flagOrder.begin(), flagOrder.end(), std::greater<>());
    EditChanged();
    QListWidgetItem *added = flagList->item(flagList->count() - 1);
    added->setFlags(added->flags() & ~Qt::ItemIsUserCheckable);
}

void IntOutput::EditChanged()
{
    if (flagList)
        flagList->ShowBits(flagOrder, GetEdit()->text().toLongLong(nullptr, 10));
}
