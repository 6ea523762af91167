// The worker pool: the scheduler behind join and parallel_map, and the
// lifetime of the one process-wide instance (its size is pool_size.cpp's).
#include "pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "error.hpp"
#include "forced_unwind.hpp"
#include "pool_size.hpp"
#include "thread_storage.hpp"

namespace parsimetrics {

// ===========================================================================
// Scheduler

namespace detail {

namespace {

// Growable ring of job pointers; the owning worker's deque mutex guards it.
class JobRing {
public:
    JobRing() : slots_(64) {}

    bool empty() const { return head_ == tail_; }
    std::size_t size() const { return tail_ - head_; }

    // False when the ring is full and cannot grow.
    bool push_back(Job* job) noexcept {
        if (size() == slots_.size()) {
            try {
                grow();
            } catch (...) {
                return false;
            }
        }
        slots_[tail_++ & mask()] = job;
        return true;
    }
    Job* back() const { return slots_[(tail_ - 1) & mask()]; }
    Job* pop_back() { return slots_[--tail_ & mask()]; }
    Job* pop_front() { return slots_[head_++ & mask()]; }

private:
    std::size_t mask() const { return slots_.size() - 1; }
    void grow() {
        std::vector<Job*> larger(slots_.size() * 2);
        for (std::size_t i = head_; i != tail_; ++i) larger[i & (larger.size() - 1)] = slots_[i & mask()];
        slots_.swap(larger);
    }

    std::vector<Job*> slots_;  // power-of-two length
    std::size_t head_ = 0;     // both indices only ever grow
    std::size_t tail_ = 0;
};

// Spinning rounds an idle worker spends searching before it goes to sleep:
// the first ones only pause the processor, the rest yield it.  Long enough to
// catch the next task of a busy computation, short enough not to burn a core
// between calls.
constexpr int pause_rounds = 16;
constexpr int spin_rounds = 64;

void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Pieces per thread that parallel_map cuts its range into: enough slack for
// uneven tasks, few enough that trivial indices cost next to nothing.
constexpr std::size_t pieces_per_thread = 8;

}  // namespace

class Registry;

class Worker {
public:
    Worker(Registry& registry, std::size_t index)
        : registry_(registry), index_(index), rng_(0x9E3779B97F4A7C15ull * (index + 1)) {}

    Registry& registry() const { return registry_; }
    std::size_t index() const { return index_; }

    bool push(Job* job) noexcept;
    bool take_back(Job* job) noexcept;
    Job* pop_local() noexcept;
    Job* steal() noexcept;
    bool has_queued() const noexcept { return queued_.load(std::memory_order_seq_cst) != 0; }

    template <class Done>
    void wait_until(const Done& done) noexcept;

    // Wakes the worker if it sleeps; true when it did.
    bool wake() noexcept;
    bool maybe_asleep() const noexcept { return maybe_asleep_.load(std::memory_order_acquire); }

    void main_loop() noexcept;

private:
    template <class Done>
    void sleep(const Done& done) noexcept;
    std::uint64_t next_random() noexcept {
        rng_ ^= rng_ << 13;
        rng_ ^= rng_ >> 7;
        rng_ ^= rng_ << 17;
        return rng_;
    }

    Registry& registry_;
    const std::size_t index_;

    // Jobs this worker offers: it pushes and takes back at the back, thieves
    // take the oldest from the front.  `queued_` mirrors the length so that
    // searching workers pass empty deques without touching the lock.
    std::mutex deque_mutex_;
    JobRing deque_;
    std::atomic<std::size_t> queued_{0};

    enum class SleepState { awake, asleep, woken };
    std::mutex sleep_mutex_;
    std::condition_variable sleep_cv_;
    SleepState sleep_state_ = SleepState::awake;  // guarded by sleep_mutex_
    std::atomic<bool> maybe_asleep_{false};       // lock-free hint for wakers

    std::uint64_t rng_;  // victim choice; owner only
};

class Registry {
public:
    explicit Registry(std::size_t thread_count) {
        workers_.reserve(thread_count);
        for (std::size_t i = 0; i < thread_count; ++i) {
            workers_.push_back(std::make_unique<Worker>(*this, i));
        }
    }

    std::size_t size() const noexcept { return workers_.size(); }
    Worker& worker(std::size_t i) const noexcept { return *workers_[i]; }

