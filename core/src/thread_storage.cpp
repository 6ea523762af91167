#include "thread_storage.hpp"

#include <pthread.h>

#include <cstdlib>
#include <exception>

#include "pool.hpp"

namespace parsimetrics {

namespace {

// Marks the threads whose blocks exist.  Keys are kept in the thread's
// descriptor rather than in thread-local storage, so looking one up never
// allocates.  Without a key (the process ran out of them) every call reserves.
struct ReadyMark {
    pthread_key_t key{};
    bool valid = pthread_key_create(&key, nullptr) == 0;
};
const ReadyMark g_ready;

// Room freed just before the blocks are allocated on this thread: far more
// than they take, below the sizes the allocator maps from the system one by
// one, so what it frees here it hands out again.
constexpr std::size_t kRoom = 32 * 1024;

}  // namespace

bool reserve_thread_storage() noexcept {
    if (g_ready.valid && pthread_getspecific(g_ready.key) != nullptr) return true;
    // Volatile: clang drops an allocation that is only freed, and with it
    // the check that memory is left.
    void* volatile room = std::malloc(kRoom);
    if (room == nullptr) return false;
    std::free(room);
    // Each call reads its library's block, which allocates it.
    [[maybe_unused]] volatile int unwinding = std::uncaught_exceptions();
    [[maybe_unused]] detail::Worker* volatile worker = detail::current_worker();
    // Failing to set the mark (no memory for it) only means checking again.
    if (g_ready.valid) pthread_setspecific(g_ready.key, &g_ready);
    return true;
}

}  // namespace parsimetrics
