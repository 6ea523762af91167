// parsimetrics_tools._native: measures over many sequences, over the windows
// of one sequence and over all pairs of a set.  Sequences are read under the
// interpreter lock with the module's own conversion; the measures then run on
// the worker pool with the lock released.
//
// These functions are private: parsimetrics_tools.toolkit checks arguments
// (options through the module itself, so mistakes raise the module's errors)
// and shapes the results.
//
// Built against the limited API only, like the module.
#include "owned_ref.hpp"

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "batch.hpp"
#include "convert.hpp"
#include "failures.hpp"
#include "options.hpp"
#include "results.hpp"
#include "suffix_array.hpp"

namespace parsimetrics::boundary {

// The module creates PanicException; raising the very same type here lets
// callers catch one class whichever native code failed.
void raise_panic(const char* message) {
    PyRef module(PyImport_ImportModule("parsimetrics"));
    if (!module) return;
    PyRef type(PyObject_GetAttrString(module.get(), "PanicException"));
    if (type) PyErr_SetString(type.get(), message);
}

}  // namespace parsimetrics::boundary

namespace {

namespace pm = parsimetrics;
using pm::boundary::PyRef;
using pm::boundary::PythonError;

// Runs f() with the interpreter lock released.  The lock is taken back
// outside any destructor or handler: at interpreter exit that ends a daemon
// thread by a forced unwind, which must travel on (see guarded).
template <class F>
auto unlocked(F&& f) {
    std::optional<decltype(f())> result;
    std::exception_ptr error;
    PyThreadState* state = PyEval_SaveThread();
    try {
        result.emplace(f());
    } catch (...) {
        error = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (error) std::rethrow_exception(error);
    return std::move(*result);
}

// A pending Python exception taken aside while other work runs.
class Stashed {
public:
    void take() { PyErr_Fetch(&type_, &value_, &traceback_); }
    void restore() {
        PyErr_Restore(type_, value_, traceback_);
        type_ = value_ = traceback_ = nullptr;
    }
    ~Stashed() {
        if (!Py_IsInitialized()) return;  // a thread ended at exit: left to the process
        Py_XDECREF(type_);
        Py_XDECREF(value_);
        Py_XDECREF(traceback_);
    }

private:
    PyObject *type_ = nullptr, *value_ = nullptr, *traceback_ = nullptr;
};

// (index, exception) for the pending exception, which is cleared: the
// wrapper re-raises it with the item's position.
PyObject* failure_at(std::size_t index) {
    PyRef exception = pm::boundary::take_exception();
    return Py_BuildValue("(nO)", static_cast<Py_ssize_t>(index), exception.get());
}

// The items of `list` as sequences, in order, up to the first that cannot
// be converted; its exception is then pending and `failed` is set.
std::vector<pm::Sequence> convert_items(PyObject* list, bool& failed) {
    std::vector<pm::Sequence> seqs;
    failed = false;
    // The list may change under conversions that run Python code.
    for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
        PyObject* borrowed = PyList_GetItem(list, i);
        Py_INCREF(borrowed);
        PyRef item(borrowed);
        try {
            seqs.push_back(pm::boundary::sequence_from_python(item.get()));
        } catch (const PythonError&) {
            failed = true;
            break;
        }
    }
    return seqs;
}

pm::AnalysisOptions options_from(unsigned alphabet, unsigned log_base, int max_block_size) {
    pm::AnalysisOptions options;
    options.alphabet = alphabet;
    options.log_base = log_base;
    options.max_block_size = max_block_size;
    return options;
}

PyObject* result_object(pm::BatchMeasure measure, const pm::BatchItem& item) {
    switch (measure) {
        case pm::BatchMeasure::factorization:
            return pm::boundary::factorization_object(std::get<pm::FactorizationResult>(item.value));
        case pm::BatchMeasure::h:
            return pm::boundary::float_object(std::get<double>(item.value));
        case pm::BatchMeasure::emc:
            return pm::boundary::emc_object(std::get<pm::EmcResult>(item.value));
        case pm::BatchMeasure::lz76:
            return pm::boundary::analysis_object(std::get<pm::FullAnalysisResult>(item.value));
        case pm::BatchMeasure::kaspar_schuster:
            if (const auto* count = std::get_if<std::uint32_t>(&item.value)) return PyLong_FromUnsignedLong(*count);
            return pm::boundary::float_object(std::get<double>(item.value));
    }
    return nullptr;
}

// The measure named `name` in `table`, or nullopt with ValueError set.
template <class Measure, std::size_t N>
std::optional<Measure> named(const pm::NamedMeasure<Measure> (&table)[N], const char* name) {
    for (const auto& entry : table)
        if (entry.name == name) return entry.measure;
    PyErr_Format(PyExc_ValueError, "measure: unknown measure %s", name);
    return std::nullopt;
}

// The names of `table` in order, as a tuple of str.
template <class Measure, std::size_t N>
PyObject* names_of(const pm::NamedMeasure<Measure> (&table)[N]) {
    PyRef names(PyTuple_New(static_cast<Py_ssize_t>(N)));
    if (!names) return nullptr;
    for (std::size_t i = 0; i < N; ++i) {
        PyObject* name = PyUnicode_FromStringAndSize(table[i].name.data(), static_cast<Py_ssize_t>(table[i].name.size()));
        if (!name) return nullptr;
        PyTuple_SetItem(names.get(), static_cast<Py_ssize_t>(i), name);
    }
    return names.release();
}

// many(measure, items, alphabet, log_base, max_block_size, normalize) -> (results, None) or (None, (index, exc))
PyObject* many(PyObject*, PyObject* args) {
    const char* measure_name;
    int max_block_size, normalize;
    unsigned alphabet, log_base;
    PyObject* list;
    if (!PyArg_ParseTuple(args, "sO!IIip", &measure_name, &PyList_Type, &list, &alphabet, &log_base,
                          &max_block_size, &normalize))
        return nullptr;
    const auto chosen = named(pm::kBatchMeasures, measure_name);
    if (!chosen) return nullptr;
    return pm::boundary::guarded([&]() -> PyObject* {
        const auto measure = *chosen;
        pm::AnalysisOptions options = options_from(alphabet, log_base, max_block_size);
        options.want_summands = measure == pm::BatchMeasure::emc || measure == pm::BatchMeasure::lz76;

        bool conversion_failed;
        const std::vector<pm::Sequence> seqs = convert_items(list, conversion_failed);
        Stashed conversion_error;
        if (conversion_failed) conversion_error.take();
        // The items before a bad one are still computed: one of them may fail
        // first, as it would in a loop.
        const std::vector<pm::BatchItem> items =
            unlocked([&] { return pm::measure_each(measure, seqs, options, normalize != 0); });
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].error) {
                pm::boundary::set_failure(items[i].error);
                return Py_BuildValue("(ON)", Py_None, failure_at(i));
            }
        }
        if (conversion_failed) {
            conversion_error.restore();
            return Py_BuildValue("(ON)", Py_None, failure_at(seqs.size()));
        }
        PyRef results(PyList_New(static_cast<Py_ssize_t>(items.size())));
        if (!results) throw PythonError{};
        for (std::size_t i = 0; i < items.size(); ++i)
            PyList_SetItem(results.get(), static_cast<Py_ssize_t>(i), result_object(measure, items[i]));
        return Py_BuildValue("(NO)", results.release(), Py_None);
    });
}

