// parsimetrics_tools._native: measures over many sequences, over the windows
// of one sequence and over all pairs of a set.  Sequences are read under the
// interpreter lock with the module's own conversion; the measures then run on
// the module's worker pool with the lock released.  While they run, the calling thread
// takes the lock back now and then to let signal handlers run: a
// KeyboardInterrupt stops the work (no further item starts) and is raised.
//
// These functions are private: parsimetrics_tools.toolkit checks arguments
// (options through the module itself, so mistakes raise the module's errors)
// and shapes the results.
//
// Built against the limited API only, like the module.
#include "owned_ref.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "batch.hpp"
#include "convert.hpp"
#include "failures.hpp"
#include "forced_unwind.hpp"
#include "options.hpp"
#include "pool.hpp"
#include "pool_capsule.hpp"
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

// Takes the lock back to run the signal handlers of the main thread; true
// when one raised (its exception is then pending).
bool signal_raised(void* context) {
    auto* state = static_cast<PyThreadState**>(context);
    PyEval_RestoreThread(*state);
    const bool raised = PyErr_CheckSignals() < 0;
    *state = PyEval_SaveThread();
    return raised;
}

std::atomic<bool> g_warned_without_pool{false};

// How long a stopped call waits for the items it has already started before
// it leaves them to end on their own: one item of a long sequence may take
// seconds, and Ctrl-C must answer at once.
constexpr std::chrono::milliseconds kGrace{200};

// Runs body() with the interpreter lock released, on the pool when `work`
// is enough for it, stoppable by a signal handler that raises.  body must own
// what it reads (through its captures): a stopped call may leave it running.
// Without worker threads it runs on this thread and says so once per
// process.  The lock is taken back outside any destructor or handler: at
// interpreter exit that ends a daemon thread by a forced unwind, which must
// travel on (see guarded).
template <class F>
auto unlocked(pm::Work work, F body) {
    using Result = decltype(body());
    auto result = std::make_shared<std::optional<Result>>();
    std::function<void()> job = [result, body = std::move(body)] { result->emplace(body()); };
    std::exception_ptr error;
    PyThreadState* state = nullptr;
    pm::StopControl control;
    control.poll = signal_raised;
    control.context = &state;
    control.run_here_without_pool = true;
    state = PyEval_SaveThread();
    try {
        pm::run_detachable(control, work, std::move(job), kGrace);
    } PARSIMETRICS_CATCH_ALL {
        error = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (error) std::rethrow_exception(error);
    if (control.ran_without_pool && !g_warned_without_pool.exchange(true)) {
        if (PyErr_WarnEx(PyExc_RuntimeWarning,
                         "parsimetrics_tools: the worker threads could not be started; "
                         "computing on the calling thread",
                         1) < 0)
            throw PythonError{};
    }
    return std::move(**result);
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

// Items converted between looks at the signal handlers: a long list of
// Python-level sequences can be interrupted while it is read.
constexpr Py_ssize_t kItemsPerSignalCheck = 4096;

// The sequences of `items`, a list of sequences or a two-dimensional
// C-contiguous array of bytes (one sequence per row, one symbol per byte),
// as rows.  A list is read up to its first item that cannot be converted,
// whose exception is then left pending and `failed` set.
struct ItemRows {
    pm::Rows rows;
    std::vector<std::uint8_t> copy;  // the array's bytes, which the caller may change meanwhile
};

bool read_array(PyObject* items, ItemRows& out) {
    if (!PyObject_CheckBuffer(items)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(items, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) throw PythonError{};
    struct Release {
        Py_buffer* v;
        ~Release() { PyBuffer_Release(v); }
    } release{&view};
    const bool bytes = view.itemsize == 1 && view.format != nullptr &&
                       (std::string_view(view.format) == "B" || std::string_view(view.format) == "b");
    if (view.ndim != 2 || !bytes) {
        PyErr_SetString(PyExc_ValueError, "items: expected a 2-D array of bytes");
        throw PythonError{};
    }
    const auto* data = static_cast<const std::uint8_t*>(view.buf);
    out.copy.assign(data, data + view.len);
    out.rows = pm::Rows::fixed(out.copy.data(), static_cast<std::size_t>(view.shape[0]),
                               static_cast<std::size_t>(view.shape[1]));
    return true;
}

ItemRows read_items(PyObject* items, bool& failed) {
    ItemRows out;
    failed = false;
    if (!PyList_Check(items)) {
        if (!read_array(items, out)) {
            PyErr_SetString(PyExc_TypeError, "items: expected a list or a 2-D array of bytes");
            throw PythonError{};
        }
        return out;
    }
    // The list may change under conversions that run Python code.
    for (Py_ssize_t i = 0; i < PyList_Size(items); ++i) {
        if (i % kItemsPerSignalCheck == kItemsPerSignalCheck - 1 && PyErr_CheckSignals() < 0) throw PythonError{};
        PyObject* borrowed = PyList_GetItem(items, i);
        Py_INCREF(borrowed);
        PyRef item(borrowed);
        try {
            const pm::Sequence seq = pm::boundary::sequence_from_python(item.get());
            out.rows.push_back(seq.data(), seq.size());
        } catch (const PythonError&) {
            failed = true;
            break;
        }
    }
    return out;
}

std::vector<pm::Sequence> sequences_of(const pm::Rows& rows) {
    std::vector<pm::Sequence> seqs;
    seqs.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) seqs.push_back(pm::from_bytes(rows[i].data(), rows[i].size()));
    return seqs;
}

pm::AnalysisOptions options_from(unsigned alphabet, unsigned log_base, int max_block_size) {
    pm::AnalysisOptions options;
    options.alphabet = alphabet;
    options.log_base = log_base;
    options.max_block_size = max_block_size;
    return options;
}

PyObject* result_object(const pm::FactorizationResult& r) { return pm::boundary::factorization_object(r); }
PyObject* result_object(double value) { return pm::boundary::float_object(value); }
PyObject* result_object(std::uint32_t count) { return PyLong_FromUnsignedLong(count); }
PyObject* result_object(const pm::EmcResult& r) { return pm::boundary::emc_object(r); }
PyObject* result_object(const pm::FullAnalysisResult& r) { return pm::boundary::analysis_object(r); }

// The first `count` results as a list.
PyObject* results_list(const pm::BatchResults& results, std::size_t count) {
    return std::visit(
        [count](const auto& values) {
            PyRef list(PyList_New(static_cast<Py_ssize_t>(count)));
            if (!list) throw PythonError{};
            for (std::size_t i = 0; i < count; ++i)
                PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), result_object(values[i]));
            return list.release();
        },
        results.values);
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
    PyObject* items;
    if (!PyArg_ParseTuple(args, "sOIIip", &measure_name, &items, &alphabet, &log_base, &max_block_size,
                          &normalize))
        return nullptr;
    const auto chosen = named(pm::kBatchMeasures, measure_name);
    if (!chosen) return nullptr;
    return pm::boundary::guarded([&]() -> PyObject* {
        const auto measure = *chosen;
        pm::AnalysisOptions options = options_from(alphabet, log_base, max_block_size);
        options.want_summands = measure == pm::BatchMeasure::emc || measure == pm::BatchMeasure::lz76;

        bool conversion_failed;
        const auto read = std::make_shared<const ItemRows>(read_items(items, conversion_failed));
        Stashed conversion_error;
        if (conversion_failed) conversion_error.take();
        // The items before a bad one are still computed: one of them may fail
        // first, as it would in a loop.
        const pm::BatchResults results = unlocked(pm::Work{read->rows.total_symbols()}, [=] {
            return pm::measure_each(measure, read->rows, options, normalize != 0);
        });
        if (results.failed != pm::BatchResults::kNone) {
            pm::boundary::set_failure(results.failure);
            return Py_BuildValue("(ON)", Py_None, failure_at(results.failed));
        }
        if (conversion_failed) {
            conversion_error.restore();
            return Py_BuildValue("(ON)", Py_None, failure_at(read->rows.size()));
        }
        return Py_BuildValue("(NO)", results_list(results, read->rows.size()), Py_None);
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
        const auto seq = std::make_shared<const pm::Sequence>(pm::boundary::sequence_from_python(obj));
        const auto w = static_cast<std::size_t>(window), s = static_cast<std::size_t>(step);
        const auto windows = pm::window_count(seq->size(), w, s);
        const std::vector<double> values = unlocked(pm::Work{windows * w}, [=, measure = *measure] {
            return pm::window_values(*seq, w, s, measure, options, normalize != 0);
        });
        return Py_BuildValue("(nN)", static_cast<Py_ssize_t>(seq->size()), doubles_object(values));
    });
}

