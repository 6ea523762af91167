// Core results as Python objects: the values the module's functions return,
// built in one place so that every native module of the package returns the
// same types and layouts for the same measure.
#pragma once

#include "owned_ref.hpp"

#include <cstdint>
#include <vector>

#include "lz76.hpp"
#include "measures.hpp"
#include "shuffle.hpp"

namespace parsimetrics::boundary {

// Every builder returns a new reference.  A failed allocation throws
// PythonError with MemoryError set; any other failure is reported and turned
// into an internal failure.
PyObject* float_object(double value);
// (complexity, factors)
PyObject* factorization_object(const FactorizationResult& result);
// (value, summands)
PyObject* emc_object(const EmcResult& result);
// The full analysis as the nested dictionary `lz76` returns.
PyObject* analysis_object(const FullAnalysisResult& result);

}  // namespace parsimetrics::boundary
