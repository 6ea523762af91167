// The single exception type of the core: an internal failure that ends a
// computation and carries a human-readable message.  The Python layer turns
// it into PanicException; std::bad_alloc travels separately as MemoryError.
#pragma once

#include <stdexcept>
#include <string>

namespace parsimetrics {

class InternalFailure : public std::runtime_error {
public:
    explicit InternalFailure(const std::string& message) : std::runtime_error(message) {}
};

// Checks an invariant and raises an InternalFailure naming it when it fails.
inline void require(bool condition, const char* message) {
    if (!condition) throw InternalFailure(message);
}

}  // namespace parsimetrics
