// The process-wide worker pool and its two operations, `join` (fork-join of
// two tasks) and `parallel_map` (an index-ordered map over an integer range).
//
// The scheduler is a small type-erased core (pool.cpp) under thin templates:
// every task is a `detail::Job` living in the stack frame of the thread that
// waits for it, so no task is ever allocated on the heap.  Each worker owns a
// deque of jobs it offers to the others; it pushes and takes back at one end,
// idle workers steal from the other.  Threads outside the pool hand the whole
// operation in through an injection queue and sleep until it completes.
//
// A task that throws does not take the pool down: the exception is stored in
// the task's slot and rethrown in the waiting thread, but only once both sides
// of the `join` have finished, so nothing keeps running on behalf of a call
// that already reported a failure.
//
// An operation started inside `run_stoppable` can be stopped from the thread
// that started it: its parallel maps then start no further index, and the
// starting thread raises Stopped once the indices already running are done.
//
// Several shared objects of one process may each link this code; one of them
// hands its pool to the others (`pool_entry_points`, `share_pool`), so that
// the process runs one set of worker threads.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "forced_unwind.hpp"

namespace parsimetrics {

// The number of worker threads of the live pool, creating it if needed.
std::size_t pool_thread_count();

// The number of worker threads of the live pool, or of the pool the next
// operation would create; creates nothing.
std::size_t planned_thread_count();

// Raised where a stoppable run stops (see run_stoppable).  Not a failure:
// the thread that started the run asked for it.
class Stopped : public std::exception {
public:
    const char* what() const noexcept override { return "stopped"; }
};

// How much an operation does, in symbols factor counted.  A thread outside
// the pool hands an operation in and sleeps until a worker has run it: two
// thread wake-ups, some 10 to 20 microseconds (bench_pool), as long as the
// factor counts of a few thousand symbols take.  An operation smaller than
// kPoolWorkFrom started outside the pool runs on the calling thread.
struct Work {
    std::size_t symbols;
};
inline constexpr std::size_t kPoolWorkFrom = std::size_t{1} << 12;

// ---------------------------------------------------------------------------
// Scheduler internals used by the templates below.
namespace detail {

class Worker;
struct Scope;

// A unit of work as the scheduler sees it.  Concrete jobs are templates that
// embed the callable's address and a result slot; `execute` runs the job and
// signals its latch, after which the job may vanish at any moment (its owner
// is free to return from the frame that holds it).
class Job {
public:
    using ExecuteFn = void (*)(Job*) noexcept;
    // A job belongs to the stoppable run of the thread that creates it, if
    // any; whichever thread executes it works inside that run meanwhile.
    explicit Job(ExecuteFn execute);
    Job(ExecuteFn execute, Scope* scope) : execute_(execute), scope_(scope) {}
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    void execute() noexcept { execute_(this); }
    Scope* scope() const noexcept { return scope_; }

private:
    ExecuteFn execute_;
    Scope* scope_;
};

// Completion flag of a job whose owner is a worker.  The owner keeps running
// other jobs while it waits, and may be asleep when the flag is set, so
// setting it also wakes the owner.
class SpinLatch {
public:
    explicit SpinLatch(Worker* owner) : owner_(owner) {}
    bool probe() const noexcept { return done_.load(std::memory_order_acquire); }
    void set() noexcept;

private:
    std::atomic<bool> done_{false};
    Worker* owner_;
};

// Completion flag for a thread outside the pool, which simply sleeps.
class LockLatch {
public:
    void set() noexcept;
    void wait() noexcept;
    // Waits until the latch is set or `deadline` passes; true when set.
    bool wait_until(std::chrono::steady_clock::time_point deadline) noexcept;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

// What a thread that may stop its operation shares with the threads that
// run its jobs.  Only `requested` is read by others; the rest belongs to the
// starting thread.
struct Scope {
    using Poll = bool (*)(void* context);

    std::atomic<bool> requested{false};
    Poll poll = nullptr;  // called on the starting thread only
    void* context = nullptr;
    pthread_t owner{};
    std::chrono::steady_clock::time_point next_poll{};
    bool run_here_without_pool = false;
    bool without_pool = false;  // the pool could not start: everything runs here
    bool poll_threw = false;
    // How long the starting thread waits for the job once the run is to
    // stop, before it leaves the job to end on its own; negative: for good.
    std::chrono::milliseconds grace{-1};
    bool left = false;  // the starting thread left without the job

