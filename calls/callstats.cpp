#include "callstats.h"

#include "records.h"

#include <algorithm>

namespace zem::calls {

std::vector<CommandStats> commandStats(const CallRing &ring)
{
    // Slots: the commands, then the four other operations.
    constexpr std::size_t kSlots = zem::kCommandCount + 4;
    std::vector<std::vector<std::int64_t>> durations(kSlots);
    std::vector<CommandStats> stats(kSlots);
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const Call &c = ring.at(i);
        std::size_t slot;
        if (c.operation == Operation::Command) {
            if (c.command >= zem::kCommandCount)
                continue;
            slot = c.command;
        } else {
            slot = zem::kCommandCount + std::size_t(c.operation) - 1;
        }
        CommandStats &s = stats[slot];
        if (s.calls++ == 0)
            s.command = c.commandName();
        if (c.result != 0)
            ++s.failures;
        durations[slot].push_back(c.durationNs);
    }
    std::vector<CommandStats> out;
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        std::vector<std::int64_t> &d = durations[slot];
        if (d.empty())
            continue;
        auto middle = d.begin() + std::ptrdiff_t((d.size() - 1) / 2);
        std::nth_element(d.begin(), middle, d.end());
        CommandStats s = stats[slot];
        s.medianNs = *middle;
        const auto [min, max] = std::minmax_element(d.begin(), d.end());
        s.minNs = *min;
        s.maxNs = *max;
        out.push_back(std::move(s));
    }
    return out;
}

} // namespace zem::calls
