// The restart onto a huge-page heap: once, keeping the tunables the program was given.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/allocator.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

constexpr const char* kReport = "RV_HEAP_RESTART_REPORT";

// Run only as the restarted child of the test below: asks for the restart again (a second one
// would run this test again, never writing), then writes the tunables it started with.
TEST(HeapRestart, RestartedChildReportsItsTunables) {
    const char* report = std::getenv(kReport);
    if (!report)
        GTEST_SKIP() << "runs as the child of HeapRestart.StartsOnceKeepingTheGivenTunables";
    char self[] = "allocator_test";
    char* argv[] = {self, nullptr};
    restartWithHugePageHeap(argv);
    std::ofstream(report) << (std::getenv("GLIBC_TUNABLES") ? std::getenv("GLIBC_TUNABLES") : "(none)");
}

TEST(HeapRestart, StartsOnceKeepingTheGivenTunables) {
    ::setenv("GLIBC_TUNABLES", "glibc.malloc.arena_max=2", 1);
    const bool wanted = heapRestartWanted();
    ::unsetenv("GLIBC_TUNABLES");
    if (!wanted)
        GTEST_SKIP() << "huge pages are not given on request here, or the allocator is a sanitizer's";
    test::TempDir dir;
    const std::string report = dir.file("tunables.txt");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("GLIBC_TUNABLES", "glibc.malloc.arena_max=2", 1);
        ::setenv(kReport, report.c_str(), 1);
        char self[] = "allocator_test";
        char filter[] = "--gtest_filter=HeapRestart.RestartedChildReportsItsTunables";
        char* argv[] = {self, filter, nullptr};
        restartWithHugePageHeap(argv);
        ::_exit(99);  // not restarted
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::stringstream text;
    text << std::ifstream(report).rdbuf();
    EXPECT_EQ(text.str(), "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
}

}  // namespace
}  // namespace rv
