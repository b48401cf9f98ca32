#include "atomicfile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zem::files {

namespace {

// One of this process's own descriptors by name (/dev/stdout, /dev/fd/1,
// /proc/self/fd/1), or -1. Such a target is written through the descriptor
// itself, at its offset and with its flags, as a shell redirection expects:
// opened again by name it would be truncated, or written from its start.
int ownDescriptor(const std::string &path)
{
    if (path == "/dev/stdout")
        return STDOUT_FILENO;
    if (path == "/dev/stderr")
        return STDERR_FILENO;
    for (const char *prefix : { "/dev/fd/", "/proc/self/fd/" }) {
        const std::size_t n = std::strlen(prefix);
        if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 6)
            continue;
        int fd = 0;
        for (std::size_t i = n; i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9')
                return -1;
            fd = fd * 10 + (path[i] - '0');
        }
        return fd;
    }
    return -1;
}

enum class Target { Replace, Descriptor, Direct };

// How the bytes of `path` are written: a new file or a regular file (through
// any symbolic links) is replaced by a rename of a temporary file beside
// `real`; a link through /proc stands for an open descriptor, not for the
// file it shows, and is never replaced; anything else is written directly.
Target targetOf(const std::string &path, std::string &real, int &descriptor)
{
    std::string at = path;
    for (int hop = 0; hop < 40; ++hop) {
        descriptor = ownDescriptor(at);
        if (descriptor >= 0)
            return Target::Descriptor;
        if (at.compare(0, 6, "/proc/") == 0 || at.compare(0, 8, "/dev/fd/") == 0)
            return Target::Direct;
        struct stat link
        {
        };
        if (::lstat(at.c_str(), &link) != 0) {
            real = at; // a new file, or the one a dangling link names
            return Target::Replace;
        }
        if (S_ISREG(link.st_mode)) {
            real = at;
            return Target::Replace;
        }
        if (!S_ISLNK(link.st_mode))
            return Target::Direct;
        char text[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), text, sizeof text - 1);
        if (n <= 0)
            return Target::Direct;
        const std::string next(text, std::size_t(n));
        const std::size_t slash = at.rfind('/');
        at = next[0] == '/' || slash == std::string::npos ? next : at.substr(0, slash + 1) + next;
    }
    return Target::Direct;
}

} // namespace

AtomicFile::AtomicFile(std::string path)
    : m_path(std::move(path))
{
}

AtomicFile::~AtomicFile()
{
    cancel();
}

std::string AtomicFile::fail(int error)
{
    m_reason = std::strerror(error);
    cancel();
    return "cannot write " + m_path + ": " + m_reason;
}

std::string AtomicFile::open()
{
    cancel();
    m_error = 0;
    std::string target;
    int descriptor = -1;
    switch (targetOf(m_path, target, descriptor)) {
    case Target::Descriptor:
        m_fd = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
        return m_fd < 0 ? fail(errno) : std::string();
    case Target::Direct:
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return m_fd < 0 ? fail(errno) : std::string();
    case Target::Replace:
        break;
    }
    m_temporary = target + ".XXXXXX";
    m_fd = ::mkostemp(m_temporary.data(), O_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        m_temporary.clear();
        return fail(error);
    }
    // mkstemp makes the file private: the new file gets the old one's mode,
    // or the one a new file would get.
    struct stat old
    {
    };
    mode_t mode;
    if (::stat(target.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(m_fd, mode) != 0)
        return fail(errno);
    return {};
}

void AtomicFile::write(std::string_view bytes)
{
    if (m_fd < 0 && m_error == 0)
        m_error = EBADF;
    while (m_error == 0 && !bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            m_error = n < 0 ? errno : EIO;
        else
            bytes.remove_prefix(std::size_t(n));
    }
}

std::string AtomicFile::commit()
{
    if (m_fd < 0)
        return fail(m_error ? m_error : EBADF);
    if (m_error)
        return fail(m_error);
    // A device or a pipe has nothing to sync; a file must be on the disk
    // before it replaces the old one.
    if (!m_temporary.empty() && ::fsync(m_fd) != 0)
        return fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail(errno);
    if (m_temporary.empty())
        return {};
    const std::string target = m_temporary.substr(0, m_temporary.size() - 7);
    if (::rename(m_temporary.c_str(), target.c_str()) != 0)
        return fail(errno);
    m_temporary.clear();
    return {};
}

void AtomicFile::cancel()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

std::string writeFile(const std::string &path, std::string_view bytes)
{
    AtomicFile file(path);
    if (std::string error = file.open(); !error.empty())
        return error;
    file.write(bytes);
    return file.commit();
}

} // namespace zem::files
