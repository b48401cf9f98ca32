// Work spread over a few threads: each index once, taken in turn, so that
// simulations of unequal length keep every thread busy.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace predict {

// Calls work(k) for each k below count on up to `threads` threads (this one
// among them); once *cancelled is set, no more are started.
template<typename Work>
void forEachParallel(std::size_t count, int threads, const std::atomic<bool> *cancelled, Work work)
{
    std::atomic<std::size_t> next { 0 };
    const auto run = [&] {
        for (std::size_t k; (k = next++) < count;) {
            if (cancelled && *cancelled)
                return;
            work(k);
        }
    };
    const int n = std::clamp(threads, 1, int(std::max<std::size_t>(count, 1)));
    std::vector<std::thread> pool;
    for (int t = 1; t < n; ++t)
        pool.emplace_back(run);
    run();
    for (std::thread &t : pool)
        t.join();
}

} // namespace predict
