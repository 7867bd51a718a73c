#include "runtime/allocator.h"

#include <malloc.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace rv {

void keepModelMemoryForReuse() {
    // Tables up to 32 MB (glibc's largest heap threshold) come from the heap and stay there.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
}

namespace {

// The tunable is glibc's since 2.35; the sanitizers bring their own allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define RV_SANITIZED 1
#endif
#endif
#if defined(__GLIBC__) && !defined(RV_SANITIZED)
#if __GLIBC_PREREQ(2, 35)
#define RV_HEAP_TUNABLE 1
#endif
#endif

#ifdef RV_HEAP_TUNABLE
// True when the kernel gives this process transparent huge pages only for memory marked for them.
bool hugePagesOnlyOnRequest() {
    if (::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0) != 0)
        return false;
    std::FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
    if (!f)
        return false;
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    return read && std::strstr(line, "[madvise]") != nullptr;
}
#endif

}  // namespace

bool heapRestartWanted() {
#ifdef RV_HEAP_TUNABLE
    const char* given = std::getenv("GLIBC_TUNABLES");
    return !(given && std::strstr(given, "glibc.malloc.hugetlb")) && hugePagesOnlyOnRequest();
#else
    return false;
#endif
}

void restartWithHugePageHeap(char** argv) {
#ifdef RV_HEAP_TUNABLE
    if (!heapRestartWanted())
        return;
    const char* given = std::getenv("GLIBC_TUNABLES");
    const std::string before = given ? given : "";
    const std::string tunables = before.empty() ? "glibc.malloc.hugetlb=1" : before + ":glibc.malloc.hugetlb=1";
    if (::setenv("GLIBC_TUNABLES", tunables.c_str(), 1) != 0)
        return;
    ::execv("/proc/self/exe", argv);
    // Still here: the program goes on with the heap it has.
    if (given)
        ::setenv("GLIBC_TUNABLES", before.c_str(), 1);
    else
        ::unsetenv("GLIBC_TUNABLES");
#else
    (void)argv;
#endif
}

}  // namespace rv