PyObject* doubles_object(const std::vector<double>& values) {
    return PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                         static_cast<Py_ssize_t>(values.size() * sizeof(double)));
}

// profile(seq, window, step, measure, alphabet, log_base, max_block_size, normalize)
//   -> (n, bytearray of float64 values)
PyObject* profile(PyObject*, PyObject* args) {
    PyObject* obj;
    Py_ssize_t window, step;
    const char* measure_name;
    int max_block_size, normalize;
    unsigned alphabet, log_base;
    if (!PyArg_ParseTuple(args, "OnnsIIip", &obj, &window, &step, &measure_name, &alphabet, &log_base,
                          &max_block_size, &normalize))
        return nullptr;
    const auto measure = named(pm::kWindowMeasures, measure_name);
    if (!measure) return nullptr;
    if (window < 1 || step < 1) {
        PyErr_SetString(PyExc_ValueError, "profile: window and step out of range");
        return nullptr;
    }
    return pm::boundary::guarded([&]() -> PyObject* {
        pm::AnalysisOptions options = options_from(alphabet, log_base, max_block_size);
        const pm::Sequence seq = pm::boundary::sequence_from_python(obj);
        const std::vector<double> values = unlocked([&] {
            return pm::window_values(seq, static_cast<std::size_t>(window), static_cast<std::size_t>(step),
                                     *measure, options, normalize != 0);
        });
        return Py_BuildValue("(nN)", static_cast<Py_ssize_t>(seq.size()), doubles_object(values));
    });
}

