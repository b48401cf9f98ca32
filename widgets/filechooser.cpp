#include "filechooser.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

QString withTypeExtension(const QString &name, const QString &filter)
{
    if (name.isEmpty() || !QFileInfo(name).suffix().isEmpty())
        return name;
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9_]+)"));
    const QRegularExpressionMatch m = pattern.match(filter);
    return m.hasMatch() ? name + QLatin1Char('.') + m.captured(1) : name;
}

QString FileChooser::openFileName(const Question &q)
{
    // Whatever the types offered, any file can be chosen.
    QString filter = q.filter;
    if (!q.asTyped && !filter.contains(QLatin1String("(*)")))
        filter += (filter.isEmpty() ? QString() : QStringLiteral(";;"))
            + QCoreApplication::translate("FileChooser", "All files (*)");
    return QFileDialog::getOpenFileName(q.parent, q.caption, q.directory, filter);
}

QString FileChooser::saveFileName(const Question &q, QString *selectedFilter)
{
    if (q.asTyped)
        return QFileDialog::getSaveFileName(q.parent, q.caption, q.directory, q.filter);
    QString picked;
    const QString name
        = QFileDialog::getSaveFileName(q.parent, q.caption, q.directory, q.filter, &picked);
    if (selectedFilter)
        *selectedFilter = picked;
    return withTypeExtension(
        name, picked.isEmpty() ? q.filter.section(QStringLiteral(";;"), 0, 0) : picked);
}
