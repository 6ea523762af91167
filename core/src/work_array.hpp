// Working arrays of the factorization engine: 32-bit entries that are always
// written before they are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace parsimetrics {

// In arrays from this size on, the whole 2 MiB pages are offered to the
// kernel as huge pages: a first touch then faults once per 2 MiB rather
// than once per 4 KiB.  On a text of two million symbols that is some 4,600
// faults fewer per count, which also keeps two threads counting at once from
// queueing on the kernel's page-table lock.  Nothing is allocated beyond the
// array: its ends short of a whole huge page keep small pages.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;
inline constexpr std::size_t kHugePagesFrom = std::size_t{4} << 20;

// Gives madvise `advice` for the whole 2 MiB pages inside [p, p + bytes),
// from kHugePagesFrom bytes on: the ends short of a whole huge page keep
// small pages.  Advice only: refused, nothing changes.
inline void advise_whole_huge_pages([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t bytes,
                                    [[maybe_unused]] int advice) noexcept {
#if defined(__linux__)
    if (bytes < kHugePagesFrom) return;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = (start + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t end = (start + bytes) / kHugePage * kHugePage;
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, advice);
#endif
}

// Advice that kernels take and older build images' headers may lack:
// MADV_COLLAPSE (6.1) and MADV_POPULATE_WRITE (5.14).  A kernel without it
// refuses it, and nothing changes.
inline constexpr int kAdviseCollapse = 25;
inline constexpr int kAdvisePopulateWrite = 23;
#if defined(MADV_COLLAPSE)
static_assert(MADV_COLLAPSE == kAdviseCollapse);
#endif
#if defined(MADV_POPULATE_WRITE)
static_assert(MADV_POPULATE_WRITE == kAdvisePopulateWrite);
#endif

// Faults in the whole 2 MiB pages inside [p, p + bytes) ready for writing,
// their contents kept, from kHugePagesFrom bytes on; what the kernel
// refuses is left to fault on first touch.
inline void populate_for_writing(void* p, std::size_t bytes) noexcept {
    advise_whole_huge_pages(p, bytes, kAdvisePopulateWrite);
}

inline void advise_huge_pages([[maybe_unused]] void* p, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    advise_whole_huge_pages(p, bytes, MADV_HUGEPAGE);
#endif
}

// An allocator whose resize leaves new elements uninitialised: zero-filling
// tens of megabytes that are overwritten anyway would cost a pass over memory
// for nothing.
template <class T>
struct WorkAllocator {
    using value_type = T;

    WorkAllocator() = default;
    template <class U>
    WorkAllocator(const WorkAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        void* p = ::operator new(count * sizeof(T));
        advise_huge_pages(p, count * sizeof(T));
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p); }

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const WorkAllocator<U>&) const noexcept {
        return true;
    }
};

using WorkArray = std::vector<std::uint32_t, WorkAllocator<std::uint32_t>>;

}  // namespace parsimetrics
