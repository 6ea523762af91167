// Overhead of the worker pool: what join and parallel_map cost around tasks
// that do nothing, seen from a thread outside the pool (as every call from
// the module is) and from inside a worker.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "pool.hpp"

namespace pm = parsimetrics;

namespace {

volatile std::int64_t sink = 0;

// Runs `body` until about `budget` has passed and returns ns per repetition.
template <class F>
double time_per_call(F body, std::chrono::milliseconds budget = std::chrono::milliseconds(400)) {
    using clock = std::chrono::steady_clock;
    body();  // warm up
    std::int64_t reps = 0;
    const auto start = clock::now();
    auto now = start;
    do {
        for (int i = 0; i < 8; ++i) body();
        reps += 8;
        now = clock::now();
    } while (now - start < budget);
    return std::chrono::duration<double, std::nano>(now - start).count() / static_cast<double>(reps);
}

}  // namespace

int main() {
    std::printf("worker threads: %zu\n\n", pm::pool_thread_count());

    const double join_outside = time_per_call([] {
        auto r = pm::join([] { return 1; }, [] { return 2; });
        sink = sink + r.first + r.second;
    });
    std::printf("join of two empty tasks, outside caller : %10.1f ns per call\n", join_outside);

    // Many joins within one outside call, to separate the per-join cost from
    // the cost of handing a call to the pool and waking the caller.
    constexpr int inner_joins = 10000;
    const double join_inside = time_per_call([] {
        auto r = pm::join(
            [] {
                std::int64_t s = 0;
                for (int i = 0; i < inner_joins; ++i) {
                    auto p = pm::join([] { return 1; }, [] { return 2; });
                    s += p.first + p.second;
                }
                return s;
            },
            [] { return std::int64_t{0}; });
        sink = sink + r.first;
    }) / inner_joins;
    std::printf("join of two empty tasks, on a worker    : %10.1f ns per call\n", join_inside);

    for (std::int64_t last : {25, 999, 999'999}) {
        const double per_call = time_per_call([last] {
            auto v = pm::parallel_map(0, last, [](std::int64_t i) { return i; });
            sink = sink + v.back();
        });
        const double count = static_cast<double>(last + 1);
        std::printf("parallel_map of %8lld trivial indices  : %10.1f ns per call, %8.2f ns per index\n",
                    static_cast<long long>(last + 1), per_call, per_call / count);
    }

    // Reference: the same 10^6 writes on this thread alone.
    const double serial = time_per_call([] {
        std::vector<std::int64_t> v(1'000'000);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::int64_t>(i);
        sink = sink + v.back();
    });
    std::printf("serial loop over  1000000 indices       : %10.1f ns per call, %8.2f ns per index\n",
                serial, serial / 1e6);
    return 0;
}