    // Starts every worker thread.  If one cannot be started, those already
    // running are stopped and joined, so the registry can be discarded, and
    // the failure is reported as the pool not having been initialized.
    void start() {
        std::vector<std::thread> threads;
        threads.reserve(workers_.size());
        for (std::size_t i = 0; i < workers_.size(); ++i) {
            try {
                threads.emplace_back([w = workers_[i].get()] { w->main_loop(); });
            } catch (const std::system_error& e) {
                stop(threads);
                throw InternalFailure("The global thread pool has not been initialized. "
                                      "Could not start worker thread " +
                                      std::to_string(i + 1) + " of " +
                                      std::to_string(workers_.size()) + ": " + e.what());
            } catch (...) {
                stop(threads);  // std::bad_alloc: no memory for the thread's record
                throw;
            }
        }
        // A worker without its thread-local storage could not report a
        // failure (see thread_storage.hpp); it stops, and so does the pool.
        bool all_ready;
        {
            std::unique_lock lock(start_mutex_);
            start_cv_.wait(lock, [&] { return started_ == threads.size(); });
            all_ready = unready_ == 0;
        }
        if (!all_ready) {
            stop(threads);
            throw std::bad_alloc();
        }
        // The workers run until the process ends and are never joined.
        for (auto& thread : threads) thread.detach();
    }

    // Each worker reports once, as it starts, whether it can run tasks.
    void worker_started(bool ready) noexcept {
        std::lock_guard lock(start_mutex_);
        ++started_;
        if (!ready) ++unready_;
        start_cv_.notify_one();
    }

    void inject(Job* job) {
        {
            std::lock_guard lock(injected_mutex_);
            if (!injected_.push_back(job)) throw std::bad_alloc();
            injected_count_.store(injected_.size(), std::memory_order_seq_cst);
        }
        notify_new_work();
    }

    Job* pop_injected() noexcept {
        if (injected_count_.load(std::memory_order_relaxed) == 0) return nullptr;
        std::lock_guard lock(injected_mutex_);
        if (injected_.empty()) return nullptr;
        Job* job = injected_.pop_front();
        injected_count_.store(injected_.size(), std::memory_order_seq_cst);
        return job;
    }

    // The last look of a worker about to sleep.  The seq_cst loads pair with
    // the seq_cst stores of push/inject and the sleeper count: either the
    // sleeper sees the new job here, or the publisher sees the sleeper.
    bool has_visible_work() const noexcept {
        if (injected_count_.load(std::memory_order_seq_cst) != 0) return true;
        for (const auto& w : workers_) {
            if (w->has_queued()) return true;
        }
        return false;
    }

    // Called after a job became available: wakes one sleeping worker.
    void notify_new_work() noexcept {
        if (sleepers.load(std::memory_order_seq_cst) == 0) return;
        const std::size_t n = workers_.size();
        const std::size_t start = next_wake_.fetch_add(1, std::memory_order_relaxed) % n;
        for (std::size_t k = 0; k < n; ++k) {
            Worker& w = *workers_[(start + k) % n];
            if (w.maybe_asleep() && w.wake()) return;
        }
    }

    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> sleepers{0};  // workers asleep and not yet woken

private:
    void stop(std::vector<std::thread>& threads) noexcept {
        stopping.store(true, std::memory_order_seq_cst);
        for (auto& w : workers_) w->wake();
        for (auto& thread : threads) thread.join();
    }

