// The whole boundary between the interpreter and the native core: module
// creation, one call frame shared by every function, input conversion,
// result objects and the mapping of failures to Python exceptions.
//
// Built against the limited API only, so one abi3 wheel serves CPython 3.11+.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <cxxabi.h>
#include <optional>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "error.hpp"
#include "lz76.hpp"
#include "measures.hpp"
#include "options.hpp"
#include "sequence.hpp"
#include "shuffle.hpp"
#include "thread_storage.hpp"

namespace pm = parsimetrics;

namespace {

// ---------------------------------------------------------------------------
// Small helpers

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

constexpr const char* kConversionMessage =
    "expected str, bytes, list[str], list[int], or iterable of ints";

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

void raise_panic(const char* message) {
    PyObject* type = panic_type();
    if (type != nullptr) PyErr_SetString(type, message);
}

[[noreturn]] void throw_type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

// ---------------------------------------------------------------------------
// Sequence conversion

// UTF-8 bytes of a str, or false with the encoding error pending when it
// cannot be encoded (lone surrogates).  Reads the interpreter's cached UTF-8
// buffer: no copy.
bool utf8_view(PyObject* text, const char** data, Py_ssize_t* size) {
    *data = PyUnicode_AsUTF8AndSize(text, size);
    return *data != nullptr;
}

pm::Sequence text_list_sequence(PyObject* list) {
    const Py_ssize_t initial = PyList_Size(list);
    std::vector<std::uint8_t> bytes;
    for (Py_ssize_t i = 0; i < initial && i < PyList_Size(list); ++i) {
        PyObject* item = PyList_GetItem(list, i);  // borrowed
        if (!PyUnicode_Check(item)) {
            PyRef qualname(PyType_GetQualName(Py_TYPE(item)));
            const char* name = qualname ? PyUnicode_AsUTF8AndSize(qualname.get(), nullptr) : nullptr;
            if (name == nullptr) throw PythonError{};
            throw_type_error(std::string("'") + name + "' object cannot be converted to 'PyString'");
        }
        const char* data;
        Py_ssize_t size;
        if (!utf8_view(item, &data, &size)) throw PythonError{};  // encoding error, unchanged
        bytes.insert(bytes.end(), data, data + size);
    }
    return pm::from_bytes(std::move(bytes));
}

// One element of an integer sequence as a signed 64-bit value.
bool element_as_i64(PyObject* item, long long* out) {
    if (PyLong_Check(item)) {
        *out = PyLong_AsLong(item);
    } else {
        PyRef index(PyNumber_Index(item));
        if (!index) return false;
        *out = PyLong_AsLong(index.get());
    }
    return !(*out == -1 && PyErr_Occurred());
}

void append_decimal(std::vector<std::uint8_t>& bytes, long long v) {
    char digits[24];
    const auto res = std::to_chars(digits, digits + sizeof digits, v);
    bytes.insert(bytes.end(), digits, res.ptr);
}

// Integers written in decimal and concatenated; false (exception cleared by
// the caller) when anything in the iteration or an element fails.
bool integer_sequence_bytes(PyObject* obj, std::vector<std::uint8_t>& bytes) {
    Py_ssize_t hint = PySequence_Size(obj);
    if (hint < 0) {
        PyErr_Clear();
        hint = 0;
    }
    std::vector<long long> values;
    // Only a hint: __len__ may claim any length, so never reserve more than 1 Mi values on its word.
    values.reserve(static_cast<std::size_t>(hint < (1 << 20) ? hint : (1 << 20)));
    PyRef iter(PyObject_GetIter(obj));
    if (!iter) return false;
    while (PyRef item{PyIter_Next(iter.get())}) {
        long long v;
        if (!element_as_i64(item.get(), &v)) return false;
        values.push_back(v);
    }
    if (PyErr_Occurred()) return false;

    bytes.reserve(values.size());
    for (long long v : values) append_decimal(bytes, v);
    return true;
}

// The item type of a one-dimensional integer buffer ("<i", "Q", "@b", ...).
struct IntegerItem {
    bool is_signed;
    bool swap;  // stored big-endian
};

std::optional<IntegerItem> integer_item(const char* format, Py_ssize_t itemsize) {
    if (format == nullptr) format = "B";
    bool swap = false;
    if (*format == '>' || *format == '!') {
        swap = true;
        ++format;
    } else if (*format == '<' || *format == '=' || *format == '@') {
        ++format;
    }
    if (format[0] == '\0' || format[1] != '\0') return std::nullopt;
    if (itemsize != 1 && itemsize != 2 && itemsize != 4 && itemsize != 8) return std::nullopt;
    switch (format[0]) {
        case 'b': case 'h': case 'i': case 'l': case 'q': case 'n':
            return IntegerItem{true, swap};
        case 'B': case 'H': case 'I': case 'L': case 'Q': case 'N':
            return IntegerItem{false, swap};
        default:
            return std::nullopt;  // bool, char, floating point, structures
    }
}

long long read_integer(const std::uint8_t* p, Py_ssize_t size, IntegerItem item, bool* fits) {
    std::uint64_t raw = 0;
    std::memcpy(&raw, p, static_cast<std::size_t>(size));  // little-endian host
    if (item.swap) raw = __builtin_bswap64(raw) >> (64 - 8 * size);
    if (item.is_signed) {
        const unsigned shift = static_cast<unsigned>(64 - 8 * size);
        return static_cast<long long>(raw << shift) >> shift;
    }
    *fits = raw <= static_cast<std::uint64_t>(INT64_MAX);
    return static_cast<long long>(raw);
}

// Types whose buffer holds exactly the integers that iterating them yields.
bool has_integer_buffer_type(PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyByteArray_Type || type == &PyMemoryView_Type) return true;
    // array.array and numpy.ndarray (not subclasses such as masked arrays),
    // looked up only if their modules are already loaded.
    for (auto [module_name, type_name] : {std::pair{"array", "array"}, std::pair{"numpy", "ndarray"}}) {
        PyRef name(PyUnicode_FromString(module_name));
        if (!name) throw PythonError{};
        PyRef module(PyImport_GetModule(name.get()));
        if (!module) {
            if (PyErr_Occurred()) throw PythonError{};
            continue;
        }
        PyRef candidate(PyObject_GetAttrString(module.get(), type_name));
        if (!candidate) {
            PyErr_Clear();
            continue;
        }
        if (candidate.get() == reinterpret_cast<PyObject*>(type)) return true;
    }
    return false;
}

