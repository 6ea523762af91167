// The worker pool: size rules, join and parallel_map semantics, failures
// carried back to the waiting thread, outside callers, and fork.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "error.hpp"
#include "pool.hpp"
#include "pool_size.hpp"

namespace pm = parsimetrics;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The build's sanitizers are GCC's, which announce themselves this way.
#if defined(__SANITIZE_THREAD__)
#define POOL_TEST_TSAN 1
#endif
#if defined(__SANITIZE_ADDRESS__)
#define POOL_TEST_ASAN 1
#endif

namespace {

// ---------------------------------------------------------------------------
// Size rules

TEST(PoolSize, ParseThreadCount) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> expected;
    };
    const auto none = std::nullopt;
    const Case cases[] = {
        {"0", 0}, {"1", 1}, {"+4", 4}, {"007", 7},
        {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
        {"18446744073709551616", none}, {"99999999999999999999", none},
        {"", none}, {"+", none}, {"++4", none}, {"-1", none}, {" 4", none},
        {"4 ", none}, {"4x", none}, {"abc", none}, {"0x10", none}, {nullptr, none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pm::parse_thread_count(c.text), c.expected) << (c.text ? c.text : "(null)");
    }
}

TEST(PoolSize, ThreadCountFromEnvironment) {
    struct Case {
        const char* first;   // "RAYON_NUM_THREADS", null when unset
        const char* second;  // "RAYON_RS_NUM_CPUS", null when unset
        std::size_t expected;
    };
    constexpr std::size_t def = 6;
    const Case cases[] = {
        {nullptr, nullptr, def}, {"3", "5", 3}, {"+3", "5", 3},
        {"0", "5", def},  // 0 means the default; the second is not consulted
        {"abc", "5", 5}, {"-2", "5", 5}, {" 3", "5", 5}, {"", "5", 5},
        {"18446744073709551616", "5", 5}, {nullptr, "5", 5}, {nullptr, "0", def},
        {"x", "y", def}, {"65535", nullptr, 65535},
        {"65536", nullptr, 65535}, {"18446744073709551615", nullptr, 65535},
        {nullptr, "1000000", 65535},
    };
    for (const auto& c : cases) {
        const pm::EnvLookup lookup = [&](const char* name) -> const char* {
            if (std::string(name) == "RAYON_NUM_THREADS") return c.first;
            if (std::string(name) == "RAYON_RS_NUM_CPUS") return c.second;
            return nullptr;
        };
        EXPECT_EQ(pm::thread_count_from_env(lookup, def), c.expected)
            << (c.first ? c.first : "(unset)") << " / " << (c.second ? c.second : "(unset)");
    }
    const pm::EnvLookup none = [](const char*) -> const char* { return nullptr; };
    EXPECT_EQ(pm::thread_count_from_env(none, 100000), 65535u);
    EXPECT_EQ(pm::thread_count_from_env(none, 0), 1u);
}

using Files = std::map<std::string, std::string>;

