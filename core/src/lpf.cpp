#include "lpf.hpp"

#include <algorithm>
#include <utility>

namespace parsimetrics {

std::vector<std::uint32_t> build_lpf_array(std::vector<std::uint32_t>&& sa_in,
                                           std::vector<std::uint32_t>&& lcp_in, std::size_t n) {
    std::vector<std::uint32_t> sa = std::move(sa_in), lcp = std::move(lcp_in);
    std::vector<std::uint32_t> lpf(n, 0);
    if (n <= 1) return lpf;

    // Sentinel rank n: position 0 with LCP 0 pops every pair but position 0's.
    sa.push_back(0);
    lcp.push_back(0);

    // Pairs (lcp with the pair below, start position); positions increase
    // upwards, so a pair is popped at the first later rank with a smaller start.
    struct Entry {
        std::uint32_t lcp;
        std::uint32_t pos;
    };
    std::vector<Entry> stack;
    stack.push_back({0, sa[0]});
    for (std::size_t i = 1; i <= n; ++i) {
        std::uint32_t cur = lcp[i];
        while (!stack.empty() && stack.back().pos > sa[i]) {
            const Entry top = stack.back();
            lpf[top.pos] = std::max(cur, top.lcp);
            cur = std::min(cur, top.lcp);
            stack.pop_back();
        }
        if (i < n) stack.push_back({cur, sa[i]});
    }
    return lpf;
}

}  // namespace parsimetrics
