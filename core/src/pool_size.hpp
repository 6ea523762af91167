// How many worker threads the pool starts: the environment's request, else
// the processors this process may use (its affinity mask lowered to its
// control-group CPU quota).  The rules take the environment and the file
// system locations they read as parameters, so that they can be tested
// without creating a pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace parsimetrics {

// Largest number of worker threads the pool will start.
inline constexpr std::size_t max_pool_threads = 65535;

// Parses a thread count: an optional '+', then one or more decimal digits and
// nothing else, the value fitting 64 bits.  Returns nothing for null, empty or
// malformed text.
std::optional<std::uint64_t> parse_thread_count(const char* text);

// Looks an environment variable up by name; returns null when it is unset.
using EnvLookup = std::function<const char*(const char*)>;

// The pool size for an environment: "RAYON_NUM_THREADS" when it holds a count
// above 0, otherwise "RAYON_RS_NUM_CPUS" likewise, otherwise `default_count`.
// A first variable of 0 selects the default without looking at the second.
// The result is capped at max_pool_threads and is at least 1.
std::size_t thread_count_from_env(const EnvLookup& lookup, std::size_t default_count);

// The CPU quota of one cgroup directory, rounded up to whole processors (at
// least 1): from `cpu.max` (unified hierarchy) or from `cpu.cfs_quota_us` and
// `cpu.cfs_period_us` (v1 cpu controller).  Nothing when neither file sets a
// quota or the files are missing or malformed.
std::optional<std::uint32_t> cgroup_cpu_quota(const std::string& cgroup_dir);

// The tightest CPU quota that applies to this process: its own cgroup, read
// from `proc_cgroup_file`, resolved under `cgroup_mount`, and every ancestor
// up to the mount point (a limit on a parent cgroup binds its children too).
std::optional<std::uint32_t> process_cpu_quota(
    const std::string& proc_cgroup_file = "/proc/self/cgroup",
    const std::string& cgroup_mount = "/sys/fs/cgroup");

// Processors available to the process: the CPU affinity mask lowered to the
// cgroup quota, or the online processors when the mask cannot be read; 1 when
// nothing can be determined.
std::size_t default_thread_count();

}  // namespace parsimetrics
