#include "savefile.h"

#include "dockcontext.h"

#include <QMessageBox>

void saveWithDialog(DockContext &context, const FileChooser::Question &question,
    const QString &failureTitle, const std::function<QString(const QString &file)> &write)
{
    const QString name = context.files().saveFileName(question);
    if (name.isEmpty())
        return;
    const QString error = write(name);
    if (error.isEmpty())
        return;
    auto *box = new QMessageBox(
        QMessageBox::Warning, failureTitle, error, QMessageBox::Ok, question.parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
