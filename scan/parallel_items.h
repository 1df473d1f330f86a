#ifndef CORVANE_SCAN_PARALLEL_ITEMS_H
#define CORVANE_SCAN_PARALLEL_ITEMS_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

#include "replicate_threads.h"

namespace scan {

// Hands items 0 .. count-1 to up to `threads` threads, each taking the next
// free item. make_worker() is called once per thread for its own working
// state, which is then called with each item it takes; every result must go
// to the item's own place, so that nothing depends on the number of threads.
// The first exception of any thread stops the handing out and is thrown again
// here once every thread has ended.
template <class MakeWorker>
void for_each_item_on_threads(std::size_t count, int threads, MakeWorker make_worker)
{
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr failure;
    const auto work = [&] {
        try {
            auto worker = make_worker();
            for (std::size_t item = next++; item < count && !failed; item = next++)
                worker(item);
        } catch (...) {
            if (!failed.exchange(true))
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min(static_cast<std::size_t>(std::max(threads, 1)), count);
    helpers.reserve(wanted);  // a thread started is never lost to a failed growth
    try {
        for (std::size_t t = 1; t < wanted; ++t)
            helpers.push_back(thread_on_core_in_turn(work, t));
    } catch (const std::system_error&) {
        // as many helpers as could be had; this thread works in any case
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace scan

#endif
