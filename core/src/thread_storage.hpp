// Thread-local storage of the libraries loaded with the module: the C++
// runtime's per-thread exception state and the pool's own thread-local
// variables.  Loaded at run time (as an extension module is), they get each
// thread's block only on its first use, and when that allocation fails the
// dynamic loader ends the process; it cannot report the failure.  The first
// exception of a thread is such a first use, so under memory exhaustion a
// std::bad_alloc would end the process instead of reaching the caller.
#pragma once

namespace parsimetrics {

// Makes sure the calling thread's blocks exist, so that any later exception
// (std::bad_alloc included) is thrown without allocating.  Cheap once done
// on a thread.  False when memory is exhausted: the caller must then report
// the failure without throwing.
bool reserve_thread_storage() noexcept;

}  // namespace parsimetrics
