#include "results.hpp"

#include <cstddef>
#include <utility>

#include "failures.hpp"

namespace parsimetrics::boundary {

namespace {

// A result object could not be created.  Memory exhaustion stays a
// MemoryError; anything else is reported and becomes an internal failure.
[[noreturn]] void result_creation_failed() {
    if (!PyErr_Occurred() || !PyErr_ExceptionMatches(PyExc_MemoryError)) {
        if (PyErr_Occurred()) PyErr_Print();
        raise_panic("Python API call failed");
    }
    throw PythonError{};
}

PyObject* checked(PyObject* obj) {
    if (obj == nullptr) result_creation_failed();
    return obj;
}

PyObject* new_int(std::uint32_t v) { return checked(PyLong_FromLong(static_cast<long>(v))); }

template <class T, class Make>
PyObject* new_list(const std::vector<T>& values, Make make) {
    PyRef list(checked(PyList_New(static_cast<Py_ssize_t>(values.size()))));
    for (std::size_t i = 0; i < values.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), make(values[i]));
    return list.release();
}

// Steals both references, so the caller creates each item into a PyRef
// first: no item is left behind when the other cannot be created.
PyObject* new_pair(PyRef first, PyRef second) {
    PyRef tuple(checked(PyTuple_New(2)));
    PyTuple_SetItem(tuple.get(), 0, first.release());
    PyTuple_SetItem(tuple.get(), 1, second.release());
    return tuple.release();
}

// Dictionary items in insertion order; a failed insertion raises the
// interpreter's pending exception.
void dict_set(PyObject* dict, const char* key, PyObject* value) {
    PyRef v(value);
    if (PyDict_SetItemString(dict, key, v.get()) < 0) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        throw PythonError{};
    }
}

PyObject* factors_list(const std::vector<std::uint32_t>& factors) { return new_list(factors, new_int); }

}  // namespace

PyObject* float_object(double value) { return checked(PyFloat_FromDouble(value)); }

PyObject* factorization_object(const FactorizationResult& r) {
    PyRef complexity(new_int(r.complexity));
    PyRef factors(factors_list(r.factors));
    return new_pair(std::move(complexity), std::move(factors));
}

PyObject* emc_object(const EmcResult& r) {
    PyRef value(float_object(r.value));
    PyRef summands(new_list(r.summands, float_object));
    return new_pair(std::move(value), std::move(summands));
}

PyObject* analysis_object(const FullAnalysisResult& r) {
    PyRef emc(checked(PyDict_New()));
    dict_set(emc.get(), "value", float_object(r.emc.value));
    dict_set(emc.get(), "summands", new_list(r.emc.summands, float_object));
    dict_set(emc.get(), "max_block_size", checked(PyLong_FromLong(r.emc.max_block_size)));
    dict_set(emc.get(), "multi_information", float_object(r.emc.multi_information));
    PyRef extras(checked(PyDict_New()));
    dict_set(extras.get(), "rajski_distance", float_object(r.extras.rajski_distance));
    dict_set(extras.get(), "redundancy", float_object(r.extras.redundancy));
    dict_set(extras.get(), "fh_uncertainty", float_object(r.extras.fh_uncertainty));
    dict_set(extras.get(), "lh_uncertainty", float_object(r.extras.lh_uncertainty));
    dict_set(extras.get(), "pearson_coefficient", float_object(r.extras.pearson_coefficient));
    PyRef out(checked(PyDict_New()));
    dict_set(out.get(), "complexity", new_int(r.complexity));
    dict_set(out.get(), "h", float_object(r.h));
    dict_set(out.get(), "factors", factors_list(r.factors));
    dict_set(out.get(), "emc", emc.release());
    dict_set(out.get(), "epsilon", float_object(r.epsilon));
    dict_set(out.get(), "factors_stddev", float_object(r.factors_stddev));
    dict_set(out.get(), "normal_error", float_object(r.normal_error));
    dict_set(out.get(), "poison_error", float_object(r.poison_error));
    dict_set(out.get(), "extras", extras.release());
    return out.release();
}

}  // namespace parsimetrics::boundary