// A scratch directory holding `files` (relative path -> contents).
struct TempTree {
    explicit TempTree(const Files& files) {
        std::string pattern = (fs::temp_directory_path() / "pool_test_XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root = pattern;
        for (const auto& [name, text] : files) {
            fs::create_directories((root / name).parent_path());
            std::ofstream(root / name) << text;
        }
    }
    ~TempTree() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    std::string operator/(const std::string& name) const { return (root / name).string(); }
    fs::path root;
};

TEST(PoolSize, CgroupCpuQuota) {
    const std::string q = "cpu.cfs_quota_us", p = "cpu.cfs_period_us";
    const struct {
        Files files;
        std::optional<std::uint32_t> expected;
    } cases[] = {
        {{}, std::nullopt},
        {{{"cpu.max", "max 100000\n"}}, std::nullopt},
        {{{"cpu.max", "150000 100000\n"}}, 2},
        {{{"cpu.max", "5000 100000\n"}}, 1},
        {{{"cpu.max", "lots\n"}}, std::nullopt},
        {{{q, "-1\n"}, {p, "100000\n"}}, std::nullopt},
        {{{q, "250000\n"}, {p, "100000\n"}}, 3},
        {{{q, "250000\n"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        TempTree dir(c.files);
        EXPECT_EQ(pm::cgroup_cpu_quota(dir.root.string()), c.expected)
            << (c.files.empty() ? "no files" : c.files.begin()->second);
    }
}

TEST(PoolSize, ProcessCpuQuotaFollowsOwnCgroup) {
    const struct {
        const char* name;
        Files files;  // "self" is /proc/self/cgroup, "m/" the cgroup mount
        std::optional<std::uint32_t> expected;
    } cases[] = {
        {"v2 parent limit binds",
         {{"self", "0::/a/b\n"}, {"m/a/b/cpu.max", "max 100000\n"}, {"m/a/cpu.max", "200000 100000\n"}},
         2},
        {"v1 joint controllers",
         {{"self", "5:memory:/x\n4:cpu,cpuacct:/d/x\n0::/\n"},
          {"m/cpu,cpuacct/d/x/cpu.cfs_quota_us", "200000\n"},
          {"m/cpu,cpuacct/d/x/cpu.cfs_period_us", "100000\n"}},
         2},
        {"v1 path hidden by a container",  // only the mount root is visible
         {{"self", "4:cpu,cpuacct:/d/x\n"},
          {"m/cpu,cpuacct/cpu.cfs_quota_us", "100000\n"},
          {"m/cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
         1},
        {"no cpu controller", {{"self", "4:memory:/a\n"}, {"m/memory/a/cpu.max", "100000 100000\n"}},
         std::nullopt},
        {"no cgroup file", {{"m/cpu.max", "100000 100000\n"}}, std::nullopt},
    };
    for (const auto& c : cases) {
        TempTree dir(c.files);
        EXPECT_EQ(pm::process_cpu_quota(dir / "self", dir / "m"), c.expected) << c.name;
    }
}

// ---------------------------------------------------------------------------
// join

struct NoDefault {
    explicit NoDefault(int v) : value(v) {}
    int value;
};

TEST(Join, ResultsKeepTheirOrderAndTypes) {
    // Move-only and non-default-constructible results, lvalue callables.
    auto make_ptr = [] { return std::make_unique<int>(3); };
    auto [ptr, nd] = pm::join(make_ptr, [] { return NoDefault(4); });
    ASSERT_TRUE(ptr);
    EXPECT_EQ(*ptr, 3);
    EXPECT_EQ(nd.value, 4);

    std::atomic<int> ran{0};  // void tasks run too
    pm::join([&] { ran += 1; }, [&] { ran += 10; });
    EXPECT_EQ(ran.load(), 11);
}

std::uint64_t fib_join(int n) {
    if (n < 2) return static_cast<std::uint64_t>(n);
    auto [a, b] = pm::join([n] { return fib_join(n - 1); }, [n] { return fib_join(n - 2); });
    return a + b;
}

TEST(Join, NestsDeeply) {
    EXPECT_EQ(fib_join(25), 75025u);

    // Two joins inside a join, and parallel maps inside the tasks of a join.
    auto pairs = pm::join([] { return pm::join([] { return 1; }, [] { return 2; }); },
                          [] { return pm::join([] { return 3; }, [] { return 4; }); });
    EXPECT_EQ(pairs, std::make_pair(std::make_pair(1, 2), std::make_pair(3, 4)));
    auto square = [](std::int64_t i) { return i * i; };
    auto [a, b] = pm::join([&] { return pm::parallel_map(0, 99, square); },
                           [&] { return pm::parallel_map(100, 199, square); });
    ASSERT_EQ(a.size() + b.size(), 200u);
    for (std::int64_t i = 0; i < 100; ++i) {
        ASSERT_EQ(a[i], i * i);
        ASSERT_EQ(b[i], (i + 100) * (i + 100));
    }
}

// With two workers or more, task_b must become available to another worker
// while task_a runs: task_a here does not return until task_b has started.
TEST(Join, SecondTaskRunsConcurrentlyWhenThreadsAllow) {
    if (pm::pool_thread_count() < 2) GTEST_SKIP() << "single worker";
    for (int round = 0; round < 20; ++round) {
        std::atomic<bool> b_started{false};
        auto wait_for_b = [&] {
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (!b_started && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
            return b_started.load();
        };
        ASSERT_TRUE(pm::join(wait_for_b, [&] { b_started = true; }).first) << "round " << round;
    }
}

// Small operations from outside the pool stay on the calling thread, with
// the failure rules of the pool; large ones, and any from inside it, go to
// the workers.
TEST(Join, SmallWorkStaysOnTheCallingThread) {
    const auto caller = std::this_thread::get_id();
    auto here = [&] { return std::this_thread::get_id() == caller; };
    EXPECT_EQ(pm::join(pm::Work{pm::kPoolWorkFrom - 1}, here, here), std::make_pair(true, true));
    EXPECT_EQ(pm::join(pm::Work{pm::kPoolWorkFrom}, here, here).first, false);
    auto inner = [] { return pm::join(pm::Work{0}, [] { return pm::detail::current_worker() != nullptr; }, [] { return 0; }); };
    EXPECT_TRUE(pm::join(inner, [] { return 0; }).first.first);

    auto mapped = pm::parallel_map(pm::Work{1}, 0, 99, [&](std::int64_t i) { return here() ? i : -1; });
    ASSERT_EQ(mapped.size(), 100u);
    for (std::int64_t i = 0; i < 100; ++i) ASSERT_EQ(mapped[static_cast<std::size_t>(i)], i);

    bool b_ran = false;
    try {
        pm::join(pm::Work{1}, [] { throw std::runtime_error("a"); }, [&] {
            b_ran = true;
            throw std::logic_error("b");
        });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "a");
    }
    EXPECT_TRUE(b_ran);
}

// ---------------------------------------------------------------------------
// parallel_map

TEST(ParallelMap, EachIndexOnceAndInOrder) {
    constexpr std::int64_t big = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t small = std::numeric_limits<std::int64_t>::min();
    struct Case {
        std::int64_t first;
        std::int64_t last;
    };
    const Case cases[] = {
        {0, -1}, {5, 4}, {big, small},             // empty
        {7, 7}, {0, 1}, {-3, 3}, {0, 25},          // short
        {0, 999'999}, {-500'000, 499'999},         // long
        {big - 2, big}, {small, small + 2},        // at the ends of int64
    };
    for (const auto& c : cases) {
        const std::size_t length = c.last < c.first ? 0 : static_cast<std::size_t>(c.last - c.first) + 1;
        std::vector<std::atomic<int>> calls(length);
        auto out = pm::parallel_map(c.first, c.last, [&](std::int64_t i) {
            calls[static_cast<std::size_t>(i - c.first)].fetch_add(1, std::memory_order_relaxed);
            return i ^ 0x5555;
        });
        ASSERT_EQ(out.size(), length) << c.first << ".." << c.last;
        std::size_t wrong_calls = 0, wrong_values = 0;
        for (std::size_t k = 0; k < length; ++k) {
            wrong_calls += calls[k].load() != 1;
            wrong_values += out[k] != ((c.first + static_cast<std::int64_t>(k)) ^ 0x5555);
        }
        EXPECT_EQ(wrong_calls, 0u) << c.first << ".." << c.last;
        EXPECT_EQ(wrong_values, 0u) << c.first << ".." << c.last;
    }
}

TEST(ParallelMap, BooleanResults) {
    // Pieces finishing concurrently must not clobber neighbouring bits.
    auto odd = pm::parallel_map(0, 9999, [](std::int64_t i) { return i % 2 == 1; });
    ASSERT_EQ(odd.size(), 10000u);
    for (std::size_t i = 0; i < odd.size(); ++i) ASSERT_EQ(odd[i], i % 2 == 1) << i;
}

// ---------------------------------------------------------------------------
// Failures

struct Marker {
    std::string name;
};

TEST(Failures, RaisedAfterBothTasksFinishedAndTaskAWins) {
    struct Case {
        bool a_throws, b_throws;
        int a_delay_ms, b_delay_ms;
        const char* expected;
    };
    const Case cases[] = {
        {true, false, 0, 30, "a"},   // a fails while b still runs
        {false, true, 30, 0, "b"},   // b fails while a still runs
        {true, true, 30, 0, "a"},
        {true, true, 0, 30, "a"},
    };
    auto run_case = [](const Case& c) {
        std::atomic<bool> a_done{false}, b_done{false};
        auto task = [](int delay_ms, bool fails, std::atomic<bool>& done, const char* name) {
            return [=, &done] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
                done = true;
                if (fails) throw Marker{name};
                return 0;
            };
        };
        std::string caught;
        try {
            pm::join(task(c.a_delay_ms, c.a_throws, a_done, "a"),
                     task(c.b_delay_ms, c.b_throws, b_done, "b"));
        } catch (const Marker& m) {
            EXPECT_TRUE(a_done && b_done) << "raised before both tasks finished";
            caught = m.name;
        }
        EXPECT_EQ(caught, c.expected) << c.a_delay_ms << "/" << c.b_delay_ms;
    };
    for (const auto& c : cases) {
        run_case(c);                              // called from outside the pool
        pm::join([&] { run_case(c); }, [] {});    // called from a worker
    }
}

TEST(Failures, KeepTheirTypeAndLeaveThePoolUsable) {
    EXPECT_THROW(pm::join([]() -> int { throw std::bad_alloc(); }, [] { return 1; }), std::bad_alloc);
    auto fail = []() -> int { throw pm::InternalFailure("deep"); };
    auto deep = [&] { return pm::join([] { return 1; }, fail); };
    EXPECT_THROW(pm::join([] { return 1; }, deep), pm::InternalFailure);

    // A failing index must not leave other indices of the map running.
    std::atomic<int> running{0};
    auto slow_fail_at_5 = [&](std::int64_t i) {
        ++running;
        std::this_thread::sleep_for(1ms);
        --running;
        if (i == 5) throw std::bad_alloc();
        return i;
    };
    EXPECT_THROW(pm::parallel_map(0, 63, slow_fail_at_5), std::bad_alloc);
    EXPECT_EQ(running.load(), 0);

    EXPECT_EQ(pm::parallel_map(0, 9, [](std::int64_t i) { return i; }).back(), 9);
    EXPECT_EQ(pm::join([] { return 1; }, [] { return 2; }), std::make_pair(1, 2));
}

// ---------------------------------------------------------------------------
// Callers outside the pool

TEST(OutsideCallers, ConcurrentThreads) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 6; ++t) {
        callers.emplace_back([&, t] {
            for (std::int64_t base = t * 1000; base < t * 1000 + 20; ++base) {
                auto v = pm::parallel_map(base, base + 499, [](std::int64_t i) { return 2 * i; });
                for (std::size_t k = 0; k < v.size(); ++k) wrong += v[k] != 2 * (base + std::int64_t(k));
                auto pair = pm::join([=] { return base; }, [=] { return -base; });
                wrong += pair != std::make_pair(base, -base);
            }
        });
    }
    for (auto& c : callers) c.join();
    EXPECT_EQ(wrong.load(), 0);
}

double cpu_seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Neither the calling thread (while the pool works) nor the workers (once
// the work is done) may burn a processor waiting.
TEST(OutsideCallers, WaitersSleep) {
    pm::pool_thread_count();
    const double caller_before = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    pm::join([] { std::this_thread::sleep_for(200ms); }, [] { std::this_thread::sleep_for(200ms); });
    EXPECT_LT(cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - caller_before, 0.05);

    std::this_thread::sleep_for(50ms);  // let the spinning rounds run out
    const double process_before = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - process_before, 0.06);
}

// ---------------------------------------------------------------------------
// Stoppable runs: once the poll asks, no index starts anywhere, the running
// ones finish, and Stopped is raised; the next run is whole again.

struct Counted {
    std::atomic<int> started{0}, finished{0}, polls{0};
};

// A run of 2,000 one-millisecond indices whose poll asks to stop at its
// second look (some 40 ms in), from the pool or (small work) the caller.
std::vector<int> counted_run(Counted& counted, pm::Work work, bool stop) {
    pm::StopControl control;
    control.context = stop ? &counted : nullptr;
    control.poll = [](void* context) {
        return context != nullptr && ++static_cast<Counted*>(context)->polls >= 2;
    };
    return pm::run_stoppable(control, [&] {
        return pm::parallel_map(work, 0, 1999, [&](std::int64_t i) {
            ++counted.started;
            std::this_thread::sleep_for(1ms);
            ++counted.finished;
            return static_cast<int>(i);
        });
    });
}

class Stopping : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Stopping, NoIndexStartsOnceThePollAsks) {
    const pm::Work work{GetParam()};
    Counted counted;
    EXPECT_THROW(counted_run(counted, work, true), pm::Stopped);
    EXPECT_EQ(counted.finished.load(), counted.started.load());
    EXPECT_LT(counted.started.load(), 1000);
    EXPECT_EQ(counted.polls.load(), 2);

    Counted whole;
    const std::vector<int> values = counted_run(whole, work, false);
    ASSERT_EQ(values.size(), 2000u);
    EXPECT_EQ(values[1999], 1999);
}

TEST_P(Stopping, AThrowingPollTravelsOnceNothingRuns) {
    std::atomic<int> running{0};
    pm::StopControl control;
    control.context = &running;
    control.poll = [](void*) -> bool { throw std::runtime_error("poll"); };
    try {
        pm::run_stoppable(control, [&] {
            return pm::parallel_map(pm::Work{GetParam()}, 0, 999, [&](std::int64_t) {
                ++running;
                std::this_thread::sleep_for(1ms);
                return --running;
            });
        });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "poll");
        EXPECT_EQ(running.load(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(OnThePoolAndOnTheCaller, Stopping, ::testing::Values(pm::kPoolWorkFrom, 1));

// Runs on behalf of other callers meanwhile are not stopped with this one.
TEST(Stopping, OnlyTheRunThatAsked) {
    Counted stopped, other;
    std::vector<int> others;
    std::thread thread([&] { others = counted_run(other, pm::Work{pm::kPoolWorkFrom}, false); });
    EXPECT_THROW(counted_run(stopped, pm::Work{pm::kPoolWorkFrom}, true), pm::Stopped);
    thread.join();
    EXPECT_EQ(others.size(), 2000u);
}

// A run whose items outlast the grace is left to end on its own, holding
// what it reads; the starting thread answers within the grace.
TEST(Stopping, ADetachableRunLeavesLongItemsBehind) {
    auto held = std::make_shared<std::atomic<int>>(0);
    const std::weak_ptr<std::atomic<int>> watch = held;
    pm::StopControl control;
    control.poll = [](void*) { return true; };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(pm::run_detachable(control, pm::Work{pm::kPoolWorkFrom},
                                    [held] {
                                        pm::parallel_map(0, 1, [&](std::int64_t) {
                                            std::this_thread::sleep_for(1500ms);
                                            return ++*held;
                                        });
                                    },
                                    100ms),
                 pm::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    held.reset();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!watch.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(watch.expired());

    // Whole when nothing asks to stop; failures travel as ever.
    control.poll = [](void*) { return false; };
    int value = 0;
    pm::run_detachable(control, pm::Work{pm::kPoolWorkFrom}, [&] { value = 7; }, 100ms);
    EXPECT_EQ(value, 7);
    EXPECT_THROW(pm::run_detachable(control, pm::Work{1}, [] { throw std::logic_error("x"); }, 100ms),
                 std::logic_error);
}

TEST(Sharing, ATableOfAnotherLayoutIsRefused) {
    EXPECT_TRUE(pm::share_pool(pm::pool_entry_points()));  // its own: nothing changes
    std::vector<std::uint32_t> other(64, 0);
    EXPECT_FALSE(pm::share_pool(other.data()));
    EXPECT_FALSE(pm::share_pool(nullptr));
    EXPECT_EQ(pm::join([] { return 1; }, [] { return 2; }).second, 2);
}

// ---------------------------------------------------------------------------
// Fork: the parent's workers are not copied into a child, which must build a
// pool of its own, reading the environment anew.

// The exit status of `child` run in a forked process; -1 if it hangs.
template <class F>
int run_in_child(F child) {
    const pid_t pid = fork();
    if (pid == 0) _exit(child());
    int status = 0;
    for (int waited_ms = 0; waitpid(pid, &status, WNOHANG) != pid; waited_ms += 5) {
        if (waited_ms > 20000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

TEST(Fork, ChildBuildsItsOwnPool) {
#if defined(POOL_TEST_TSAN) || defined(POOL_TEST_ASAN)
    // A sanitizer runtime's own locks may be held by a parent thread at the
    // fork, which can hang the child; the plain build covers this.
    GTEST_SKIP() << "sanitizer runtimes are not fork-safe in a threaded process";
#endif
    const std::size_t parent_threads = pm::pool_thread_count();
    const int status = run_in_child([] {
        setenv("RAYON_NUM_THREADS", "3", 1);
        if (pm::pool_thread_count() != 3) return 1;
        setenv("RAYON_NUM_THREADS", "5", 1);  // read once, at creation
        if (fib_join(15) != 610 || pm::pool_thread_count() != 3) return 2;
        return pm::parallel_map(0, 999, [](std::int64_t i) { return i; }).at(999) == 999 ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(pm::join([] { return 1; }, [] { return 2; }).first, 1);
    EXPECT_EQ(pm::pool_thread_count(), parent_threads);
}

// Limits the address space to `room` bytes beyond what is in use, asks for
// 65535 workers, and returns the previous limit; false when it cannot.
bool leave_room_for_a_few_stacks(rlim_t room, rlimit& saved) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    getrlimit(RLIMIT_AS, &saved);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + room;
    setenv("RAYON_NUM_THREADS", "65535", 1);
    return setrlimit(RLIMIT_AS, &tight) == 0;
}

TEST(Fork, ThreadStartFailureIsReportedAndRetried) {
#if defined(POOL_TEST_TSAN) || defined(POOL_TEST_ASAN)
    GTEST_SKIP() << "needs a small address-space limit, which sanitizers cannot live with";
#endif
    const int status = run_in_child([] {
        // Room for a few dozen thread stacks, not for 65535 of them.
        rlimit saved{};
        if (!leave_room_for_a_few_stacks(rlim_t{512} << 20, saved)) return 10;
        try {
            pm::join([] { return 1; }, [] { return 2; });
            return 1;
        } catch (const pm::InternalFailure& e) {
            const std::string prefix = "The global thread pool has not been initialized.";
            if (std::string(e.what()).rfind(prefix, 0) != 0) return 2;
        }
        // Nothing was created, so the next call tries again.
        setrlimit(RLIMIT_AS, &saved);
        setenv("RAYON_NUM_THREADS", "2", 1);
        if (pm::join([] { return 1; }, [] { return 2; }) != std::make_pair(1, 2)) return 4;
        return pm::pool_thread_count() == 2 ? 0 : 5;
    });
    EXPECT_EQ(status, 0);
}

// A stoppable run that may go on without the pool computes everything on the
// calling thread when the threads cannot start, and creates no pool for work
// that runs there anyway.
TEST(Fork, WithoutThreadsAStoppableRunStaysOnTheCallingThread) {
#if defined(POOL_TEST_TSAN) || defined(POOL_TEST_ASAN)
    GTEST_SKIP() << "needs a small address-space limit, which sanitizers cannot live with";
#endif
    const int status = run_in_child([] {
        rlimit saved{};
        if (!leave_room_for_a_few_stacks(rlim_t{64} << 20, saved)) return 10;
        pm::PerWorker<int> unused;
        if (unused.local() != nullptr) return 1;
        pm::StopControl control;
        control.run_here_without_pool = true;
        const auto caller = std::this_thread::get_id();
        const auto here = pm::run_stoppable(control, [&] {
            return pm::parallel_map(0, 99, [&](std::int64_t) {
                return pm::join([&] { return std::this_thread::get_id() == caller; }, [] { return true; }).first;
            });
        });
        if (!control.ran_without_pool || here.size() != 100u) return 2;
        for (const bool b : here)
            if (!b) return 3;
        try {
            pm::join([] { return 1; }, [] { return 2; });  // elsewhere the failure stands
            return 4;
        } catch (const pm::InternalFailure&) {
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
