#include "pool_size.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>
#include <vector>

namespace parsimetrics {

std::optional<std::uint64_t> parse_thread_count(const char* text) {
    if (text == nullptr) return std::nullopt;
    const char* p = text;
    if (*p == '+') ++p;
    if (*p == '\0') return std::nullopt;
    std::uint64_t value = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(*p - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t thread_count_from_env(const EnvLookup& lookup, std::size_t default_count) {
    std::uint64_t count = default_count;
    if (const auto first = parse_thread_count(lookup("RAYON_NUM_THREADS"))) {
        // 0 asks for the default outright; the second variable is not consulted.
        if (*first > 0) count = *first;
    } else if (const auto second = parse_thread_count(lookup("RAYON_RS_NUM_CPUS"))) {
        if (*second > 0) count = *second;
    }
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(count, 1, max_pool_threads));
}

namespace {

std::optional<std::string> read_first_line(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return line;
}

std::optional<std::uint64_t> parse_decimal(const std::string& text) {
    if (text.empty() || text[0] == '+') return std::nullopt;
    return parse_thread_count(text.c_str());
}

// quota / period microseconds of CPU time per period, as whole processors.
std::optional<std::uint32_t> quota_to_cpus(std::uint64_t quota, std::uint64_t period) {
    if (quota == 0 || period == 0) return std::nullopt;
    const std::uint64_t cpus = quota / period + (quota % period != 0 ? 1 : 0);
    return static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>(cpus, 1, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

std::optional<std::uint32_t> cgroup_cpu_quota(const std::string& cgroup_dir) {
    // Unified hierarchy: "<quota> <period>", or "max <period>" for no limit.
    if (const auto line = read_first_line(cgroup_dir + "/cpu.max")) {
        std::istringstream fields(*line);
        std::string quota_text, period_text;
        fields >> quota_text >> period_text;
        const auto quota = parse_decimal(quota_text);
        const auto period = parse_decimal(period_text);
        if (!quota || !period) return std::nullopt;  // "max" lands here too
        return quota_to_cpus(*quota, *period);
    }
    // v1 cpu controller: a quota of -1 means no limit.
    const auto quota_line = read_first_line(cgroup_dir + "/cpu.cfs_quota_us");
    const auto period_line = read_first_line(cgroup_dir + "/cpu.cfs_period_us");
    if (!quota_line || !period_line) return std::nullopt;
    const auto quota = parse_decimal(*quota_line);
    const auto period = parse_decimal(*period_line);
    if (!quota || !period) return std::nullopt;
    return quota_to_cpus(*quota, *period);
}

std::optional<std::uint32_t> process_cpu_quota(const std::string& proc_cgroup_file,
                                               const std::string& cgroup_mount) {
    std::ifstream in(proc_cgroup_file);
    if (!in) return std::nullopt;

    // Lines read "<id>:<controllers>:<path>".  A v1 hierarchy carrying the cpu
    // controller wins over the unified one, which on hybrid systems has none.
    std::optional<std::string> v1_controllers, v1_path, unified_path;
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string id = line.substr(0, first);
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (id == "0" && controllers.empty()) {
            unified_path = path;
            continue;
        }
        std::istringstream names(controllers);
        for (std::string name; std::getline(names, name, ',');) {
            if (name == "cpu") {
                v1_controllers = controllers;
                v1_path = path;
            }
        }
    }

    std::string base;
    std::string path;
    std::error_code ignored;
    if (v1_controllers) {
        base = cgroup_mount + "/" + *v1_controllers;
        if (!std::filesystem::is_directory(base, ignored)) base = cgroup_mount + "/cpu";
        path = *v1_path;
    } else if (unified_path) {
        base = cgroup_mount;
        path = *unified_path;
    } else {
        return std::nullopt;
    }
    // A path outside our cgroup namespace ("/../..") cannot be followed; the
    // namespace root, mounted at the base, is the best we can see.
    if (path.find("..") != std::string::npos) path.clear();
    while (!path.empty() && path.back() == '/') path.pop_back();

    // Walk up to the mount point: inside a container without its own cgroup
    // namespace the listed path does not exist, but the mount root is the
    // container's cgroup and carries its limit.
    std::optional<std::uint32_t> tightest;
    for (;;) {
        if (const auto quota = cgroup_cpu_quota(base + path)) {
            tightest = tightest ? std::min(*tightest, *quota) : *quota;
        }
        if (path.empty()) break;
        path.resize(path.rfind('/'));
    }
    return tightest;
}

namespace {

// Processors in the affinity mask.  The mask grows past the fixed cpu_set_t
// on machines with more than 1024 processors, where the kernel refuses a
// short buffer with EINVAL.
std::optional<std::size_t> affinity_cpu_count() {
    constexpr std::size_t word_bits = 8 * sizeof(unsigned long);
    for (std::size_t bits = 1024; bits <= (std::size_t{1} << 22); bits *= 2) {
        std::vector<unsigned long> mask(bits / word_bits, 0);
        if (sched_getaffinity(0, mask.size() * sizeof(unsigned long),
                              reinterpret_cast<cpu_set_t*>(mask.data())) == 0) {
            std::size_t count = 0;
            for (unsigned long word : mask) count += static_cast<std::size_t>(std::popcount(word));
            if (count == 0) return std::nullopt;
            return count;
        }
        if (errno != EINVAL) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::size_t default_thread_count() {
    if (const auto cpus = affinity_cpu_count()) {
        std::size_t count = *cpus;
        if (const auto quota = process_cpu_quota()) count = std::min<std::size_t>(count, *quota);
        return std::max<std::size_t>(count, 1);
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::size_t>(online) : 1;
}

}  // namespace parsimetrics
