// Arbitrary bytes as lines of the shell from a pipe: nothing crashes, and each
// line is answered with at most one line on standard output, a JSON object
// (blank lines, comments and quit get none).
#include "zemctl.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sys/mman.h>
#include <unistd.h>

namespace {

int output = -1; // standard output, a file in memory

zemctl::Context &context()
{
    static zemctl::Context *c = [] {
        auto *made = new zemctl::Context;
        made->options.url = "virtual://resistor?noise=0&calibration_ms=0";
        return made;
    }();
    return *c;
}

std::string takeOutput()
{
    std::fflush(stdout);
    const off_t size = lseek(output, 0, SEEK_END);
    std::string text(std::size_t(size), '\0');
    if (size > 0 && pread(output, text.data(), text.size(), 0) != size)
        std::abort();
    if (ftruncate(output, 0) != 0 || lseek(output, 0, SEEK_SET) != 0)
        std::abort();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    output = memfd_create("stdout", 0);
    if (output < 0 || dup2(output, STDOUT_FILENO) < 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    zemctl::Shell shell(context(), false);
    std::string_view input(reinterpret_cast<const char *>(data), size);
    while (!input.empty()) {
        const std::size_t newline = input.find('\n');
        const std::string line(input.substr(0, newline));
        input.remove_prefix(newline == std::string_view::npos ? input.size() : newline + 1);
        shell.execute(line);
        const std::string answer = takeOutput();
        if (answer.empty())
            continue;
        if (answer.back() != '\n' || answer.find('\n') != answer.size() - 1)
            std::abort(); // more than one line, or an unfinished one
        if (!zem::codec::Json::parse(answer, nullptr, false).is_object())
            std::abort();
    }
    return 0;
}