    std::vector<std::unique_ptr<Worker>> workers_;
    std::mutex injected_mutex_;
    JobRing injected_;
    std::atomic<std::size_t> injected_count_{0};
    std::atomic<std::size_t> next_wake_{0};
    std::mutex start_mutex_;
    std::condition_variable start_cv_;
    std::size_t started_ = 0;  // guarded by start_mutex_, as is unready_
    std::size_t unready_ = 0;
};

namespace {

thread_local Worker* t_current_worker = nullptr;
thread_local Scope* t_current_scope = nullptr;

// Runs a job inside the stoppable run it belongs to.  The job may vanish as
// soon as it has run, so its run is read first.
void run_job(Job* job) noexcept {
    Scope* const saved = std::exchange(t_current_scope, job->scope());
    job->execute();
    t_current_scope = saved;
}

}  // namespace

bool Worker::push(Job* job) noexcept {
    {
        std::lock_guard lock(deque_mutex_);
        if (!deque_.push_back(job)) return false;
        queued_.store(deque_.size(), std::memory_order_seq_cst);
    }
    registry_.notify_new_work();
    return true;
}

bool Worker::take_back(Job* job) noexcept {
    // Only thieves lower the count, so a zero seen here is not stale: the
    // deque has been emptied, the job with it.
    if (queued_.load(std::memory_order_relaxed) == 0) return false;
    std::lock_guard lock(deque_mutex_);
    if (deque_.empty() || deque_.back() != job) return false;
    deque_.pop_back();
    queued_.store(deque_.size(), std::memory_order_seq_cst);
    return true;
}

Job* Worker::pop_local() noexcept {
    if (queued_.load(std::memory_order_relaxed) == 0) return nullptr;
    std::lock_guard lock(deque_mutex_);
    if (deque_.empty()) return nullptr;
    Job* job = deque_.pop_back();
    queued_.store(deque_.size(), std::memory_order_seq_cst);
    return job;
}

Job* Worker::steal() noexcept {
    const std::size_t n = registry_.size();
    if (n < 2) return nullptr;
    const std::size_t start = static_cast<std::size_t>(next_random() % n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t v = (start + k) % n;
        if (v == index_) continue;
        Worker& victim = registry_.worker(v);
        if (victim.queued_.load(std::memory_order_relaxed) == 0) continue;
        std::lock_guard lock(victim.deque_mutex_);
        if (victim.deque_.empty()) continue;
        Job* job = victim.deque_.pop_front();
        victim.queued_.store(victim.deque_.size(), std::memory_order_seq_cst);
        return job;
    }
    return nullptr;
}

template <class Done>
void Worker::wait_until(const Done& done) noexcept {
    int idle_rounds = 0;
    while (!done()) {
        Job* job = pop_local();
        if (job == nullptr) job = steal();
        if (job == nullptr) job = registry_.pop_injected();
        if (job != nullptr) {
            run_job(job);
            idle_rounds = 0;
        } else if (idle_rounds < spin_rounds) {
            if (idle_rounds < pause_rounds) {
                for (int i = 0; i < 32; ++i) cpu_relax();
            } else {
                std::this_thread::yield();
            }
            ++idle_rounds;
        } else {
            sleep(done);
            idle_rounds = 0;
        }
    }
}

// The protocol, and why it loses no wake-up: pool_sleep.md.
template <class Done>
void Worker::sleep(const Done& done) noexcept {
    std::unique_lock lock(sleep_mutex_);
    sleep_state_ = SleepState::asleep;
    maybe_asleep_.store(true, std::memory_order_relaxed);  // published by the increment
    registry_.sleepers.fetch_add(1, std::memory_order_seq_cst);

    // Whoever sets `done` or publishes work after this point sees us in the
    // sleeper count (or takes our lock to set the latch), so checking once
    // more under the lock cannot miss a wake-up.
    if (done() || registry_.has_visible_work()) {
        sleep_state_ = SleepState::awake;
        maybe_asleep_.store(false, std::memory_order_relaxed);
        registry_.sleepers.fetch_sub(1, std::memory_order_seq_cst);
        return;
    }
    sleep_cv_.wait(lock, [this] { return sleep_state_ != SleepState::asleep; });
    sleep_state_ = SleepState::awake;
}

bool Worker::wake() noexcept {
    std::lock_guard lock(sleep_mutex_);
    if (sleep_state_ != SleepState::asleep) return false;
    sleep_state_ = SleepState::woken;
    maybe_asleep_.store(false, std::memory_order_relaxed);
    registry_.sleepers.fetch_sub(1, std::memory_order_seq_cst);
    sleep_cv_.notify_one();
    return true;
}

void Worker::main_loop() noexcept {
    const bool ready = reserve_thread_storage();
    registry_.worker_started(ready);
    if (!ready) return;
    t_current_worker = this;
    wait_until([this] { return registry_.stopping.load(std::memory_order_acquire); });
    t_current_worker = nullptr;
}

// ---------------------------------------------------------------------------
// The process-wide instance.

namespace {

// The live registry, or null before the first use (and in a freshly forked
// child).  It is never deleted: its workers sleep inside it until the process
// ends, and destroying it at exit would pull the mutexes they wait on from
// under them.
std::atomic<Registry*> g_registry{nullptr};
std::mutex g_creation_mutex;
bool g_fork_handlers_installed = false;  // guarded by g_creation_mutex

// Holding the creation mutex across fork() means no creation is half done in
// the child.  The child keeps only the forking thread, so the parent's pool
// is abandoned there (leaked, its mutexes possibly held by threads that do
// not exist) and the next parallel call builds a new one.
void before_fork() { g_creation_mutex.lock(); }
void after_fork_in_parent() { g_creation_mutex.unlock(); }
void after_fork_in_child() {
    g_registry.store(nullptr, std::memory_order_relaxed);
    t_current_worker = nullptr;
    t_current_scope = nullptr;
    g_creation_mutex.unlock();
}

// The size a pool created now would have: the environment is read then.
std::size_t planned_size() {
    return thread_count_from_env([](const char* name) -> const char* { return std::getenv(name); },
                                 default_thread_count());
}

Registry& global_registry() {
    if (Registry* registry = g_registry.load(std::memory_order_acquire)) return *registry;

    std::lock_guard lock(g_creation_mutex);
    if (Registry* registry = g_registry.load(std::memory_order_relaxed)) return *registry;

    if (!g_fork_handlers_installed) {
        // Without the handlers a forked child would wait forever on workers
        // that were not copied; the pool itself works either way.
        g_fork_handlers_installed =
            pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) == 0;
    }
    auto registry = std::make_unique<Registry>(planned_size());
    registry->start();
    // Deliberately leaked (see g_registry).
    Registry* live = registry.release();
    g_registry.store(live, std::memory_order_release);
    return *live;
}

void split_range(std::size_t lo, std::size_t hi, std::size_t grain, const RangeBody& body) {
    if (hi - lo <= grain) {
        body(lo, hi);
        return;
    }
    const std::size_t mid = lo + (hi - lo) / 2;
    join([&] { split_range(lo, mid, grain, body); },
         [&] { split_range(mid, hi, grain, body); });
}

}  // namespace

// ---------------------------------------------------------------------------
// This shared object's pool, and the one its operations use.

void LockLatch::set() noexcept {
    // Notify while holding the lock: the waiter owns this latch and may
    // destroy it as soon as it can observe `done_`.
    std::lock_guard lock(mutex_);
    done_ = true;
    cv_.notify_one();
}

void LockLatch::wait() noexcept {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return done_; });
}

