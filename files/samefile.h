// Whether two paths name one file, for Qt callers: the same file by inode
// when both exist (a hard link, a symbolic link), else the same absolute
// path with its folder's links resolved.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/stat.h>

namespace zem::files {

inline QString absolutePath(const QString &path)
{
    const QFileInfo file(path);
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(file.absoluteFilePath())
                            : folder + QLatin1Char('/') + file.fileName();
}

inline bool sameFile(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    struct stat x
    {
    }, y {};
    if (::stat(QFile::encodeName(a).constData(), &x) == 0
        && ::stat(QFile::encodeName(b).constData(), &y) == 0)
        return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    return absolutePath(a) == absolutePath(b);
}

} // namespace zem::files
