#include "failures.hpp"

#include <new>

#include "pool.hpp"

namespace parsimetrics::boundary {

PyRef take_exception(bool with_traceback) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return PyRef();
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef t(type), v(value), tb(traceback);
    if (with_traceback && v && tb) PyException_SetTraceback(v.get(), tb.get());
    return v;
}

void set_failure(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const Stopped&) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const std::exception& e) {
        raise_panic(e.what());
    } catch (...) {
        raise_panic("unknown internal failure");
    }
}

}  // namespace parsimetrics::boundary
