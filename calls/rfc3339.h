// Wall-clock times as call files and the watch command write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zem::calls {

// "2026-12-07T16:20:01.123Z", and back (any RFC 3339 time with an offset;
// fractions past milliseconds are dropped). fromRfc3339 returns false on
// anything else.
std::string toRfc3339(std::int64_t wallMs);
bool fromRfc3339(std::string_view text, std::int64_t &wallMs);

} // namespace zem::calls
