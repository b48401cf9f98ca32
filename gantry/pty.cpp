#include "pty.h"

#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace gantry {

Pty::Pty(QObject *parent)
    : QObject(parent)
{
}

Pty::~Pty()
{
    if (!link_.isEmpty())
        ::unlink(QFile::encodeName(link_).constData());
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool Pty::open(const QString &link, QString *error)
{
    auto fail = [&](const QString &what) {
        *error = what + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail("cannot open a pseudo-terminal");
    const char *name = ::ptsname(master_);
    if (!name)
        return fail("cannot open a pseudo-terminal");
    const QByteArray slavePath(name);
    slave_ = ::open(slavePath.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        return fail(QString::fromLocal8Bit(slavePath));
    // Raw bytes both ways: no echo, no line editing, no newline translation.
    termios t {};
    if (::tcgetattr(slave_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
    }
    // Only a link left by an earlier run is replaced, never another file.
    const QByteArray linkPath = QFile::encodeName(link);
    if (QFileInfo(link).isSymLink())
        ::unlink(linkPath.constData());
    if (::symlink(slavePath.constData(), linkPath.constData()) != 0)
        return fail(link);
    link_ = link;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &Pty::read);
    return true;
}

void Pty::read()
{
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0)
        emit received(QByteArray(buffer, int(n)));
}

void Pty::write(const QByteArray &bytes)
{
    // A client that reads nothing cannot block the machine: what does not fit
    // into the terminal's buffer is lost, as on a serial line.
    if (master_ >= 0 && ::write(master_, bytes.constData(), std::size_t(bytes.size())) < 0) { }
}

} // namespace gantry
