// Small timing helpers shared by the driver benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace kvbench {

// Median wall time in seconds of `runs` calls of fn, after one warm-up call.
template <typename Fn>
double MedianSeconds(int runs, Fn&& fn) {
    fn();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        fn();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[runs / 2];
}

}  // namespace kvbench
