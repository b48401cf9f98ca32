#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "container.h"
#include "devicecalls.h"

#include <QTime>
#include <QTimer>

// The icon lives in a static library, whose resources the linker drops unless
// something refers to them.
static void initResources()
{
    Q_INIT_RESOURCE(zem);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    initResources();
    ui->setupUi(this);

    // Where the named family is missing, fall back to a fixed-pitch font so
    // the time stamps stay aligned.
    QFont logFont = ui->LogWidget->font();
    logFont.setStyleHint(QFont::TypeWriter);
    ui->LogWidget->setFont(logFont);

    log = ui->LogWidget;
    connect(ui->ClearBtn, &QPushButton::clicked, log, &QListWidget::clear);
    // Scrolling makes the list lay out every row; doing it once per pass of the
    // event loop rather than once per line keeps a burst of lines linear.
    logScroll = new QTimer(this);
    logScroll->setSingleShot(true);
    logScroll->setInterval(0);
    connect(logScroll, &QTimer::timeout, log, &QListWidget::scrollToBottom);

    urlEdit = ui->comEdit;
    connect(ui->cntButton, &QPushButton::clicked, this, &MainWindow::connectButton);
    connect(ui->dcntButton, &QPushButton::clicked, this, &MainWindow::dconnectButton);
    urlEdit->setToolTip(tr("Example:\ncom:\\\\.\\COM12\nvu-net://%1/%2")
                            .arg(QStringLiteral("192.168.1.10"), QStringLiteral("00001234")));

    browser = new Container;
    ui->verticalLayout->addWidget(browser);

    connect(ui->SearchEdit, &QLineEdit::textChanged, this, &MainWindow::SearchSlot);
    connect(ui->GetProfileBtn, &QPushButton::clicked, this, &MainWindow::GetProfileSlot);
    connect(ui->SetProfileBtn, &QPushButton::clicked, this, &MainWindow::SetProfileSlot);
}

MainWindow::~MainWindow()
{
    closeDevice(device);
    delete ui;
}

void MainWindow::AddLog(const QString &message)
{
    log->addItem(
        tr("%1: %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), message));
    if (!logScroll->isActive())
        logScroll->start();
}

void MainWindow::connectButton()
{
    closeDevice(device);
    const QString url = urlEdit->text();
    device = openDevice(url.toLatin1());
    if (device == -1) {
        closeDevice(device);
        AddLog(tr("%1 device undefined").arg(url));
    } else {
        AddLog(tr("%1 connect").arg(url));
    }
}

void MainWindow::dconnectButton()
{
    closeDevice(device);
    AddLog(tr("Disconnect %1").arg(urlEdit->text()));
}

void MainWindow::SearchSlot(const QString &str)
{
    browser->Search(str);
}

void MainWindow::GetProfileSlot()
{
    // Saving the device's profile to a file comes with the command pages.
}

void MainWindow::SetProfileSlot()
{
    // Loading a profile file into the device comes with the command pages.
}
