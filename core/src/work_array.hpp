// Working arrays of the factorization engine: 32-bit entries that are always
// written before they are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace parsimetrics {

// An allocator whose resize leaves new elements uninitialised: zero-filling
// tens of megabytes that are overwritten anyway would cost a pass over memory
// for nothing.
template <class T>
struct WorkAllocator {
    using value_type = T;

    WorkAllocator() = default;
    template <class U>
    WorkAllocator(const WorkAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }
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
