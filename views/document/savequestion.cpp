#include "savequestion.h"

#include <QCoreApplication>
#include <QMessageBox>

bool askToSave(
    QWidget *parent, const QString &title, const QString &text, const std::function<bool()> &save)
{
    QMessageBox box(QMessageBox::Warning, title, text,
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("unsavedQuestion"));
    box.setInformativeText(QCoreApplication::translate("SignaturesDock", "Save them first?"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return save();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}
