// Arbitrary bytes as a call file: the reader either refuses them with a line
// number or accepts calls that write back to lines it reads as the same calls.
#include "callfile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<zem::calls::Call> calls;
    std::string error;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    if (!zem::calls::readCallText(text, calls, error)) {
        if (!calls.empty() || error.rfind("line ", 0) != 0)
            std::abort();
        return 0;
    }
    std::string again;
    for (const zem::calls::Call &c : calls)
        again += zem::calls::callLine(c) + '\n';
    std::vector<zem::calls::Call> reread;
    if (!zem::calls::readCallText(again, reread, error) || reread.size() != calls.size())
        std::abort();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const zem::calls::Call &a = calls[i], &b = reread[i];
        if (a.bytes != b.bytes || a.requestSize != b.requestSize || a.result != b.result
            || a.wallMs != b.wallMs || a.operation != b.operation || a.command != b.command
            || a.origin != b.origin || a.handle != b.handle || a.handleAfter != b.handleAfter
            || a.hasRequest != b.hasRequest || a.hasResponse != b.hasResponse)
            std::abort();
    }
    return 0;
}
