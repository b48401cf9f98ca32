// Device profiles, by the window's rules: the file is replaced atomically
// and only when the device delivered a profile (0 or -3); files larger than
// the limit are refused before they are read.
#include "zemctl.h"

#include "atomicfile.h"
#include "zem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zemctl {

// The window's limit for profile files.
inline constexpr long long kMaxProfileFileSize = 64LL << 20;

int profileGetMain(Context &context, const std::string &fileName)
{
    if (!context.openDevice())
        return kExitUsage;
    std::string text;
    const std::int32_t result = context.device.getProfile(text);
    if (result != ZEM_RESULT_OK && result != ZEM_RESULT_VALUE_ERROR) {
        printError("get_profile returned " + resultName(result)
            + (fileName.empty() ? "" : "; " + fileName + " is unchanged"));
        return kExitResult;
    }
    if (fileName.empty() || fileName == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else if (const std::string error = zem::files::writeFile(fileName, text); !error.empty()) {
        printError(error);
        return kExitUsage;
    }
    if (result != ZEM_RESULT_OK) {
        printError("get_profile returned " + resultName(result));
        return kExitResult;
    }
    return kExitOk;
}

int profileSetMain(Context &context, const std::string &fileName)
{
    const int fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        printError("cannot read " + fileName + ": " + std::strerror(errno));
        return kExitUsage;
    }
    // Capped read: a pipe or a device file reports no size and may never end.
    std::string text;
    struct stat info
    {
    };
    int error = fstat(fd, &info) == 0 ? 0 : errno;
    bool tooLarge = error == 0 && info.st_size > kMaxProfileFileSize;
    char chunk[1 << 16];
    while (error == 0 && !tooLarge) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        text.append(chunk, std::size_t(n));
        tooLarge = (long long)text.size() > kMaxProfileFileSize;
    }
    close(fd);
    if (error != 0) {
        printError("cannot read " + fileName + ": " + std::strerror(error));
        return kExitUsage;
    }
    if (tooLarge) {
        printError(fileName + " is too large for a profile (more than "
            + std::to_string(kMaxProfileFileSize) + " bytes); nothing was sent");
        return kExitUsage;
    }
    if (text.find('\0') != std::string::npos) {
        printError(fileName + " holds a zero byte, so it is not a profile; nothing was sent");
        return kExitUsage;
    }
    if (!context.openDevice())
        return kExitUsage;
    const std::int32_t result = context.device.setProfile(text.c_str());
    if (result != ZEM_RESULT_OK) {
        printError("set_profile returned " + resultName(result));
        return kExitResult;
    }
    return kExitOk;
}

} // namespace zemctl
