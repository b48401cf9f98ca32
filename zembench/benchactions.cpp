// The bench's menus and dialogs. Every action has a key; Help > Keys lists
// them from the actions themselves, so the list is never out of date.
#include "benchwindow.h"
#include "ui_benchwindow.h"

#include "dockcontext.h"
#include "runcontroller.h"
#include "savequestion.h"
#include "signaturedocument.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

void BenchWindow::buildMenus()
{
    const auto add = [this](QMenu *menu, const QString &text, const QKeySequence &key, auto slot) {
        QAction *a = menu->addAction(text, this, slot);
        a->setShortcut(key);
        return a;
    };
    QMenu *file = menuBar()->addMenu(tr("&File"));
    add(file, tr("&Open board..."), QKeySequence::Open, &BenchWindow::openDialog);
    m_recentMenu = file->addMenu(tr("Open &recent"));
    fillRecentBoards();
    add(file, tr("&Save board"), QKeySequence::Save, &BenchWindow::saveDialog);
    add(file, tr("Write &report..."), QKeySequence(tr("Ctrl+R")), &BenchWindow::reportDialog);
    buildPrediction(file);
    file->addSeparator();
    add(file, tr("&Quit"), QKeySequence(tr("Ctrl+Q")), &QWidget::close);

    QMenu *device = menuBar()->addMenu(tr("&Device"));
    add(device, tr("&URL"), QKeySequence(tr("Ctrl+L")), [this] {
        ui->urlCombo->setFocus();
        ui->urlCombo->lineEdit()->selectAll();
    });
    add(device, tr("&Connect"), QKeySequence(tr("Ctrl+K")), [this] { ui->connectButton->click(); });

    QMenu *run = menuBar()->addMenu(tr("&Run"));
    add(run, tr("Next &board: the serial"), QKeySequence(tr("Ctrl+N")), [this] {
        ui->benchTabs->setCurrentWidget(ui->testPage);
        ui->serialEdit->setFocus();
        ui->serialEdit->selectAll();
    });
    add(run, tr("&Operator"), QKeySequence(tr("Ctrl+U")), [this] {
        ui->operatorEdit->setFocus();
        ui->operatorEdit->selectAll();
    });
    add(run, tr("&Start"), QKeySequence(Qt::Key_F5), &BenchWindow::startRun);
    add(run, tr("S&top"), QKeySequence(Qt::Key_Escape), &BenchWindow::stopRun);
    // Space is the Test tab's own key (it types a space elsewhere); listed here.
    QAction *measureAction
        = run->addAction(tr("&Measure (Space, or %1)").arg(m_context->settings().measureKey()));
    connect(measureAction, &QAction::triggered, this, &BenchWindow::measure);
    run->addSeparator();
    const QStringList modes = { tr("&Test"), tr("&Learn"), tr("&Compare alike") };
    for (int k = 0; k < modes.size(); ++k)
        add(run, tr("Mode: %1").arg(modes[k]), QKeySequence(tr("Ctrl+%1").arg(k + 1)),
            [this, k] { setMode(k); });
    add(run, tr("Captures: one &more"), QKeySequence(tr("Ctrl+=")),
        [this] { ui->capturesBox->stepUp(); });
    add(run, tr("Captures: one &fewer"), QKeySequence(tr("Ctrl+-")),
        [this] { ui->capturesBox->stepDown(); });
    add(run, tr("Measure on &contact"), QKeySequence(tr("Ctrl+J")),
        [this] { ui->onContactCheck->toggle(); });

    QMenu *view = menuBar()->addMenu(tr("&View"));
    add(view, tr("&Test"), QKeySequence(tr("Ctrl+T")),
        [this] { ui->benchTabs->setCurrentWidget(ui->testPage); });
    add(view, tr("&History"), QKeySequence(tr("Ctrl+H")),
        [this] { ui->benchTabs->setCurrentWidget(ui->historyTab); });
    add(view, tr("&Points"), QKeySequence(tr("Ctrl+P")), [this] {
        ui->benchTabs->setCurrentWidget(ui->testPage);
        ui->pointsTable->setFocus();
    });

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    add(help, tr("&Keys"), QKeySequence(Qt::Key_F1), &BenchWindow::showKeys);
    help->addAction(tr("&About zem_bench"), this, [this] {
        QMessageBox::about(this, tr("About zem_bench"),
            tr("<p><b>zem_bench</b> %1</p><p>Tests boards against their signatures on a ZEM "
               "instrument: scan a serial, probe each point, read the verdict.</p>")
                .arg(QCoreApplication::applicationVersion()));
    });

    // The whole screen the first time (less its frame), never more than it.
    const QScreen *screen = this->screen();
    const QRect room = screen ? screen->availableGeometry().adjusted(0, 0, -16, -48) : QRect();
    if (!Settings::kept() || !restoreGeometry(m_context->settings().windowGeometry()))
        if (room.isValid())
            resize(room.size());
    if (room.isValid())
        resize(std::min(width(), room.width()), std::min(height(), room.height()));
}

