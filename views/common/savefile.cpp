#include "savefile.h"

#include "dockcontext.h"

#include <QMessageBox>

bool saveWithDialog(DockContext &context, const FileChooser::Question &question,
    const QString &failureTitle,
    const std::function<QString(const QString &file, const QString &filter)> &write)
{
    QString filter = question.filter.section(QStringLiteral(";;"), 0, 0);
    const QString name = context.files().saveFileName(question, &filter);
    if (name.isEmpty())
        return false;
    const QString error = write(name, filter);
    if (error.isEmpty())
        return true;
    auto *box = new QMessageBox(
        QMessageBox::Warning, failureTitle, error, QMessageBox::Ok, question.parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return false;
}
