// Python objects to core sequences: the one conversion every native module
// of the package applies to a sequence argument, so a sequence means the same
// symbols (and fails with the same exception) wherever it is passed.
#pragma once

#include "owned_ref.hpp"

#include <string>

#include "sequence.hpp"

namespace parsimetrics::boundary {

// Sets a TypeError with `message` and throws PythonError.
[[noreturn]] void throw_type_error(const std::string& message);

// The symbols of a str (UTF-8), bytes, list of str (joined UTF-8) or sequence
// of integers (joined decimal digits).  Anything else raises TypeError; an
// exception from the object itself (a failing __index__ or iterator, an
// unencodable list item) propagates.  Both leave a Python exception set and
// throw PythonError; memory exhaustion throws std::bad_alloc.
Sequence sequence_from_python(PyObject* obj);

}  // namespace parsimetrics::boundary
