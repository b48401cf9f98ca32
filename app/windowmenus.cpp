// The window's File and Help menus, and the docks' layout kept between runs.
#include "mainwindow.h"

#include "dockcontext.h"
#include "docklayout.h"
#include "signaturesdock.h"
#include "zem.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include <dlfcn.h>

namespace {

// The file the zem library was loaded from: a vendor's may stand in for ours.
QString zemLibraryPath()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void *>(&zem_open_device), &info) && info.dli_fname)
        return QFile::decodeName(info.dli_fname);
    return QString();
}

} // namespace

void MainWindow::setupMenus()
{
    SignaturesDock *signatures = m_signatures;
    QMenu *file = new QMenu(tr("&File"), menuBar());
    file->setObjectName(QStringLiteral("fileMenu"));
    menuBar()->insertMenu(menuBar()->actions().value(0), file);
    m_recentSignatures = file->addMenu(tr("Recent signature files"));
    m_recentSignatures->setObjectName(QStringLiteral("recentSignaturesMenu"));
    file->addSeparator();
    QAction *quit = file->addAction(tr("&Quit"), this, &QWidget::close);
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence::Quit);
    connect(signatures, &SignaturesDock::fileUsed, this, &MainWindow::noteSignatureFile);
    fillRecentSignatures();

    QMenu *view = menuBar()->findChild<QMenu *>(QStringLiteral("viewMenu"));
    view->addSeparator();
    QAction *reset = view->addAction(tr("Default layout"), this, [this] {
        restoreState(m_defaultLayout);
        fitScreen();
    });
    reset->setObjectName(QStringLiteral("defaultLayoutAction"));

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    // F1 is the window's own shortcut already.
    help->addAction(tr("Keys\tF1"), this, &MainWindow::showKeys);
    help->addAction(tr("About zem_debugger"), this, &MainWindow::showAbout);

    // Whatever a dock holds, it gives way before the pages do.
    for (QDockWidget *dock : std::as_const(m_docks))
        letDockShrink(*dock);
    m_defaultLayout = saveState();
    if (Settings::kept()) {
        if (!restoreGeometry(m_context->settings().windowGeometry()))
            fitScreen();
        restoreState(m_context->settings().dockLayout());
    }
}

void MainWindow::fitScreen()
{
    fitWindowToScreen(*this, m_docks);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_signatures->maybeSave()) {
        event->ignore();
        return;
    }
    m_context->settings().setWindow(saveGeometry(), saveState());
    QMainWindow::closeEvent(event);
}

void MainWindow::noteSignatureFile(const QString &path)
{
    m_context->settings().noteSignature(path);
    fillRecentSignatures();
}

void MainWindow::fillRecentSignatures()
{
    m_recentSignatures->clear();
    const QStringList files = m_context->settings().recentSignatures();
    for (const QString &path : files)
        m_recentSignatures
            ->addAction(QFileInfo(path).fileName(), this,
                [this, path] {
                    SignaturesDock *signatures = m_signatures;
                    signatures->show();
                    signatures->raise();
                    if (signatures->maybeSave())
                        signatures->openFileInBackground(path);
                })
            ->setToolTip(path);
    m_recentSignatures->setEnabled(!files.isEmpty());
}

void MainWindow::showAbout()
{
    const QString library = zemLibraryPath();
    QMessageBox::about(this, tr("About zem_debugger"),
        tr("<p><b>zem_debugger</b> %1</p><p>Qt %2 (built with %3)</p><p>zem library: %4</p>")
            .arg(QCoreApplication::applicationVersion().toHtmlEscaped(),
                QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR),
                library.isEmpty() ? tr("not known") : library.toHtmlEscaped()));
}
