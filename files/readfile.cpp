#include "readfile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zem::files {

namespace {

std::string sizeText(std::size_t bytes)
{
    if (bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes % (1u << 10) == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

std::string readFile(
    const std::string &path, std::size_t limit, const char *what, std::string &bytes, Accept accept)
{
    bytes.clear();
    // Opening a FIFO waits for its writer; O_NONBLOCK lets it be told apart
    // first. A regular file reads the same either way.
    const bool regularOnly = accept == Accept::RegularFile;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0));
    if (fd < 0)
        return "cannot read " + path + ": " + std::strerror(errno);
    struct stat info
    {
    };
    int error = ::fstat(fd, &info) == 0 ? 0 : errno;
    if (error == 0 && S_ISDIR(info.st_mode))
        error = EISDIR;
    if (error == 0 && regularOnly && !S_ISREG(info.st_mode)) {
        ::close(fd);
        return path + ": not a regular file, as " + what + " must be";
    }
    // A regular file says its size; other files are known only by reading.
    bool tooLarge = error == 0 && S_ISREG(info.st_mode) && std::size_t(info.st_size) > limit;
    if (error == 0 && !tooLarge && S_ISREG(info.st_mode))
        bytes.reserve(std::size_t(info.st_size));
    char chunk[1 << 16];
    while (error == 0 && !tooLarge) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        tooLarge = bytes.size() + std::size_t(n) > limit;
        if (!tooLarge)
            bytes.append(chunk, std::size_t(n));
    }
    ::close(fd);
    if (error == 0 && !tooLarge)
        return {};
    bytes.clear();
    bytes.shrink_to_fit();
    if (tooLarge)
        return path + ": larger than " + sizeText(limit) + ", the limit for " + what;
    return "cannot read " + path + ": " + std::strerror(error);
}

} // namespace zem::files