// nid_matrix(items, alphabet, log_base) -> (bytearray of m * m float64, None) or (None, (index, exc))
PyObject* nid_matrix(PyObject*, PyObject* args) {
    PyObject* items;
    unsigned alphabet, log_base;
    if (!PyArg_ParseTuple(args, "OII", &items, &alphabet, &log_base)) return nullptr;
    // Factor counts depend on the symbols alone: alphabet and log_base are
    // accepted, as nid accepts them, and change nothing.
    return pm::boundary::guarded([&]() -> PyObject* {
        bool conversion_failed;
        const ItemRows read = read_items(items, conversion_failed);
        if (conversion_failed) return Py_BuildValue("(ON)", Py_None, failure_at(read.rows.size()));
        const auto seqs = std::make_shared<const std::vector<pm::Sequence>>(sequences_of(read.rows));
        const pm::Work work{read.rows.total_symbols() * (seqs->size() + 1)};
        const std::vector<double> matrix = unlocked(work, [seqs] { return pm::nid_matrix(*seqs); });
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

// Runs this module's work on the module's pool.  A module built from other
// sources keeps its pool to itself, and this one runs its own.
bool share_the_modules_pool() {
    PyRef module(PyImport_ImportModule("parsimetrics"));
    if (!module) return false;
    PyRef capsule(PyObject_GetAttrString(module.get(), pm::boundary::kPoolAttribute));
    if (!capsule) {
        PyErr_Clear();
        return true;
    }
    if (void* entry_points = PyCapsule_GetPointer(capsule.get(), pm::boundary::kPoolCapsule))
        pm::share_pool(entry_points);
    else
        PyErr_Clear();
    return true;
}

}  // namespace

PyMODINIT_FUNC PyInit__native(void) {
    if (!share_the_modules_pool()) return nullptr;
    PyRef module(PyModule_Create(&g_module_def));
    if (!module || !add_constants(module.get())) return nullptr;
    return module.release();
}
