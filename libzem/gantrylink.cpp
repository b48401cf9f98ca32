#include "gantrylink.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zemsim {
namespace {

// Long enough for a loaded CI machine, short enough that a hung gantry fails
// the call rather than the program.
constexpr auto kAnswerTime = std::chrono::seconds(3);
constexpr std::size_t kMaxLine = 4096;

} // namespace

std::unique_ptr<GantryLink> GantryLink::open(
    const std::string &host, std::uint16_t port, std::string &error)
{
    const std::string where = host + ":" + std::to_string(port);
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (const int e = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found)) {
        error = "gantry " + where + ": " + gai_strerror(e);
        return nullptr;
    }
    int fd = -1;
    int lastErrno = 0;
    for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            lastErrno = errno;
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        error = "gantry " + where + ": " + std::strerror(lastErrno);
        return nullptr;
    }
    std::unique_ptr<GantryLink> link(new GantryLink(fd));
    // The gantry greets every client as GRBL; the hello's answer follows.
    if (!link->sendLine("zem-tip 1") || !link->awaitLine("zem-tip 1 ready")) {
        error = "gantry " + where + ": no answer to the tip protocol";
        return nullptr;
    }
    return link;
}

GantryLink::~GantryLink()
{
    close(fd_);
}

bool GantryLink::sendLine(const std::string &line)
{
    const std::string text = line + "\n";
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

std::optional<std::string> GantryLink::awaitLine(const std::string &prefix)
{
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
    for (;;) {
        std::size_t newline;
        while ((newline = received_.find('\n')) != std::string::npos) {
            std::string line = received_.substr(0, newline);
            received_.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.compare(0, prefix.size(), prefix) == 0)
                return line;
        }
        if (received_.size() > kMaxLine)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p { fd_, POLLIN, 0 };
        const int ready = poll(&p, 1, int(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char buffer[512];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        received_.append(buffer, std::size_t(n));
    }
}

std::optional<int> GantryLink::pointUnderTip()
{
    if (!sendLine("tip"))
        return std::nullopt;
    const std::optional<std::string> line = awaitLine("tip ");
    if (!line)
        return std::nullopt;
    // "tip X Y Z POINT": only the point matters here.
    const std::size_t space = line->rfind(' ');
    int point = 0;
    const char *first = line->data() + space + 1, *last = line->data() + line->size();
    const auto [end, ec] = std::from_chars(first, last, point);
    if (ec != std::errc() || end != last || first == last || point < -1)
        return std::nullopt;
    return point;
}

} // namespace zemsim