bool LockLatch::wait_until(std::chrono::steady_clock::time_point deadline) noexcept {
    std::unique_lock lock(mutex_);
    return cv_.wait_until(lock, deadline, [this] { return done_; });
}

bool Scope::stop_requested() {
    if (requested.load(std::memory_order_relaxed)) return true;
    if (pthread_equal(pthread_self(), owner) && std::chrono::steady_clock::now() >= next_poll) poll_now();
    return requested.load(std::memory_order_relaxed);
}

void Scope::poll_now() {
    next_poll = std::chrono::steady_clock::now() + kPollInterval;
    if (poll == nullptr) return;
    // A poll that ends other than by answering (it threw, or its thread is
    // being ended) stops the run as well.
    OnUnwind stop_run([this] {
        poll_threw = true;
        requested.store(true, std::memory_order_relaxed);
    });
    const bool stop = poll(context);
    stop_run.dismiss();
    if (stop) requested.store(true, std::memory_order_relaxed);
}

void stop_point(Scope* scope) {
    if (scope->stop_requested()) throw Stopped{};
}

namespace {

// The functions that reach the pool's shared state: the registry, the
// workers and the thread-local variables.  Everything else is code that
// works the same in any shared object.
struct EntryPoints {
    // Both sides must agree on these, or the pool is not shared.
    std::uint32_t version;
    std::uint32_t size;
    std::uint32_t job_size, scope_size, spin_latch_size, lock_latch_size;

