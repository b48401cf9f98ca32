#include "container.h"
#include "ui_container.h"

Container::Container(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Container)
{
    ui->setupUi(this);
    connect(ui->listWidget, &QListWidget::currentItemChanged, this, &Container::ItemChanged);
}

Container::~Container()
{
    delete ui;
}

void Container::AddPage(QWidget *page, const QString &name)
{
    ui->listWidget->addItem(name);
    ui->stackedWidget->addWidget(page);
    pages[name] = page;
    ui->listWidget->setCurrentRow(0);
}

void Container::AddPage(const QString &name, std::function<QWidget *()> make)
{
    makers[name] = std::move(make);
    ui->listWidget->addItem(name);
    ui->listWidget->setCurrentRow(0);
}

QWidget *Container::page(const QString &name)
{
    if (QWidget *made = pages.value(name))
        return made;
    const auto maker = makers.find(name);
    if (maker == makers.end())
        return nullptr;
    const std::function<QWidget *()> make = std::move(*maker);
    makers.erase(maker);
    QWidget *made = make();
    ui->stackedWidget->addWidget(made);
    pages[name] = made;
    return made;
}

void Container::ItemChanged(QListWidgetItem *Current, QListWidgetItem *Prev)
{
    Q_UNUSED(Prev);
    // The list reports no current item while it is emptied or torn down.
    if (!Current)
        return;
    if (QWidget *shown = page(Current->text()))
        ui->stackedWidget->setCurrentWidget(shown);
}

void Container::Search(const QString &text)
{
    QListWidget *list = ui->listWidget;
    if (list->count() == 0) {
        ui->stackedWidget->setEnabled(false);
        return;
    }
    int match = -1;
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        const bool contains = item->text().contains(text, Qt::CaseSensitive);
        item->setHidden(!contains);
        if (contains)
            match = row;
    }
    ui->stackedWidget->setEnabled(match >= 0);
    if (match >= 0)
        list->setCurrentRow(match);
}