// nid_matrix(items, alphabet, log_base) -> (bytearray of m * m float64, None) or (None, (index, exc))
PyObject* nid_matrix(PyObject*, PyObject* args) {
    PyObject* list;
    unsigned alphabet, log_base;
    if (!PyArg_ParseTuple(args, "O!II", &PyList_Type, &list, &alphabet, &log_base)) return nullptr;
    // Factor counts depend on the symbols alone: alphabet and log_base are
    // accepted, as nid accepts them, and change nothing.
    return pm::boundary::guarded([&]() -> PyObject* {
        bool conversion_failed;
        const std::vector<pm::Sequence> seqs = convert_items(list, conversion_failed);
        if (conversion_failed) return Py_BuildValue("(ON)", Py_None, failure_at(seqs.size()));
        const std::vector<double> matrix = unlocked([&] { return pm::nid_matrix(seqs); });
        return Py_BuildValue("(NO)", doubles_object(matrix), Py_None);
    });
}

// effective_base(value, alphabet_size) -> int: the log base (or alphabet) a
// measure uses for an option given as `value` (None when absent).
PyObject* effective_base(PyObject*, PyObject* args) {
    PyObject* value;
    unsigned alphabet_size;
    if (!PyArg_ParseTuple(args, "OI", &value, &alphabet_size)) return nullptr;
    std::uint32_t given = pm::kAbsent;
    if (value != Py_None) {
        given = static_cast<std::uint32_t>(PyLong_AsUnsignedLong(value));
        if (PyErr_Occurred()) return nullptr;
    }
    return PyLong_FromUnsignedLong(pm::effective_base(given, alphabet_size));
}

PyMethodDef kMethods[] = {
    {"many", many, METH_VARARGS, "many(measure, items, alphabet, log_base, max_block_size, normalize)"},
    {"profile", profile, METH_VARARGS,
     "profile(sequence, window, step, measure, alphabet, log_base, max_block_size, normalize)"},
    {"effective_base", effective_base, METH_VARARGS, "effective_base(value, alphabet_size)"},
    {"nid_matrix", nid_matrix, METH_VARARGS, "nid_matrix(items, alphabet, log_base)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "parsimetrics_tools._native",
    "Native part of parsimetrics_tools; use the functions of parsimetrics_tools instead.",
    0,
    kMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The constants Python shares with the core, read from here so that each
// has one source: the measure names, the absent-option marker and the
// longest sequence.
bool add_constants(PyObject* module) {
    const auto add = [module](const char* name, PyObject* value) {
        PyRef owned(value);
        return owned && PyModule_AddObjectRef(module, name, owned.get()) == 0;
    };
    return add("MANY_MEASURES", names_of(pm::kBatchMeasures)) &&
           add("WINDOW_MEASURES", names_of(pm::kWindowMeasures)) &&
           add("ABSENT", PyLong_FromUnsignedLong(pm::kAbsent)) &&
           add("MAX_SYMBOLS", PyLong_FromSize_t(pm::kMaxTextLength));
}

}  // namespace

PyMODINIT_FUNC PyInit__native(void) {
    PyRef module(PyModule_Create(&g_module_def));
    if (!module || !add_constants(module.get())) return nullptr;
    return module.release();
}