    Worker* (*current_worker)() noexcept;
    Scope* (*current_scope)() noexcept;
    Scope* (*exchange_scope)(Scope*) noexcept;
    bool (*push_job)(Worker*, Job*) noexcept;
    bool (*take_back)(Worker*, Job*) noexcept;
    void (*wait_until)(Worker*, const SpinLatch&) noexcept;
    void (*wake)(Worker*) noexcept;
    bool (*pool_ready)(Scope*);
    void (*inject_and_wait)(Job*, LockLatch&);
    std::size_t (*worker_pool_size)(const Worker*) noexcept;
    std::size_t (*worker_index)(const Worker*) noexcept;
    std::size_t (*thread_count)();
    std::size_t (*planned_thread_count)();
};

// Raised whenever the table or a type that crosses it changes meaning.
constexpr std::uint32_t kEntryPointsVersion = 2;

namespace own {

Worker* current_worker() noexcept { return t_current_worker; }
Scope* current_scope() noexcept { return t_current_scope; }
Scope* exchange_scope(Scope* scope) noexcept { return std::exchange(t_current_scope, scope); }
bool push_job(Worker* worker, Job* job) noexcept { return worker->push(job); }
bool take_back(Worker* worker, Job* job) noexcept { return worker->take_back(job); }
void wait_until(Worker* worker, const SpinLatch& latch) noexcept {
    worker->wait_until([&latch] { return latch.probe(); });
}
void wake(Worker* worker) noexcept { worker->wake(); }

bool pool_ready(Scope* scope) {
    if (scope != nullptr && scope->without_pool) return false;
    try {
        global_registry();
        return true;
    } catch (const InternalFailure&) {
        if (scope == nullptr || !scope->run_here_without_pool) throw;
    } catch (const std::bad_alloc&) {
        if (scope == nullptr || !scope->run_here_without_pool) throw;
    }
    scope->without_pool = true;
    return false;
}

// The owner of a stoppable run wakes every kPollInterval to consult the
// poll.  Once the run is to stop, it waits for the job for good when the job
// lives in its frame, or for the run's grace when the job owns itself.
void wait_polling(LockLatch& latch, Scope& scope) {
    const bool may_leave = scope.grace.count() >= 0;
    while (!scope.requested.load(std::memory_order_relaxed)) {
        if (latch.wait_until(scope.next_poll)) return;
        // However the poll ends early (it threw, or the thread is being
        // ended), the job ends first when it lives in this frame; one that
        // owns itself is left to finish alone.
        OnUnwind settle([&] {
            if (may_leave)
                scope.left = true;
            else
                latch.wait();
        });
        scope.poll_now();
        settle.dismiss();
    }
    if (!may_leave)
        latch.wait();
    else if (!latch.wait_until(std::chrono::steady_clock::now() + scope.grace))
        scope.left = true;
}

void inject_and_wait(Job* job, LockLatch& latch) {
    Scope* const scope = job->scope();
    global_registry().inject(job);
    if (scope != nullptr && pthread_equal(pthread_self(), scope->owner))
        wait_polling(latch, *scope);
    else
        latch.wait();
}

std::size_t worker_pool_size(const Worker* worker) noexcept { return worker->registry().size(); }
std::size_t worker_index(const Worker* worker) noexcept { return worker->index(); }
std::size_t thread_count() { return global_registry().size(); }
std::size_t planned_thread_count() {
    if (const Registry* registry = g_registry.load(std::memory_order_acquire)) return registry->size();
    return planned_size();
}

}  // namespace own

constexpr EntryPoints kOwnEntryPoints = {
    kEntryPointsVersion, sizeof(EntryPoints), sizeof(Job), sizeof(Scope), sizeof(SpinLatch), sizeof(LockLatch),
    own::current_worker, own::current_scope, own::exchange_scope, own::push_job, own::take_back,
    own::wait_until, own::wake, own::pool_ready, own::inject_and_wait, own::worker_pool_size,
    own::worker_index, own::thread_count, own::planned_thread_count,
};

// Written once, before this shared object starts any operation.
std::atomic<const EntryPoints*> g_entry_points{&kOwnEntryPoints};

const EntryPoints& pool() noexcept { return *g_entry_points.load(std::memory_order_relaxed); }

}  // namespace

Job::Job(ExecuteFn execute) : execute_(execute), scope_(pool().current_scope()) {}

void SpinLatch::set() noexcept {
    // Read the owner first: once `done_` is set the latch may be gone.
    Worker* owner = owner_;
    done_.store(true, std::memory_order_release);
    pool().wake(owner);
}

Scope* current_scope() noexcept { return pool().current_scope(); }

Scope* exchange_scope(Scope* scope) noexcept { return pool().exchange_scope(scope); }

Worker* current_worker() noexcept { return pool().current_worker(); }

bool push_job(Worker* worker, Job* job) noexcept { return pool().push_job(worker, job); }

bool take_back(Worker* worker, Job* job) noexcept { return pool().take_back(worker, job); }

void wait_until(Worker* worker, const SpinLatch& latch) noexcept { pool().wait_until(worker, latch); }

