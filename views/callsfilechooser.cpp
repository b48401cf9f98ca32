#include "callsfilechooser.h"

#include <QCoreApplication>
#include <QFileDialog>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CallsFileChooser", text);
}

const char *const kFilter
    = QT_TRANSLATE_NOOP("CallsFileChooser", "Call files (*.jsonl);; All files (*)");

} // namespace

QString CallsFileChooser::saveFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(
        parent, tr("Save calls..."), QStringLiteral("calls.jsonl"), tr(kFilter));
}

QString CallsFileChooser::openFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(parent, tr("Open calls..."), QString(), tr(kFilter));
}
