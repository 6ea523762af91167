// The module's boundary between the interpreter and the native core: module
// creation, one call frame shared by every function, result objects and the
// mapping of failures to Python exceptions.  Sequence arguments go through
// the conversion shared with the package's other native code (convert.hpp).
//
// Built against the limited API only, so one abi3 wheel serves CPython 3.11+.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "docstrings.hpp"
#include "error.hpp"
#include "failures.hpp"
#include "lz76.hpp"
#include "measures.hpp"
#include "options.hpp"
#include "pool.hpp"
#include "pool_capsule.hpp"
#include "results.hpp"
#include "sequence.hpp"
#include "shuffle.hpp"

namespace pm = parsimetrics;
using namespace pm::boundary;  // PyRef, PythonError, the conversion, results, failures, the docstrings

namespace {

// ---------------------------------------------------------------------------
// Small helpers

PyObject* g_panic_type = nullptr;  // PanicException, created once per process

PyObject* panic_type() {
    if (g_panic_type == nullptr) {
        g_panic_type = PyErr_NewExceptionWithDoc(
            "parsimetrics.PanicException",
            "An internal failure of a parsimetrics computation (an invariant check or a size\n"
            "limit).  Derives from BaseException; its argument is the failure message.",
            PyExc_BaseException, nullptr);
    }
    return g_panic_type;
}

}  // namespace

// The result builders shared with the package's other native code report
// internal failures through this.
void pm::boundary::raise_panic(const char* message) {
    PyObject* type = panic_type();
    if (type != nullptr) PyErr_SetString(type, message);
}

namespace {

// ---------------------------------------------------------------------------
// The function table and the call frame

using Compute = PyObject* (*)(const pm::Sequence* seqs, const pm::AnalysisOptions& options);

// One row per module function: everything the module knows about it.
struct Function {
    const char* name;
    std::vector<const char*> params;
    int required;      // leading parameters that must be supplied
    int sequences;     // leading parameters that are sequences
    bool want_summands;
    const char* doc;
    Compute compute;
};

PyObject* compute_factorization(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    const pm::Sequence& seq = seqs[0];
    return factorization_object(
        pm::is_constant(seq) ? pm::constant_result(seq.size()) : pm::factorize(seq, options));
}

PyObject* compute_h(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    return float_object(pm::entropy_density(seqs[0], options));
}

PyObject* compute_emc(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    return emc_object(pm::effective_measure_complexity(seqs[0], options));
}

PyObject* compute_nid(const pm::Sequence* seqs, const pm::AnalysisOptions&) {
    return float_object(pm::normalized_information_distance(seqs[0], seqs[1]));
}

PyObject* compute_lz76(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    return analysis_object(pm::full_analysis(seqs[0], options));
}

const Function kFunctions[] = {
    {"factorization", {"seq", "partitions", "alphabet", "log_base", "jobs"}, 1, 1, false,
     kFactorizationDoc, compute_factorization},
    {"h", {"seq", "partitions", "alphabet", "log_base", "jobs"}, 1, 1, false, kHDoc, compute_h},
    {"emc", {"seq", "partitions", "alphabet", "log_base", "max_block_size", "jobs"}, 1, 1, true,
     kEmcDoc, compute_emc},
    {"nid", {"seq1", "seq2", "partitions", "alphabet", "log_base", "jobs"}, 2, 2, false, kNidDoc,
     compute_nid},
    {"lz76", {"seq", "partitions", "alphabet", "log_base", "max_block_size", "jobs"}, 1, 1, true,
     kLz76Doc, compute_lz76},
};

// The longest parameter list and the most sequences of any function (a
// call's slots live on the stack; create_module checks the table).
constexpr std::size_t kMostParameters = 6;
constexpr std::size_t kMostSequences = 2;

// Binds positional and keyword arguments to the parameter slots.
void bind_arguments(const Function& f, PyObject* args, PyObject* kwargs,
                    std::array<PyObject*, kMostParameters>& slots) {
    const std::string fname = std::string(f.name) + "()";  // short: no heap allocation
    const auto total = static_cast<Py_ssize_t>(f.params.size());
    const Py_ssize_t given = PyTuple_Size(args);
    if (given > total) {
        throw_type_error(fname + " takes from " + std::to_string(f.required) + " to " +
                         std::to_string(total) + " positional arguments but " +
                         std::to_string(given) + " were given");
    }
    for (Py_ssize_t i = 0; i < given; ++i) slots[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);

    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_ssize_t len = 0;
            const char* name = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
            if (name == nullptr) {
                PyErr_Clear();
                throw_type_error(fname + " keywords must be strings");
            }
            const std::string keyword(name, static_cast<std::size_t>(len));
            std::size_t index = 0;
            while (index < f.params.size() && keyword != f.params[index]) ++index;
            if (index == f.params.size())
                throw_type_error(fname + " got an unexpected keyword argument '" + keyword + "'");
            if (slots[index] != nullptr)
                throw_type_error(fname + " got multiple values for argument '" + keyword + "'");
            slots[index] = value;
        }
    }

    std::vector<const char*> missing;
    for (int i = 0; i < f.required; ++i)
        if (slots[static_cast<std::size_t>(i)] == nullptr) missing.push_back(f.params[static_cast<std::size_t>(i)]);
    if (missing.size() == 1)
        throw_type_error(fname + " missing 1 required positional argument: '" + missing[0] + "'");
    if (missing.size() == 2)
        throw_type_error(fname + " missing 2 required positional arguments: '" + missing[0] +
                         "' and '" + missing[1] + "'");
}

