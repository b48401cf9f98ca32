// The recorded calls: a ring that keeps the newest `capacity` calls and counts
// the ones it dropped. Appending is constant time (amortised while the ring
// grows to its capacity, so an unused recorder costs nothing at start-up) and,
// once every slot has been used, reuses the entries' byte buffers instead of
// allocating.
#pragma once

#include "call.h"
#include "recording.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zem::calls {

inline constexpr std::size_t kDefaultRingCapacity = 100000;

class CallRing : public CallSink
{
public:
    explicit CallRing(std::size_t capacity = kDefaultRingCapacity);

    std::size_t capacity() const { return limit; }
    std::size_t size() const { return count; }
    bool full() const { return count == limit; }
    // Calls dropped to make room, since construction or clear().
    std::uint64_t dropped() const { return droppedCount; }
    // Every call appended and those of them whose result was not 0, dropped
    // ones included.
    std::uint64_t total() const { return totalCount; }
    std::uint64_t failures() const { return failureCount; }

    // i = 0 is the oldest call kept.
    const Call &at(std::size_t i) const { return entries[(head + i) % entries.size()]; }
    const Call &newest() const { return at(count - 1); }

    // Drops the oldest n calls (at most all of them).
    void dropOldest(std::size_t n = 1);
    // Appends a copy of the call, dropping the oldest when full.
    void append(const Call &call);
    void record(const Call &call) override { append(call); }
    void clear();

private:
    std::vector<Call> entries; // grows to limit, then is reused in turn
    std::size_t limit;
    std::size_t head = 0;
    std::size_t count = 0;
    std::uint64_t droppedCount = 0;
    std::uint64_t totalCount = 0;
    std::uint64_t failureCount = 0;
};

} // namespace zem::calls
