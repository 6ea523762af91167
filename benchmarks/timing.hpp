// Timing shared by the benchmark programs: the best of several runs, so a
// stray interruption of one run does not skew a ratio.
#pragma once

#include <algorithm>
#include <chrono>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Shortest wall time of `reps` calls of `fn`, in seconds.
template <class Fn>
double time_best(Fn&& fn, int reps) {
    double best = 1e300;
    for (int r = 0; r < reps; ++r) {
        const auto start = Clock::now();
        fn();
        best = std::min(best, seconds_since(start));
    }
    return best;
}

}  // namespace bench
