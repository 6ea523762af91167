// Owning references to Python objects, for every native unit of the boundary.
#pragma once

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <utility>

namespace parsimetrics::boundary {

// Owning reference; releases on scope exit, so early returns and C++
// exceptions cannot leak Python objects.
//
// Once the interpreter is finalizing, a daemon thread that wants the GIL back
// (inside any call that ran Python code) is ended with pthread_exit, whose
// forced unwind runs these destructors on a thread without a thread state.
// The reference is then left to the ending process: touching the object
// could crash it.
struct PyRef {
    PyObject* p = nullptr;
    PyRef() = default;
    explicit PyRef(PyObject* o) : p(o) {}
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& o) noexcept : p(std::exchange(o.p, nullptr)) {}
    PyRef& operator=(PyRef&& o) noexcept {
        Py_XDECREF(p);
        p = std::exchange(o.p, nullptr);
        return *this;
    }
    ~PyRef() {
        if (p != nullptr && Py_IsInitialized()) Py_DECREF(p);
    }
    PyObject* get() const { return p; }
    PyObject* release() { return std::exchange(p, nullptr); }
    explicit operator bool() const { return p != nullptr; }
};

// Thrown (C++ side) when a Python exception is already set and must
// propagate unchanged to the interpreter.
struct PythonError {};

}  // namespace parsimetrics::boundary
