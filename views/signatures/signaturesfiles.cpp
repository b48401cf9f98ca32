// The Signatures dock's files: a new, opened or saved signature and its
// report, each through the document, which checks what may be written.
#include "signaturesdock.h"
#include "ui_signaturesdock.h"

#include "dockcontext.h"
#include "runcontroller.h"
#include "savequestion.h"
#include "signaturedocument.h"

bool SignaturesDock::maybeSave()
{
    if (!isModified())
        return true;
    const QString board = signature().board;
    return askToSave(this, tr("Signatures"),
        board.isEmpty() ? tr("The signature has changes that are not saved.")
                        : tr("The signature of %1 has changes that are not saved.").arg(board),
        [this] { return saveDialog(); });
}

void SignaturesDock::newSignature()
{
    buildUi();
    m_document->clear();
    plot(nullptr, nullptr);
    setStatus(QString());
}

bool SignaturesDock::openFile(const QString &file)
{
    buildUi();
    if (!m_document->open(file)) {
        fail(m_document->errorString());
        return false;
    }
    opened(file);
    return true;
}

void SignaturesDock::opened(const QString &file)
{
    setStatus(tr("Opened %1: %2 points").arg(file).arg(signature().points.size()));
    for (const QString &w : signature().warnings)
        emit logMessage(tr("Signatures: %1: %2").arg(file, w), LogLevel::Failure);
}

void SignaturesDock::openFileInBackground(const QString &file)
{
    buildUi();
    setStatus(tr("Opening %1...").arg(file));
    m_document->openInBackground(file);
}

bool SignaturesDock::saveFile(const QString &file)
{
    if (!m_document->save(file)) {
        fail(m_document->errorString());
        return false;
    }
    setStatus(tr("Saved %1").arg(file));
    return true;
}

bool SignaturesDock::writeReport(const QString &file)
{
    if (!m_run->writeReport(file)) {
        fail(m_document->errorString());
        return false;
    }
    setStatus(tr("Report written to %1").arg(file));
    return true;
}

void SignaturesDock::openDialog()
{
    if (!maybeSave())
        return;
    const QString file = m_context.files().openFileName({ this, tr("Open signature"),
        m_document->path(), tr("Signature files (*.json);;All files (*)") });
    if (!file.isEmpty())
        openFileInBackground(file);
}

bool SignaturesDock::saveDialog()
{
    return m_document->path().isEmpty() ? saveAsDialog() : saveFile(m_document->path());
}

bool SignaturesDock::saveAsDialog()
{
    const QString file = m_context.files().saveFileName({ this, tr("Save signature"),
        m_document->path(), tr("Signature files (*.json);;All files (*)") });
    return !file.isEmpty() && saveFile(file);
}

void SignaturesDock::reportDialog()
{
    const QString file = m_context.files().saveFileName(
        { this, tr("Write report"), QString(), tr("HTML files (*.html);;All files (*)") });
    if (!file.isEmpty())
        writeReport(file);
}
