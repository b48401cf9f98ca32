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

// Where the bytes of `path` really go, and whether they may be replaced by a
// rename: a regular file (through any symbolic links) outside /proc, whose
// entries stand for open descriptors rather than files.
bool replaceable(const std::string &path, std::string &target)
{
    struct stat link
    {
    };
    if (::lstat(path.c_str(), &link) != 0)
        return true; // a new file
    if (S_ISREG(link.st_mode)) {
        target = path;
        return true;
    }
    if (!S_ISLNK(link.st_mode))
        return false;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return true; // a dangling link: the new file takes its place
    struct stat real
    {
    };
    if (::stat(resolved, &real) != 0 || !S_ISREG(real.st_mode)
        || std::strncmp(resolved, "/proc/", 6) == 0)
        return false;
    target = resolved;
    return true;
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
    std::string target = m_path;
    if (!replaceable(m_path, target)) {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return m_fd < 0 ? fail(errno) : std::string();
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