// The decimal text of a one-dimensional integer buffer, read in place:
// the same symbols and the same failure as iterating element by element.
// Returns false, with no exception set, when the buffer does not qualify.
bool integer_buffer_bytes(PyObject* obj, std::vector<std::uint8_t>& bytes) {
    if (!has_integer_buffer_type(obj)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();
        return false;
    }
    struct Release {
        Py_buffer* v;
        ~Release() { PyBuffer_Release(v); }
    } release{&view};
    const auto item = integer_item(view.format, view.itemsize);
    if (view.ndim != 1 || !item) return false;
    // A memoryview iterates native formats only; "<i" or ">H" must fail as its iteration does.
    if (Py_TYPE(obj) == &PyMemoryView_Type && view.format && std::strchr("<>=!", view.format[0])) return false;
    const Py_ssize_t count = view.shape[0], stride = view.strides[0];
    bytes.reserve(static_cast<std::size_t>(count));
    const auto* p = static_cast<const std::uint8_t*>(view.buf);
    for (Py_ssize_t i = 0; i < count; ++i, p += stride) {
        bool fits = true;
        const long long v = read_integer(p, view.itemsize, *item, &fits);
        if (!fits) throw_type_error(kConversionMessage);
        append_decimal(bytes, v);
    }
    return true;
}

