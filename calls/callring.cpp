#include "callring.h"

#include <algorithm>

namespace zem::calls {

CallRing::CallRing(std::size_t capacity)
    : limit(capacity ? capacity : 1)
{
}

void CallRing::dropOldest(std::size_t n)
{
    n = std::min(n, count);
    if (n == 0)
        return;
    head = (head + n) % entries.size();
    count -= n;
    droppedCount += n;
}

void CallRing::append(const Call &call)
{
    if (full())
        dropOldest();
    if (count == entries.size()) {
        // Every slot is in use but the ring may still grow: make the oldest
        // call the first slot again (only after drops before it was full).
        std::rotate(entries.begin(), entries.begin() + std::ptrdiff_t(head), entries.end());
        head = 0;
        entries.emplace_back();
    }
    entries[(head + count) % entries.size()].assign(call);
    ++count;
    ++totalCount;
    if (call.result != 0)
        ++failureCount;
}

void CallRing::clear()
{
    head = 0;
    count = 0;
    droppedCount = 0;
    totalCount = 0;
    failureCount = 0;
}

} // namespace zem::calls
