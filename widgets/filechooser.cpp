#include "filechooser.h"

#include <QFileDialog>

QString FileChooser::openFileName(const Question &q)
{
    return QFileDialog::getOpenFileName(q.parent, q.caption, q.directory, q.filter);
}

QString FileChooser::saveFileName(const Question &q, QString *selectedFilter)
{
    return QFileDialog::getSaveFileName(q.parent, q.caption, q.directory, q.filter, selectedFilter);
}