bool pool_ready(Scope* scope) { return pool().pool_ready(scope); }

void inject_and_wait(Job* job, LockLatch& latch) { pool().inject_and_wait(job, latch); }

std::size_t worker_pool_size(const Worker* worker) noexcept { return pool().worker_pool_size(worker); }

std::size_t worker_index(const Worker* worker) noexcept { return pool().worker_index(worker); }

namespace {

// A run that owns itself: its job holds it until the job has ended, so the
// thread that started it may leave first.
struct DetachedRun : Job {
    DetachedRun() : Job(&DetachedRun::execute, &scope) {}

    static void execute(Job* job) noexcept {
        auto* run = static_cast<DetachedRun*>(job);
        const std::shared_ptr<DetachedRun> hold = std::move(run->self);
        try {
            run->work();
        } catch (...) {
            run->error = std::current_exception();
        }
        run->latch.set();
    }  // the run may end here, with the last hold

    Scope scope;
    LockLatch latch;
    std::function<void()> work;
    std::exception_ptr error;
    std::shared_ptr<DetachedRun> self;
};

}  // namespace

void parallel_for(std::size_t count, RangeBody body) {
    if (count == 0) return;
    Worker* worker = current_worker();
    if (worker == nullptr) {
        if (pool_ready(current_scope()))
            run_outside([&] { parallel_for(count, body); });
        else
            body(0, count);
        return;
    }
    const std::size_t threads = worker_pool_size(worker);
    if (threads == 1) {
        body(0, count);
        return;
    }
    const std::size_t pieces = threads * pieces_per_thread;
    const std::size_t grain = std::max<std::size_t>(1, count / pieces + (count % pieces != 0));
    split_range(0, count, grain, body);
}

std::size_t map_length(std::int64_t first, std::int64_t last) {
    if (last < first) return 0;
    const std::uint64_t span = static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(first);
    if (span >= std::numeric_limits<std::size_t>::max()) {
        throw std::length_error("parallel_map: range too long");
    }
    return static_cast<std::size_t>(span) + 1;
}

}  // namespace detail

std::size_t pool_thread_count() { return detail::pool().thread_count(); }

std::size_t planned_thread_count() { return detail::pool().planned_thread_count(); }

void run_detachable(StopControl& control, Work work, std::function<void()> f, std::chrono::milliseconds grace) {
    if (detail::runs_on_caller(work)) return run_stoppable(control, f);
    auto run = std::make_shared<detail::DetachedRun>();
    detail::Scope& scope = run->scope;
    scope.poll = control.poll;
    scope.context = control.context;
    scope.owner = pthread_self();
    scope.next_poll = std::chrono::steady_clock::now() + detail::kPollInterval;
    scope.run_here_without_pool = control.run_here_without_pool;
    scope.grace = grace;
    if (!detail::pool_ready(&scope)) return run_stoppable(control, f);  // tries the pool once more, then runs here
    run->work = std::move(f);
    run->self = run;
    // Left early (a poll threw, or the thread is being ended) and not left
    // to finish alone: the job was never handed in.
    OnUnwind release([&] {
        if (!scope.left) run->self.reset();
    });
    detail::inject_and_wait(run.get(), run->latch);
    release.dismiss();
    if (scope.left) throw Stopped{};
    if (run->error) {
        try {
            std::rethrow_exception(run->error);
        } catch (const Stopped&) {
            throw;
        } catch (...) {
            if (scope.requested.load(std::memory_order_relaxed)) throw Stopped{};
            throw;
        }
    }
    if (scope.requested.load(std::memory_order_relaxed)) throw Stopped{};
}

const void* pool_entry_points() noexcept { return &detail::kOwnEntryPoints; }

bool share_pool(const void* entry_points) noexcept {
    const auto* theirs = static_cast<const detail::EntryPoints*>(entry_points);
    const detail::EntryPoints& ours = detail::kOwnEntryPoints;
    if (theirs == nullptr || theirs->version != ours.version || theirs->size != ours.size ||
        theirs->job_size != ours.job_size || theirs->scope_size != ours.scope_size ||
        theirs->spin_latch_size != ours.spin_latch_size || theirs->lock_latch_size != ours.lock_latch_size)
        return false;
    detail::g_entry_points.store(theirs, std::memory_order_relaxed);
    return true;
}

}  // namespace parsimetrics
