// Python objects to core sequences.  Text is taken as its UTF-8 bytes and
// integers as their decimal digits; one-dimensional integer buffers of known
// types are read in place, with the result iterating them would give.
#include "convert.hpp"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace parsimetrics::boundary {

namespace pm = parsimetrics;

namespace {

constexpr const char* kConversionMessage =
    "expected str, bytes, list[str], list[int], or iterable of ints";

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
    // One loop per item size, so that each read is a fixed-size load; the
    // common symbols 0 to 9 are a single digit, written without to_chars.
    auto append_all = [&](auto size) {
        for (Py_ssize_t i = 0; i < count; ++i, p += stride) {
            bool fits = true;
            const long long v = read_integer(p, size, *item, &fits);
            if (!fits) throw_type_error(kConversionMessage);
            if (static_cast<unsigned long long>(v) < 10)
                bytes.push_back(static_cast<std::uint8_t>('0' + v));
            else
                append_decimal(bytes, v);
        }
    };
    switch (view.itemsize) {
        case 1: append_all(std::integral_constant<Py_ssize_t, 1>{}); break;
        case 2: append_all(std::integral_constant<Py_ssize_t, 2>{}); break;
        case 4: append_all(std::integral_constant<Py_ssize_t, 4>{}); break;
        default: append_all(std::integral_constant<Py_ssize_t, 8>{}); break;
    }
    return true;
}

}  // namespace

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

void throw_type_error(const std::string& message) {
    // Sized: a message quoting a caller's keyword may hold a NUL character.
    PyRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(PyExc_TypeError, text.get());
    throw PythonError{};
}

}  // namespace parsimetrics::boundary