pm::Sequence sequence_from_python(PyObject* obj) {
    const char* data;
    Py_ssize_t size;
    // Text: its UTF-8 bytes.  A text that cannot be encoded is rejected below.
    if (PyUnicode_Check(obj)) {
        if (utf8_view(obj, &data, &size))
            return pm::from_bytes(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
        PyErr_Clear();
    }
    // Bytes: taken as they are.
    if (PyBytes_Check(obj)) {
        data = PyBytes_AsString(obj);
        size = PyBytes_Size(obj);
        if (data == nullptr || size < 0) throw PythonError{};
        return pm::from_bytes(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
    }
    // A list whose first element is text is a list of texts, and only that.
    if (PyList_Check(obj)) {
        if (PyList_Size(obj) == 0) return pm::Sequence{};
        PyObject* first = PyList_GetItem(obj, 0);  // borrowed
        if (PyUnicode_Check(first)) {
            if (utf8_view(first, &data, &size)) return text_list_sequence(obj);
            PyErr_Clear();
        }
    }
    if (PyUnicode_Check(obj)) throw_type_error(kConversionMessage);
    // Anything else with the sequence protocol: integers in decimal.
    if (PySequence_Check(obj)) {
        std::vector<std::uint8_t> bytes;
        if (integer_buffer_bytes(obj, bytes)) return pm::from_bytes(std::move(bytes));
        if (integer_sequence_bytes(obj, bytes)) return pm::from_bytes(std::move(bytes));
        PyErr_Clear();
    }
    throw_type_error(kConversionMessage);
}

// ---------------------------------------------------------------------------
// Result objects

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
PyObject* new_float(double v) { return checked(PyFloat_FromDouble(v)); }

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

PyObject* factors_list(const std::vector<std::uint32_t>& factors) {
    return new_list(factors, new_int);
}

// ---------------------------------------------------------------------------
// The function table and the call frame

using Compute = PyObject* (*)(const pm::Sequence* seqs, const pm::AnalysisOptions& options);

struct FunctionSpec {
    const char* name;
    std::vector<const char*> params;
    int required;      // leading parameters that must be supplied
    int sequences;     // leading parameters that are sequences
    bool want_summands;
    Compute compute;
};

PyObject* compute_factorization(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    const pm::Sequence& seq = seqs[0];
    const pm::FactorizationResult r =
        pm::is_constant(seq) ? pm::constant_result(seq.size()) : pm::factorize(seq, options);
    PyRef complexity(new_int(r.complexity));
    PyRef factors(factors_list(r.factors));
    return new_pair(std::move(complexity), std::move(factors));
}

PyObject* compute_h(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    return new_float(pm::compute_h(seqs[0], options));
}

PyObject* compute_emc(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    const pm::EmcResult r = pm::compute_emc(seqs[0], options);
    PyRef value(new_float(r.value));
    PyRef summands(new_list(r.summands, new_float));
    return new_pair(std::move(value), std::move(summands));
}

PyObject* compute_nid(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    return new_float(pm::compute_nid(seqs[0], seqs[1], options));
}

PyObject* compute_lz76(const pm::Sequence* seqs, const pm::AnalysisOptions& options) {
    const pm::FullAnalysisResult r = pm::full_analysis(seqs[0], options);
    PyRef emc(checked(PyDict_New()));
    dict_set(emc.get(), "value", new_float(r.emc.value));
    dict_set(emc.get(), "summands", new_list(r.emc.summands, new_float));
    dict_set(emc.get(), "max_block_size", checked(PyLong_FromLong(r.emc.max_block_size)));
    dict_set(emc.get(), "multi_information", new_float(r.emc.multi_information));
    PyRef extras(checked(PyDict_New()));
    dict_set(extras.get(), "rajski_distance", new_float(r.extras.rajski_distance));
    dict_set(extras.get(), "redundancy", new_float(r.extras.redundancy));
    dict_set(extras.get(), "fh_uncertainty", new_float(r.extras.fh_uncertainty));
    dict_set(extras.get(), "lh_uncertainty", new_float(r.extras.lh_uncertainty));
    dict_set(extras.get(), "pearson_coefficient", new_float(r.extras.pearson_coefficient));
    PyRef out(checked(PyDict_New()));
    dict_set(out.get(), "complexity", new_int(r.complexity));
    dict_set(out.get(), "h", new_float(r.h));
    dict_set(out.get(), "factors", factors_list(r.factors));
    dict_set(out.get(), "emc", emc.release());
    dict_set(out.get(), "epsilon", new_float(r.epsilon));
    dict_set(out.get(), "factors_stddev", new_float(r.factors_stddev));
    dict_set(out.get(), "normal_error", new_float(r.normal_error));
    dict_set(out.get(), "poison_error", new_float(r.poison_error));
    dict_set(out.get(), "extras", extras.release());
    return out.release();
}

const FunctionSpec kFunctions[] = {
    {"factorization", {"seq", "partitions", "alphabet", "log_base", "jobs"}, 1, 1, false,
     compute_factorization},
    {"h", {"seq", "partitions", "alphabet", "log_base", "jobs"}, 1, 1, false, compute_h},
    {"emc", {"seq", "partitions", "alphabet", "log_base", "max_block_size", "jobs"}, 1, 1, true,
     compute_emc},
    {"nid", {"seq1", "seq2", "partitions", "alphabet", "log_base", "jobs"}, 2, 2, false, compute_nid},
    {"lz76", {"seq", "partitions", "alphabet", "log_base", "max_block_size", "jobs"}, 1, 1, true,
     compute_lz76},
};

// Binds positional and keyword arguments to the parameter slots.
void bind_arguments(const FunctionSpec& f, PyObject* args, PyObject* kwargs,
                    std::vector<PyObject*>& slots) {
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
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef t(type), v(value), tb(traceback);
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

PyObject* call_frame(const FunctionSpec& f, PyObject* args, PyObject* kwargs) {
    // Before anything here may throw (see thread_storage.hpp).
    if (!pm::reserve_thread_storage()) return PyErr_NoMemory();
    try {
        std::vector<PyObject*> slots(f.params.size(), nullptr);  // borrowed
        bind_arguments(f, args, kwargs, slots);
        // The argument bound to a parameter, or null when it was omitted or
        // the function has no such parameter.
        auto slot = [&](const char* name) -> PyObject* {
            for (std::size_t i = 0; i < f.params.size(); ++i)
                if (std::strcmp(f.params[i], name) == 0) return slots[i];
            return nullptr;
        };

        // Numeric arguments in parameter order, all before any sequence.
        pm::AnalysisOptions options;
        if (PyObject* o = slot("partitions")) extract_integer(o, "partitions", kI32Min, kI32Max);
        options.alphabet = optional_u32(slot("alphabet"), "alphabet");
        options.log_base = optional_u32(slot("log_base"), "log_base");
        if (PyObject* o = slot("max_block_size"))
            options.max_block_size = static_cast<std::int32_t>(extract_integer(o, "max_block_size", kI32Min, kI32Max));
        if (PyObject* o = slot("jobs")) extract_integer(o, "jobs", 0, kU32Max);
        options.want_summands = f.want_summands;

        std::vector<pm::Sequence> seqs;
        seqs.reserve(static_cast<std::size_t>(f.sequences));
        for (int i = 0; i < f.sequences; ++i)
            seqs.push_back(sequence_from_python(slots[static_cast<std::size_t>(i)]));

        return f.compute(seqs.data(), options);
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being ended (see PyRef): let it go
    } catch (const PythonError&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_panic(e.what());
        return nullptr;
    } catch (...) {
        raise_panic("unknown internal failure");
        return nullptr;
    }
}

template <std::size_t I>
PyObject* trampoline(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
    return call_frame(kFunctions[I], args, kwargs);
}

// ---------------------------------------------------------------------------
// Docstrings

#define PM_COMMON_PARAMS                                                                   \
    "partitions : int, default 1\n"                                                        \
    "    Accepted for compatibility and validated (signed 32-bit); has no effect.\n"        \
    "alphabet : int or None, default None\n"                                               \
    "    Alphabet size for the finite-size correction term; None uses the number of\n"      \
    "    distinct symbols (at least 2).  Values below 3 count as 2.\n"                     \
    "log_base : int or None, default None\n"                                               \
    "    Base of the logarithms; None uses the detected alphabet size (normalized\n"        \
    "    form), 2 gives bits.  Values below 3 count as 2.\n"
#define PM_JOBS_PARAM                                                                      \
    "jobs : int, default 0\n"                                                              \
    "    Accepted for compatibility and validated (0 to 4294967295); has no effect.\n"      \
    "    The worker pool size comes from RAYON_NUM_THREADS.\n"
#define PM_SEQ_PARAM(name)                                                                 \
    name " : str, bytes, list[str], list[int] or iterable of ints\n"                       \
    "    The symbols: the UTF-8 bytes of a str, the bytes of a bytes object, the joined\n"  \
    "    UTF-8 of a list of str, or the joined decimal digits of integers.\n"

const char kFactorizationDoc[] =
    "factorization(seq, partitions=1, alphabet=None, log_base=None, jobs=0)\n--\n\n"
    "Compute the LZ76 factorization of a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "tuple[int, list[int]]\n"
    "    The LZ76 factor count and the factor boundaries 0, 1, ...; factor i spans\n"
    "    [factors[i], factors[i+1]).  The last boundary is n, or n + 1 when the last\n"
    "    factor copies earlier symbols up to the end (that factor is not counted).  An\n"
    "    empty or constant sequence of n symbols gives (1, [0, 1, n]).\n"
    "\nExamples\n--------\n"
    "factorization(\"banana\")  # (3, [0, 1, 2, 3, 7])\n"
    "factorization([0, 1, 10])  # same as factorization(\"0110\")\n";

const char kHDoc[] =
    "h(seq, partitions=1, alphabet=None, log_base=None, jobs=0)\n--\n\n"
    "Compute the LZ76-based normalized entropy density of a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "float\n"
    "    c * log_k(n) / n, with c the LZ76 factor count, n the length and k the\n"
    "    logarithm base; 0.0 for sequences of fewer than two symbols.  `alphabet`\n"
    "    does not change the result.\n"
    "\nExamples\n--------\n"
    "h(\"01010101\")  # 0.75\n"
    "h(\"banana\", log_base=2)  # bits per symbol\n";

#define PM_MAX_BLOCK_PARAM                                                                 \
    "max_block_size : int, default automatic\n"                                            \
    "    Largest shuffle block length l.  0 or below (the default is -1) chooses it from\n"   \
    "    the length: 1 below 10 symbols, growing to 26 at a million symbols.\n"

const char kEmcDoc[] =
    "emc(seq, partitions=1, alphabet=None, log_base=None, max_block_size=..., jobs=0)\n--\n\n"
    "Effective measure complexity (EMC) via random block shuffling.\n\n"
    "For each block length l = 1 .. max_block_size the sequence is shuffled in aligned\n"
    "blocks of l symbols and factorized again; the entropy-density gap to the original,\n"
    "scaled by l, estimates the excess entropy up to scale l.  These estimates are\n"
    "projected onto a non-negative, non-decreasing ladder whose steps are the summands.\n"
    "Shuffles are seeded from the sequence's content: results are reproducible.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_MAX_BLOCK_PARAM PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "tuple[float, list[float]]\n"
    "    The EMC value (last value of the projected ladder) and one non-negative\n"
    "    summand per block length.\n"
    "\nExamples\n--------\n"
    "emc(\"01001010101101010101110101010101010000100101011\")\n"
    "emc(\"banana\", max_block_size=3)  # (0.0, [0.0, 0.0, 0.0])\n";

const char kNidDoc[] =
    "nid(seq1, seq2, partitions=1, alphabet=None, log_base=None, jobs=0)\n--\n\n"
    "Normalized information distance (NID) between two sequences.\n\n"
    "max(C(XY) - C(X), C(YX) - C(Y)) / max(C(X), C(Y)) with C the LZ76 factor count\n"
    "and XY, YX the two concatenations.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq1") PM_SEQ_PARAM("seq2") PM_COMMON_PARAMS PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "float\n"
    "    0.0 when appending either sequence to the other adds no factor; larger values\n"
    "    mean more distinct information.  Options never change the result.\n"
    "\nExamples\n--------\n"
    "nid(\"abcd\", \"abce\")  # 0.25\n"
    "nid(\"aaaa\", \"bbbb\")  # 1.0\n";

const char kLz76Doc[] =
    "lz76(seq, partitions=1, alphabet=None, log_base=None, max_block_size=..., jobs=0)\n--\n\n"
    "Run the full LZ76 analysis on a sequence.\n\n"
    "Parameters\n----------\n" PM_SEQ_PARAM("seq") PM_COMMON_PARAMS PM_MAX_BLOCK_PARAM PM_JOBS_PARAM
    "\nReturns\n-------\n"
    "dict\n"
    "    complexity : int -- LZ76 factor count (as factorization)\n"
    "    entropy_density (key \"h\") : float -- as h()\n"
    "    factors : list[int] -- factor boundaries (as factorization)\n"
    "    emc : dict -- value, summands, max_block_size, multi_information (raw ladder\n"
    "        value at block length 1, may be negative)\n"
    "    epsilon : float -- finite-size correction 2 (log(log(K n)) + 1) / log(n)\n"
    "    factors_stddev : float -- spread of the factor lengths\n"
    "    normal_error : float -- h^1.5 * factors_stddev / sqrt(n / log(n))\n"
    "    poison_error : float -- h / n\n"
    "    extras : dict -- rajski_distance, redundancy, fh_uncertainty, lh_uncertainty,\n"
    "        pearson_coefficient, from the counts of the whole sequence and its halves\n"
    "\nExamples\n--------\n"
    "lz76(\"banana\")[\"complexity\"]  # 3\n"
    "lz76(\"banana\", log_base=2)[\"h\"]\n";

PyMethodDef kMethodDefs[] = {
    {"factorization", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<0>)),
     METH_VARARGS | METH_KEYWORDS, kFactorizationDoc},
    {"h", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<1>)),
     METH_VARARGS | METH_KEYWORDS, kHDoc},
    {"emc", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<2>)),
     METH_VARARGS | METH_KEYWORDS, kEmcDoc},
    {"nid", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<3>)),
     METH_VARARGS | METH_KEYWORDS, kNidDoc},
    {"lz76", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(trampoline<4>)),
     METH_VARARGS | METH_KEYWORDS, kLz76Doc},
};