// Re-raises a pending TypeError as "argument '{name}': {message}", keeping
// its cause; other exception types pass through unchanged.
void tag_argument_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyRef v = take_exception(false);
    PyRef text(v ? PyObject_Str(v.get()) : nullptr);
    if (!text) return;
    PyRef message(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
    if (!message) return;
    PyRef tagged(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
    if (!tagged) return;
    if (PyObject* cause = PyException_GetCause(v.get())) PyException_SetCause(tagged.get(), cause);
    PyErr_SetObject(PyExc_TypeError, tagged.get());
}

// An integer argument within [low, high], through __index__ if need be.
long long extract_integer(PyObject* obj, const char* name, long long low, long long high) {
    long long value;
    if (PyLong_Check(obj)) {
        value = PyLong_AsLong(obj);
    } else {
        PyRef index(PyNumber_Index(obj));
        value = index ? PyLong_AsLong(index.get()) : -1;
    }
    if (value == -1 && PyErr_Occurred()) {
        tag_argument_error(name);
        throw PythonError{};
    }
    if (value < low || value > high) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        throw PythonError{};
    }
    return value;
}

constexpr long long kI32Min = -2147483648LL, kI32Max = 2147483647LL, kU32Max = 4294967295LL;

std::uint32_t optional_u32(PyObject* obj, const char* name) {
    if (obj == nullptr || obj == Py_None) return pm::kAbsent;
    return static_cast<std::uint32_t>(extract_integer(obj, name, 0, kU32Max));
}

PyObject* call_frame(const Function& f, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        std::array<PyObject*, kMostParameters> slots{};  // borrowed; null when omitted
        bind_arguments(f, args, kwargs, slots);

        // Numeric arguments in parameter order, all before any sequence.
        // Only those given are looked at, so a call with none compares no
        // names.
        pm::AnalysisOptions options;
        for (std::size_t i = static_cast<std::size_t>(f.sequences); i < f.params.size(); ++i) {
            PyObject* o = slots[i];
            if (o == nullptr) continue;
            const std::string_view name = f.params[i];
            if (name == "partitions") {
                extract_integer(o, "partitions", kI32Min, kI32Max);
            } else if (name == "alphabet") {
                options.alphabet = optional_u32(o, "alphabet");
            } else if (name == "log_base") {
                options.log_base = optional_u32(o, "log_base");
            } else if (name == "max_block_size") {
                options.max_block_size =
                    static_cast<std::int32_t>(extract_integer(o, "max_block_size", kI32Min, kI32Max));
            } else if (name == "jobs") {
                extract_integer(o, "jobs", 0, kU32Max);
            }
        }
        options.want_summands = f.want_summands;

        std::array<pm::Sequence, kMostSequences> seqs;
        for (std::size_t i = 0; i < static_cast<std::size_t>(f.sequences); ++i)
            seqs[i] = sequence_from_python(slots[i]);

        return f.compute(seqs.data(), options);
    });
}

template <std::size_t I>
PyObject* trampoline(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
    return call_frame(kFunctions[I], args, kwargs);
}

// The method table, one entry per row of kFunctions (and the terminator).
template <std::size_t... I>
std::array<PyMethodDef, sizeof...(I) + 1> method_defs(std::index_sequence<I...>) {
    return {{{kFunctions[I].name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<I>)),
              METH_VARARGS | METH_KEYWORDS, kFunctions[I].doc}...,
             {nullptr, nullptr, 0, nullptr}}};
}

auto kMethodDefs = method_defs(std::make_index_sequence<std::size(kFunctions)>{});

// ---------------------------------------------------------------------------
// Module initialisation

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "parsimetrics", kModuleDoc, 0, kMethodDefs.data(), nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> g_interpreter_id{-1};
PyObject* g_module = nullptr;

PyObject* create_module() {
    for (const Function& f : kFunctions) {
        if (f.params.size() > kMostParameters || static_cast<std::size_t>(f.sequences) > kMostSequences) {
            PyErr_Format(PyExc_SystemError, "%s() has more parameters than a call frame holds", f.name);
            return nullptr;
        }
    }
    PyRef module(PyModule_Create(&g_module_def));  // adds the functions
    if (!module) return nullptr;
    if (PyModule_AddStringConstant(module.get(), "__version__", PARSIMETRICS_VERSION) < 0) return nullptr;
    PyRef all(PyList_New(0));
    if (!all) return nullptr;
    for (const Function& f : kFunctions) {
        PyRef name(PyUnicode_FromString(f.name));
        if (!name || PyList_Append(all.get(), name.get()) < 0) return nullptr;
    }
    if (PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) return nullptr;
    // Published for `except parsimetrics.PanicException`; not part of __all__.
    PyObject* panic = panic_type();
    if (panic == nullptr || PyModule_AddObjectRef(module.get(), "PanicException", panic) < 0) return nullptr;
    // The worker pool, for the package's other native code, so that the
    // process runs one set of worker threads (pool.hpp, share_pool).
    PyRef pool(PyCapsule_New(const_cast<void*>(pm::pool_entry_points()), kPoolCapsule, nullptr));
    if (!pool || PyModule_AddObjectRef(module.get(), kPoolAttribute, pool.get()) < 0) return nullptr;
    return module.release();
}

}  // namespace

PyMODINIT_FUNC PyInit_parsimetrics(void) {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id < 0) return nullptr;
    std::int64_t expected = -1;
    if (!g_interpreter_id.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "parsimetrics does not support sub-interpreters: it is already loaded in "
                        "another interpreter of this process");
        return nullptr;
    }
    if (g_module == nullptr) {
        g_module = create_module();
        if (g_module == nullptr) return nullptr;
    }
    Py_INCREF(g_module);
    return g_module;
}
