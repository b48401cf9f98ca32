#include "curvefilechooser.h"

#include <QCoreApplication>
#include <QFileDialog>

QString CurveFileChooser::saveFileName(
    QWidget *parent, const QStringList &filters, QString *selectedFilter)
{
    return QFileDialog::getSaveFileName(parent,
        QCoreApplication::translate("CurveFileChooser", "Export curve"),
        QStringLiteral("curve.csv"), filters.join(QStringLiteral(";;")), selectedFilter);
}
