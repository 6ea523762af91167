// Handlers that let a thread end.
//
// The C library ends a thread (pthread_exit, which the interpreter calls at
// exit on threads still running) by unwinding its stack with a forced unwind
// that must reach the thread's start: cleanups on the way run, handlers must
// not stop it.  libstdc++ names it, abi::__forced_unwind, so a clause before
// a catch-all can pass it on.  libc++abi (the C++ runtime inside the wheels)
// has no name for it, and its catch (...) would take it without being able
// to pass it on: the rethrow starts a new search for a handler, finds none
// and ends the process.  Hence, wherever a forced unwind may arrive:
//
//  - a catch-all is written
//        try { ... } PARSIMETRICS_CATCH_ALL { ... std::current_exception() ... }
//    which under libstdc++ takes everything but a forced unwind, and under
//    libc++ every std::exception (all the code throws, besides the types the
//    handlers before it take);
//  - work that must happen however the scope is left, thread ending
//    included, is a cleanup (OnUnwind), not a handler that rethrows.
#pragma once

#include <exception>
#include <utility>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define PARSIMETRICS_CATCH_ALL      \
    catch (abi::__forced_unwind&) { \
        throw;                      \
    }                               \
    catch (...)
#else
#define PARSIMETRICS_CATCH_ALL catch (const std::exception&)
#endif

namespace parsimetrics {

// Runs `undo` if the scope is left before dismiss(): by an exception or by
// the thread being ended.
template <class F>
class OnUnwind {
public:
    explicit OnUnwind(F undo) : undo_(std::move(undo)) {}
    OnUnwind(const OnUnwind&) = delete;
    OnUnwind& operator=(const OnUnwind&) = delete;
    ~OnUnwind() {
        if (armed_) undo_();
    }
    void dismiss() { armed_ = false; }

private:
    F undo_;
    bool armed_ = true;
};

}  // namespace parsimetrics
