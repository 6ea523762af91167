// How failures of native code reach Python, the same way for every native
// module of the package: which exception a C++ failure becomes, and the one
// frame that every entry point runs its body in.
#pragma once

#include "owned_ref.hpp"

#include <exception>

#include "forced_unwind.hpp"
#include "thread_storage.hpp"

namespace parsimetrics::boundary {

// Raises the package's internal-failure exception (PanicException) with
// `message`.  Each module defines it: the module creates the type, the
// package's other native code looks it up in the module.
void raise_panic(const char* message);

// The pending exception, normalized and (unless the caller only wants what
// it says) carrying its traceback, which is cleared; null when none is
// pending.
PyRef take_exception(bool with_traceback = true);

// Sets the Python exception for a failure caught in native code: memory
// exhaustion is MemoryError; a stopped run leaves the exception that stopped
// it (KeyboardInterrupt if there is none); anything else is PanicException
// with the failure's message.
void set_failure(const std::exception_ptr& error);

// Runs the body of a native entry point and returns what it returns, or null
// with the failure set as a Python exception.
template <class F>
PyObject* guarded(F&& body) {
    // Before anything here may throw (see thread_storage.hpp).
    if (!reserve_thread_storage()) return PyErr_NoMemory();
    try {
        return body();
    } catch (const PythonError&) {
        return nullptr;
    } PARSIMETRICS_CATCH_ALL {  // lets the thread end at interpreter exit (see PyRef)
        set_failure(std::current_exception());
        return nullptr;
    }
}

}  // namespace parsimetrics::boundary
