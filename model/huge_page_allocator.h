// An allocator for buffers of megabytes that are filled once and then read through: a file's
// bytes, the number lists of a parsed file, and the model's tables and group meshes. Blocks
// of 1 MB and more are rounded up to whole 2 MB pages, aligned to them and offered to the kernel
// for transparent huge pages, so that filling them takes one page fault per 2 MB instead of one
// per 4 KB; smaller blocks come from the ordinary heap. Where the kernel gives no huge pages the
// allocator keeps to the heap.
#pragma once

#include <sys/mman.h>
#include <sys/prctl.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace rv {

inline constexpr std::size_t kHugePageBytes = std::size_t(2) << 20;
// From half a huge page on, the faults saved outweigh the unused rest of the page.
inline constexpr std::size_t kHugePageFrom = kHugePageBytes / 2;

// True when this process may get transparent huge pages for the blocks it marks: the system's
// setting is "always" or "madvise" and the process has not switched them off. Without them the
// allocator keeps to the heap, whose freed blocks later allocations reuse.
inline bool hugePagesOffered() {
    static const bool offered = [] {
#if defined(MADV_HUGEPAGE) && defined(PR_GET_THP_DISABLE)
        if (::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0) != 0)
            return false;
        std::FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
        if (!f)
            return false;
        char line[128] = {};
        const bool read = std::fgets(line, sizeof line, f) != nullptr;
        std::fclose(f);
        return read && std::strstr(line, "[never]") == nullptr;
#else
        return false;
#endif
    }();
    return offered;
}

template <class T>
struct HugePageAllocator {
    using value_type = T;

    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T))
            throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (!hugeBlock(bytes))
            return static_cast<T*>(::operator new(bytes));
        const std::size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
        void* p = std::aligned_alloc(kHugePageBytes, rounded);
        if (!p)
            throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        ::madvise(p, rounded, MADV_HUGEPAGE);  // a refusal only costs the speed-up
#endif
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        if (!hugeBlock(n * sizeof(T)))
            ::operator delete(p);
        else
            std::free(p);
    }

    static bool hugeBlock(std::size_t bytes) { return bytes >= kHugePageFrom && hugePagesOffered(); }

    template <class U>
    bool operator==(const HugePageAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using HugePageVector = std::vector<T, HugePageAllocator<T>>;

}  // namespace rv
