#include "iopanel.h"
#include "ui_iopanel.h"

#include "base_io_widget.h"
#include "recording.h"

iopanel::iopanel(QWidget *parent, const QString &name)
    : QWidget(parent)
    , name(name)
    , ui(new Ui::iopanel)
    , logFile(name + QStringLiteral(".log"))
{
    ui->setupUi(this);
    sendButton = ui->PushButton;
    getterButton = ui->GetterBtn;

    // However narrow the window, each pane keeps room for a field's name
    // and its value; longer values scroll within the pane.
    const int pane = fontMetrics().averageCharWidth() * 30;
    ui->scrollArea->setMinimumWidth(pane);
    ui->scrollArea_2->setMinimumWidth(pane);
    ui->scrollArea->hide();
    ui->scrollArea_2->hide();
    ui->GetterBtn->hide();

    // Periods are short enough (from 100 ms) that coarse timers would drift visibly.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &iopanel::PeriodicUpdate);
    connect(ui->PeriodicButton, &QPushButton::clicked, this, &iopanel::PeriodicButtonClicked);
}

iopanel::~iopanel()
{
    timer.stop();
    logFile.close();
    delete ui;
}

void iopanel::AddRequest(base_io_widget *w)
{
    ui->verticalLayout->addWidget(w);
    requests.append(w);
    ui->scrollArea->show();
}

void iopanel::AddResponse(base_io_widget *w)
{
    ui->verticalLayout_2->addWidget(w);
    responses.append(w);
    ui->scrollArea_2->show();
}

void iopanel::ShowGetter()
{
    ui->GetterBtn->show();
}

void iopanel::PeriodicButtonClicked()
{
    if (timer.isActive()) {
        timer.stop();
        logFile.close();
        ui->PeriodicButton->setText(tr("Periodic"));
        return;
    }
    ui->PeriodicButton->setText(tr("Stop"));
    if (logFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        QByteArray header;
        for (base_io_widget *w : std::as_const(responses))
            header += (w->GetName() + '(' + w->GetType() + ") ").toLatin1();
        writeLogLine(header);
    } else {
        // The command still repeats; the user must know its log is not kept.
        emit logMessage(tr("Cannot open %1: %2").arg(logFile.fileName(), logFile.errorString()),
            LogLevel::Failure);
    }
    timer.start(ui->FreqBox->value());
}

void iopanel::PeriodicUpdate()
{
    // Not click(), which a disabled button ignores: a search without a match
    // disables the page, and its repetition must still ask the device rather
    // than log the last texts again.
    {
        const zem::calls::OriginScope periodic(zem::calls::Origin::Periodic);
        emit sendButton->clicked(false);
    }
    if (!logFile.isOpen())
        return;
    QByteArray line;
    for (base_io_widget *w : std::as_const(responses))
        line += (w->GetValue() + ' ').toLatin1();
    writeLogLine(line);
}

// Every line goes to disk at once, so a crash loses none that were taken.
void iopanel::writeLogLine(const QByteArray &line)
{
    if (logFile.write(line + '\n') == line.size() + 1 && logFile.flush())
        return;
    emit logMessage(tr("Cannot write %1: %2; periodic logging stopped")
                        .arg(logFile.fileName(), logFile.errorString()),
        LogLevel::Failure);
    logFile.close();
}
