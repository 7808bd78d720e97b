// Timing for the micro-benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

namespace bench {

// The best wall time of `runs` calls of `f`, in seconds.
inline double best(int runs, const std::function<void()>& f) {
    double b = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return b;
}

} // namespace bench