void BenchWindow::fillRecentBoards()
{
    m_recentMenu->clear();
    const QStringList files = m_context->settings().recentSignatures();
    for (const QString &file : files)
        m_recentMenu->addAction(QFileInfo(file).fileName(), this, [this, file] { openBoard(file); })
            ->setToolTip(file);
    m_recentMenu->setEnabled(!files.isEmpty());
}

void BenchWindow::showKeys()
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("keysDialog"));
    dialog.setWindowTitle(tr("Keys"));
    auto *table = new QTableWidget(0, 2, &dialog);
    table->setHorizontalHeaderLabels({ tr("Key"), tr("What it does") });
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const auto row = [table](const QString &key, const QString &what) {
        const int r = table->rowCount();
        table->insertRow(r);
        table->setItem(r, 0, new QTableWidgetItem(key));
        table->setItem(r, 1, new QTableWidgetItem(what));
    };
    row(tr("Return in the serial"), tr("Start the test; the keys go to the probing"));
    row(tr("Return in the URL"), tr("Connect"));
    row(tr("Space"), tr("Measure the point under the probe (Test tab)"));
    row(m_context->settings().measureKey(), tr("Measure, wherever the focus is (foot switch)"));
    for (QAction *menu : menuBar()->actions())
        for (QAction *a : menu->menu()->actions())
            if (!a->shortcut().isEmpty())
                row(a->shortcut().toString(QKeySequence::NativeText),
                    QString(a->text()).remove(QLatin1Char('&')));
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(table);
    layout->addWidget(buttons);
    dialog.resize(520, 560);
    dialog.exec();
}

void BenchWindow::setMode(int mode)
{
    if (!m_run->isRunning())
        ui->modeCombo->setCurrentIndex(mode);
}

void BenchWindow::openDialog()
{
    const QString file = m_context->files().openFileName({ this, tr("Open board"),
        m_document->path(), tr("Signature files (*.json);;All files (*)") });
    if (!file.isEmpty())
        openBoard(file);
}

bool BenchWindow::saveDialog()
{
    QString file = m_document->path();
    if (file.isEmpty())
        file = m_context->files().saveFileName(
            { this, tr("Save board"), QString(), tr("Signature files (*.json);;All files (*)") });
    return !file.isEmpty() && saveBoard(file);
}

void BenchWindow::reportDialog()
{
    // Named after the board, its serial and the test's time, so that a
    // folder of reports sorts by board and then by time.
    const sig::RunHeader &info = m_run->record().header;
    QString name = m_document->signature().board;
    if (!info.serial.isEmpty())
        name += QLatin1Char('-') + info.serial;
    if (info.started.isValid())
        name += info.started.toLocalTime().toString(QStringLiteral("-yyyyMMdd-HHmmss"));
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QString folder = m_document->path().isEmpty()
        ? QString()
        : QFileInfo(m_document->path()).absolutePath() + QLatin1Char('/');
    const QString file = m_context->files().saveFileName({ this, tr("Write report"),
        folder + name + QStringLiteral(".html"), tr("HTML files (*.html);;All files (*)") });
    if (!file.isEmpty())
        writeReport(file);
}

bool BenchWindow::maybeSave()
{
    if (!m_document->isModified())
        return true;
    return askToSave(this, tr("zem_bench"),
        tr("The references learned for %1 are not saved.").arg(m_document->signature().board),
        [this] { return saveDialog(); });
}
