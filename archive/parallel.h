// Runs independent per-sector work on a few threads; sectors are coded independently,
// and the codecs keep their state on the stack of each call.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace archive::parallel {

// Calls fn(i) for every i in [0, n), each exactly once, giving each thread at least
// `grain` items. The first exception thrown is rethrown once every thread has stopped.
template <typename Fn>
void forEach(size_t n, Fn fn, size_t grain = 16) {
    const size_t threads = std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 4, n / grain});
    if (threads < 2) {
        for (size_t i = 0; i < n; ++i)
            fn(i);
        return;
    }
    std::atomic<size_t> next{0};
    std::exception_ptr error;
    std::mutex errorLock;
    auto work = [&] {
        try {
            for (size_t i; (i = next.fetch_add(1)) < n;)
                fn(i);
        } catch (...) {
            const std::lock_guard lock(errorLock);
            if (!error)
                error = std::current_exception();
            next = n;
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    try {
        for (size_t t = 1; t < threads; ++t)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than hoped: the ones running and this one share the work.
    }
    work();
    for (auto& t : pool)
        t.join();
    if (error)
        std::rethrow_exception(error);
}

} // namespace archive::parallel
