// Per command: how often it was called, how often it failed, and how long it
// took (minimum, median, maximum) over the calls a ring keeps.
#pragma once

#include "callring.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zem::calls {

struct CommandStats
{
    std::string command; // as Call::commandName()
    std::uint64_t calls = 0;
    std::uint64_t failures = 0; // result not 0
    std::int64_t minNs = 0;
    std::int64_t medianNs = 0; // the lower middle of an even count
    std::int64_t maxNs = 0;
};

// In the order of the command table, then open, close and the profile calls;
// commands never called are left out.
std::vector<CommandStats> commandStats(const CallRing &ring);

} // namespace zem::calls