    // True once the run is to stop.  On the starting thread (which runs the
    // work itself when the pool is small work or absent) this is also where
    // the poll is consulted, at most once per kPollInterval.
    bool stop_requested();
    // Consults the poll now.  A poll that throws (the thread is being ended)
    // stops the run first.
    void poll_now();
};

// How often the starting thread of a stoppable run consults its poll.
inline constexpr std::chrono::milliseconds kPollInterval{40};

// The stoppable run of this thread (the one it started, or the one of the
// job it is executing), or null.
Scope* current_scope() noexcept;
// Makes `scope` this thread's run and returns the previous one.
Scope* exchange_scope(Scope* scope) noexcept;

// The worker running on this thread, or null outside the pool.
Worker* current_worker() noexcept;

// Offers a job to the other workers.  False when the deque could not grow;
// the caller then runs the job itself.
bool push_job(Worker* worker, Job* job) noexcept;

// Takes `job` back if it is still at the owner's end of the deque, that is,
// if no other worker has stolen it.
bool take_back(Worker* worker, Job* job) noexcept;

// Runs other jobs (or sleeps) until the latch is set.
void wait_until(Worker* worker, const SpinLatch& latch) noexcept;

// Creates the pool if needed, hands the job in from outside and sleeps until
// its latch is set.  Throws InternalFailure when the pool cannot be created.
// The thread that started a stoppable run wakes every kPollInterval to
// consult the poll.
void inject_and_wait(Job* job, LockLatch& latch);

// Number of threads of the pool that `worker` belongs to.
std::size_t worker_pool_size(const Worker* worker) noexcept;

// The worker's position in the pool, 0 to N - 1.
std::size_t worker_index(const Worker* worker) noexcept;

// A task returning void yields std::monostate so that it fits in a pair.
template <class R>
using value_t = std::conditional_t<std::is_void_v<R>, std::monostate, std::remove_cvref_t<R>>;

template <class F>
using task_result_t = value_t<std::invoke_result_t<F>>;

// Runs a callable and keeps its result or the exception that ended it.  F is
// the type the caller handed in (possibly an lvalue reference), so the task
// is invoked with the value category it was given.
template <class F>
struct Slot {
    using Value = task_result_t<F>;
    std::optional<Value> value;
    std::exception_ptr error;

    // Not noexcept: a forced unwind may pass (see below).
    void run(std::remove_reference_t<F>& f) {
        try {
            if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
                std::invoke(std::forward<F>(f));
                value.emplace();
            } else {
                value.emplace(std::invoke(std::forward<F>(f)));
            }
        } PARSIMETRICS_CATCH_ALL {
            // Everything travels, std::bad_alloc included: the waiting thread
            // decides what becomes of it.  (A forced unwind goes on: the
            // calling thread is being ended, by its poll, when the task runs
            // there.)
            error = std::current_exception();
        }
    }
};

// A job in the frame of the thread that waits for it.
template <class F, class Latch>
class StackJob : public Job {
public:
    StackJob(std::remove_reference_t<F>& f, Latch& latch)
        : Job(&StackJob::run), f_(f), latch_(latch) {}

    // Runs the job on the owner's thread, without going through the latch.
    void run_inline() { slot.run(f_); }

    Slot<F> slot;

private:
    static void run(Job* job) noexcept {
        auto* self = static_cast<StackJob*>(job);
        self->slot.run(self->f_);
        // Last touch: once the latch is set the owner may destroy *self.
        self->latch_.set();
    }

