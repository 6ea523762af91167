// The module publishes the entry points of its worker pool (pool.hpp) as a
// capsule in a private attribute; the package's other native modules run
// their work on that pool, so a process has one set of worker threads.
#pragma once

namespace parsimetrics::boundary {

inline constexpr char kPoolAttribute[] = "_pool";
inline constexpr char kPoolCapsule[] = "parsimetrics._pool";

}  // namespace parsimetrics::boundary
