#include "callappender.h"

#include "callfile.h"
#include "module.h"
#include "zemctl.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zemctl {

CallAppender::~CallAppender()
{
    if (fd >= 0)
        ::close(fd);
}

std::string CallAppender::open(const std::string &fileName)
{
    name = fileName;
    fd = ::open(fileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return "cannot append to " + fileName + ": " + std::strerror(errno);
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fd = -1;
        return "cannot append to " + fileName + ": not a regular file";
    }
    return {};
}

std::string CallAppender::append(const zem::calls::Call &call)
{
    if (fd < 0 || m_failed)
        return {};
    line = zem::calls::callLine(call);
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        const int error = n < 0 ? errno : EIO;
        m_failed = true;
        // Takes back the bytes written, unless another program has appended
        // since: its lines are whole and stay.
        struct stat info
        {
        };
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (done > 0 && end >= off_t(done) && ::fstat(fd, &info) == 0 && info.st_size == end)
            (void)!::ftruncate(fd, end - off_t(done));
        return "cannot write to " + name + ": " + std::strerror(error);
    }
    return {};
}

void CallAppender::record(const zem::calls::Call &call)
{
    if (const std::string failed = append(call); !failed.empty()) {
        printError(failed + "; recording stops, and so does zemctl");
        interrupted = 1;
    }
}

} // namespace zemctl
