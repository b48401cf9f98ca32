#include "callring.h"

#include <algorithm>

namespace zem::calls {

CallRing::CallRing(std::size_t capacity)
    : entries(capacity ? capacity : 1)
{
}

void CallRing::dropOldest(std::size_t n)
{
    n = std::min(n, count);
    head = (head + n) % entries.size();
    count -= n;
    droppedCount += n;
}

void CallRing::append(const Call &call)
{
    if (full())
        dropOldest();
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