static_assert(std::size(kMethodDefs) == std::size(kFunctions));

// ---------------------------------------------------------------------------
// Module initialisation

const char kModuleDoc[] =
    "LZ76-based complexity analysis for symbolic sequences.\n\n"
    "Top-level functions\n"
    "-------------------\n"
    "factorization -- LZ76 factor count and factor boundaries.\n"
    "h -- normalized entropy density.\n"
    "emc -- effective measure complexity from block-shuffled surrogates.\n"
    "nid -- normalized information distance of two sequences.\n"
    "lz76 -- the full analysis as one nested dictionary.\n"
    "\n"
    "Every function accepts its sequence as a str (its UTF-8 bytes), bytes, a list\n"
    "of str (joined), or a list or other sequence of integers, whose decimal\n"
    "representations are concatenated: [0, 1, 10] becomes \"0110\".\n";

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "parsimetrics", kModuleDoc, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> g_interpreter_id{-1};
PyObject* g_module = nullptr;

// Appends `name` to the module's __all__ (creating it if missing) and sets
// the attribute; steals `value`.
bool add_to_module(PyObject* module, const char* name, PyObject* value) {
    PyRef v(value);
    if (!v) return false;
    PyRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = PyRef(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    } else if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
        return false;
    }
    PyRef key(PyUnicode_FromString(name));
    if (!key || PyList_Append(all.get(), key.get()) < 0) return false;
    return PyObject_SetAttr(module, key.get(), v.get()) == 0;
}

PyObject* create_module() {
    PyRef module(PyModule_Create(&g_module_def));
    if (!module) return nullptr;
    PyRef module_name(PyUnicode_FromString(g_module_def.m_name));
    if (!module_name) return nullptr;
    if (!add_to_module(module.get(), "__version__", PyUnicode_FromString("2.0.0"))) return nullptr;
    for (PyMethodDef& def : kMethodDefs) {
        if (!add_to_module(module.get(), def.ml_name, PyCMethod_New(&def, module.get(), module_name.get(), nullptr)))
            return nullptr;
    }
    PyRef names(PyList_New(0));
    if (!names) return nullptr;
    for (const PyMethodDef& def : kMethodDefs) {
        PyRef name(PyUnicode_FromString(def.ml_name));
        if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
    }
    if (!add_to_module(module.get(), "__all__", names.release())) return nullptr;
    // Published for `except parsimetrics.PanicException`; not part of __all__.
    PyObject* panic = panic_type();
    if (panic == nullptr || PyObject_SetAttrString(module.get(), "PanicException", panic) < 0) return nullptr;
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
