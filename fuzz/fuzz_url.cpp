// Any text as a device URL: the parser and the C entry point must agree, and
// every device that opens must close.
#include "options.h"
#include "zem.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string url(reinterpret_cast<const char *>(data), size);
    std::string error;
    const auto options = zemsim::parseUrl(url, &error);
    const bool parsed = options.has_value();
    if (!parsed && error.empty())
        std::abort(); // a refusal always says why
    // A gantry's open connects to its host, which no fuzzer should reach:
    // whether it opens is the network's answer, not the parser's. (Also
    // when only the text before a NUL, which the C entry point sees, names one.)
    if ((parsed && options->gantryPort != 0) || url.find("gantry") != std::string::npos)
        return 0;

    std::int32_t handle = zem_open_device(url.c_str());
    // The C entry point sees the text up to its first NUL, so only texts
    // without one must give the parser's verdict.
    if (std::memchr(url.data(), '\0', url.size()) == nullptr && parsed != (handle != -1))
        std::abort();
    if (handle != -1) {
        if (handle < 1 || zem_close_device(&handle) != ZEM_RESULT_OK || handle != -1)
            std::abort();
    }
    return 0;
}
