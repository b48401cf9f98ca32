// Arbitrary bytes as a profile: zem_set_profile applies a profile all or
// nothing, so a refusal (-3) must leave the device's profile as it was, and an
// accepted one must read back as a profile the device accepts again.
#include "zem.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::int32_t device()
{
    static const std::int32_t handle = zem_open_device("virtual://open");
    return handle;
}

std::string profile()
{
    char *text = nullptr;
    if (zem_get_profile(device(), &text, std::malloc) != ZEM_RESULT_OK || !text)
        std::abort();
    std::string copy(text);
    std::free(text);
    return copy;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const std::string initial = profile();
    const std::string text(reinterpret_cast<const char *>(data), size);

    const std::int32_t result = zem_set_profile(device(), text.c_str());
    if (result == ZEM_RESULT_VALUE_ERROR) {
        if (profile() != initial)
            std::abort();
    } else if (result == ZEM_RESULT_OK) {
        if (zem_set_profile(device(), profile().c_str()) != ZEM_RESULT_OK)
            std::abort();
        // Back to the start, so that every input meets the same device.
        if (zem_set_profile(device(), initial.c_str()) != ZEM_RESULT_OK || profile() != initial)
            std::abort();
    } else {
        std::abort(); // no other result is documented
    }
    return 0;
}
