// Numeric options shared by every measure, built once per call and read only.
#pragma once

#include <cstdint>

namespace parsimetrics {

// Absent optional 32-bit values are encoded in place by all bits set.
inline constexpr std::uint32_t kAbsent = 0xFFFFFFFFu;

struct AnalysisOptions {
    std::int32_t max_block_size = -1;  // <= 0 selects the automatic size
    std::uint32_t alphabet = kAbsent;
    std::uint32_t log_base = kAbsent;
    bool want_summands = false;
};

// The alphabet and logarithm base rule: an absent value falls back to the
// detected alphabet size, and anything below 3 counts as 2.
inline std::uint32_t effective_base(std::uint32_t value, std::uint32_t alphabet_size) {
    std::uint32_t k = value == kAbsent ? alphabet_size : value;
    return k < 3 ? 2 : k;
}

}  // namespace parsimetrics