    std::remove_reference_t<F>& f_;
    Latch& latch_;
};

// Whether an operation of `work` started on this thread runs right here:
// small, and started outside the pool.
inline bool runs_on_caller(Work work) noexcept {
    return work.symbols < kPoolWorkFrom && current_worker() == nullptr;
}

// Throws Stopped when the current stoppable run is to stop.
void stop_point(Scope* scope);

// Creates the pool if needed.  False when it cannot be created and the
// stoppable run `scope` goes on without it (which it then does for good:
// everything runs on the thread that started it); otherwise a failure to
// create it is thrown.
bool pool_ready(Scope* scope);

// Runs `f` as one job on the pool and sleeps until it is done.
template <class F>
task_result_t<F> run_outside(F&& f) {
    LockLatch latch;
    StackJob<F, LockLatch> job(f, latch);
    inject_and_wait(&job, latch);
    if (job.slot.error) std::rethrow_exception(job.slot.error);
    return std::move(*job.slot.value);
}

// a() and then b() on this thread, failures traveling as with join.
template <class A, class B>
std::pair<task_result_t<A>, task_result_t<B>> join_here(std::remove_reference_t<A>& a,
                                                        std::remove_reference_t<B>& b) {
    Slot<A> slot_a;
    slot_a.run(a);
    Slot<B> slot_b;
    slot_b.run(b);
    if (slot_a.error) std::rethrow_exception(slot_a.error);
    if (slot_b.error) std::rethrow_exception(slot_b.error);
    return {std::move(*slot_a.value), std::move(*slot_b.value)};
}

template <class A, class B>
std::pair<task_result_t<A>, task_result_t<B>> join_on_worker(Worker* worker,
                                                             std::remove_reference_t<A>& a,
                                                             std::remove_reference_t<B>& b) {
    SpinLatch latch(worker);
    StackJob<B, SpinLatch> job_b(b, latch);
    const bool offered = push_job(worker, &job_b);

    Slot<A> slot_a;
    slot_a.run(a);

    if (!offered || take_back(worker, &job_b)) {
        job_b.run_inline();
    } else {
        // Stolen: whatever happened to task_a, task_b's frame must not be
        // left while another worker may still be running it.
        wait_until(worker, latch);
    }

    if (slot_a.error) std::rethrow_exception(slot_a.error);
    if (job_b.slot.error) std::rethrow_exception(job_b.slot.error);
    return {std::move(*slot_a.value), std::move(*job_b.slot.value)};
}

// A non-owning reference to `void(std::size_t lo, std::size_t hi)`.
class RangeBody {
public:
    template <class G>
    explicit RangeBody(G& g)
        : context_(&g), call_([](void* c, std::size_t lo, std::size_t hi) {
              (*static_cast<G*>(c))(lo, hi);
          }) {}
    void operator()(std::size_t lo, std::size_t hi) const { call_(context_, lo, hi); }

private:
    void* context_;
    void (*call_)(void*, std::size_t, std::size_t);
};

// Calls body(lo, hi) on disjoint pieces that together cover [0, count).
void parallel_for(std::size_t count, RangeBody body);

// Number of results of parallel_map(first, last, ...).
std::size_t map_length(std::int64_t first, std::int64_t last);

}  // namespace detail

// ---------------------------------------------------------------------------
// Operations.

// Runs a() and b(), possibly in parallel, and returns (a(), b()) once both
// have finished.  A task that throws has its exception rethrown here after
// the other task is done; when both throw, a's exception wins.  A void task
// yields std::monostate.  Callable from any thread, also from inside a task.
template <class A, class B>
auto join(A&& a, B&& b) -> std::pair<detail::task_result_t<A>, detail::task_result_t<B>> {
    if (detail::Worker* worker = detail::current_worker()) {
        return detail::join_on_worker<A, B>(worker, a, b);
    }
    if (!detail::pool_ready(detail::current_scope())) return detail::join_here<A, B>(a, b);
    return detail::run_outside([&] { return join(std::forward<A>(a), std::forward<B>(b)); });
}

// join for an operation of `work` symbols: below kPoolWorkFrom, on a thread
// outside the pool, a() and then b() run on the calling thread, failures
// traveling as above.
template <class A, class B>
auto join(Work work, A&& a, B&& b) -> std::pair<detail::task_result_t<A>, detail::task_result_t<B>> {
    if (!detail::runs_on_caller(work)) return join(std::forward<A>(a), std::forward<B>(b));
    return detail::join_here<A, B>(a, b);
}

// Returns [f(first), f(first + 1), ..., f(last)], each f(i) computed exactly
// once, possibly in parallel, and stored by index; empty when last < first.
// Results must be default-constructible.  Failures travel as with join.  With
// `work` below kPoolWorkFrom, on a thread outside the pool, the indices run
// in order on the calling thread, as on a pool of one thread.
template <class F>
auto parallel_map(Work work, std::int64_t first, std::int64_t last, F&& f)
    -> std::vector<std::remove_cvref_t<std::invoke_result_t<F&, std::int64_t>>> {
    using R = std::remove_cvref_t<std::invoke_result_t<F&, std::int64_t>>;
    static_assert(!std::is_void_v<R>, "parallel_map needs a result per index");
    static_assert(std::is_default_constructible_v<R>,
                  "parallel_map writes into a pre-sized vector of results");

    const std::size_t count = detail::map_length(first, last);
    if (count == 0) return {};

    // std::vector<bool> packs its elements into shared words, which tasks
    // could not write concurrently; collect those results as bytes.
    using Cell = std::conditional_t<std::is_same_v<R, bool>, unsigned char, R>;
    std::vector<Cell> cells(count);
    auto body = [out = cells.data(), &f, first](std::size_t lo, std::size_t hi) {
        // In a stoppable run, no index starts once the run is to stop.
        detail::Scope* const scope = detail::current_scope();
        for (std::size_t i = lo; i < hi; ++i) {
            if (scope != nullptr) detail::stop_point(scope);
            out[i] = static_cast<Cell>(std::invoke(f, first + static_cast<std::int64_t>(i)));
        }
    };
    if (detail::runs_on_caller(work))
        body(0, count);
    else
        detail::parallel_for(count, detail::RangeBody(body));

    if constexpr (std::is_same_v<R, bool>) {
        return std::vector<bool>(cells.begin(), cells.end());
    } else {
        return cells;
    }
}

template <class F>
auto parallel_map(std::int64_t first, std::int64_t last, F&& f) {
    return parallel_map(Work{kPoolWorkFrom}, first, last, std::forward<F>(f));
}

// Scratch space reused by the tasks of one operation: one T per pool worker,
// made when a worker first asks and released with the operation, so a call
// pays for its buffers once rather than once per task, and an operation that
// runs on the calling thread neither makes them nor creates the pool.  A task
// may hold its worker's T only while it runs no join or parallel_map of its
// own (a waiting worker runs other tasks), which keeps every slot to one task
// at a time.
template <class T>
class PerWorker {
public:
    // The calling worker's T, or null on a thread outside the pool.  May
    // throw std::bad_alloc.
    T* local() {
        const detail::Worker* worker = detail::current_worker();
        if (worker == nullptr) return nullptr;
        T* base = base_.load(std::memory_order_acquire);
        if (base == nullptr) {
            std::lock_guard lock(mutex_);
            if (slots_.empty()) slots_.resize(detail::worker_pool_size(worker));
            base = slots_.data();
            base_.store(base, std::memory_order_release);
        }
        return base + detail::worker_index(worker);
    }

private:
    std::atomic<T*> base_{nullptr};
    std::mutex mutex_;
    std::vector<T> slots_;
};

// How the thread that starts a stoppable run keeps control of it.
struct StopControl {
    // Called on the starting thread about every kPollInterval while the run
    // lasts, with `context`; returning true stops the run.  A poll that
    // throws stops it too, and its exception travels on once nothing runs
    // on the run's behalf any more.
    bool (*poll)(void* context) = nullptr;
    void* context = nullptr;
    // When the pool cannot start its threads, run everything on the starting
    // thread instead of failing; `ran_without_pool` then says so afterwards.
    bool run_here_without_pool = false;
    bool ran_without_pool = false;
};

// Runs f(), whose joins and parallel maps may then be stopped through
// `control`: once the poll has asked for it, no further index of a
// parallel_map starts (on any thread), and when the indices already running
// are done this throws Stopped, whatever f() returned or threw.  Only
// operations run on behalf of f() are affected, also when other threads use
// the pool meanwhile.
template <class F>
auto run_stoppable(StopControl& control, F&& f) -> decltype(f()) {
    detail::Scope scope;
    scope.poll = control.poll;
    scope.context = control.context;
    scope.owner = pthread_self();
    scope.next_poll = std::chrono::steady_clock::now() + detail::kPollInterval;
    scope.run_here_without_pool = control.run_here_without_pool;
    struct Restore {
        detail::Scope* previous;
        StopControl& control;
        const detail::Scope& scope;
        ~Restore() {
            detail::exchange_scope(previous);
            control.ran_without_pool = scope.without_pool;
        }
    } restore{detail::exchange_scope(&scope), control, scope};
    try {
        if constexpr (std::is_void_v<decltype(f())>) {
            f();
            if (scope.requested.load(std::memory_order_relaxed)) throw Stopped{};
        } else {
            auto result = f();
            if (scope.requested.load(std::memory_order_relaxed)) throw Stopped{};
            return result;
        }
    } catch (const Stopped&) {
        throw;
    } PARSIMETRICS_CATCH_ALL {
        // A failure that came out of a run already asked to stop is not
        // what the caller waits to hear, unless the poll itself threw it.
        if (scope.requested.load(std::memory_order_relaxed) && !scope.poll_threw) throw Stopped{};
        throw;
    }
}

// Like run_stoppable, for work whose single items may outlast the wait a
// caller can afford: `f` runs as one job on the pool, and once the poll has
// asked to stop, this thread waits at most `grace` for it before it throws
// Stopped without it.  The job then ends on its own (no further index
// starts), and `f` with it, so everything `f` reads must be its own (held by
// its captures).  Work below kPoolWorkFrom symbols, and work without the
// pool, runs on this thread as run_stoppable runs it.
void run_detachable(StopControl& control, Work work, std::function<void()> f, std::chrono::milliseconds grace);

// The entry points of this shared object's pool, for share_pool in another
// shared object of the same process.
const void* pool_entry_points() noexcept;

// Runs every pool operation of this shared object on the pool behind
// `entry_points` (what pool_entry_points returned in another shared object
// built from this same code).  False, and nothing changed, when that pool was
// built with a different layout.  Call it before this shared object starts
// any operation.
bool share_pool(const void* entry_points) noexcept;

}  // namespace parsimetrics
