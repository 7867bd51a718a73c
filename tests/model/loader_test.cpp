#include "model/loader.h"
#include "model/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "tests/support/test_support.h"

namespace rv {
namespace {

using namespace std::chrono_literals;

TEST(Loader, ServesRequestsInArrivalOrder) {
    test::TempDir dir;
    test::writeText(dir.file("a.kzp"), "a");
    test::writeText(dir.file("b.kzp"), "b");
    std::mutex mutex;
    std::vector<std::string> seen;
    LibDataLoader loader;
    loader.start([&](const LoadRequest& r) {
        if (r.fileName == "a.kzp")
            std::this_thread::sleep_for(50ms);  // the first is slower: order must still hold
        std::lock_guard lock(mutex);
        seen.push_back(r.fileName);
    });
    ASSERT_TRUE(loader.enqueue(0, dir.path().string(), "a.kzp"));
    ASSERT_TRUE(loader.enqueue(1, dir.path().string(), "b.kzp"));
    while (!loader.queueEmpty())
        std::this_thread::sleep_for(1ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::string>{"a.kzp", "b.kzp"}));
}

TEST(Loader, RefusesAFileThatCannotBeOpenedAndQueuesNothing) {
    test::TempDir dir;
    std::atomic<int> runs{0};
    LibDataLoader loader;
    loader.start([&](const LoadRequest&) { ++runs; });
    EXPECT_FALSE(loader.enqueue(0, dir.path().string(), "missing.kzp"));
    EXPECT_TRUE(loader.queueEmpty());
    loader.stop();
    EXPECT_EQ(runs, 0);
}

TEST(Loader, StopLogsBothLinesInOrderAndJoins) {
    test::RecordingSinks sinks;
    {
        LibDataLoader loader;
        loader.start([](const LoadRequest&) {});
        loader.stop();
        EXPECT_EQ(loader.state(), LibDataLoader::Stopped);
    }
    const auto lines = sinks.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "LibDataLoader 終了待ち");
    EXPECT_EQ(lines[1], "LibDataLoader 終了");
}

TEST(Loader, SecondStartIsRefusedWithALogLine) {
    test::RecordingSinks sinks;
    LibDataLoader loader;
    loader.start([](const LoadRequest&) {});
    loader.start([](const LoadRequest&) {});
    EXPECT_TRUE(sinks.logged("*** エラー *** 既にHANDLE作成済み"));
}

TEST(RegistryLoad, MissingFileReturnsMinusOneAtOnce) {
    test::TempDir dir;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(registry().loadFile(dir.path().string(), "missing.mqo"), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

// A load that outlasts the time-out is still waited for: the caller never sees a half-filled model.
TEST(RegistryLoad, SlowLoadIsWaitedForAndTheTimeOutLoggedOnce) {
    test::TempDir dir;
    test::writeText(dir.file("slow.kzp"), "x");
    test::RecordingSinks sinks;
    std::atomic<bool> finished{false};
    registry().setLoadDispatch([&](int slot, const std::string&) {
        std::this_thread::sleep_for(900ms);
        registry().get(slot)->positions.resize(1000);
        finished = true;
    });
    const int slot = registry().loadFile(dir.path().string(), "slow.kzp");
    ASSERT_GE(slot, 0);
    EXPECT_TRUE(finished);
    EXPECT_EQ(registry().get(slot)->positions.size(), 1000u);
    int timeouts = 0;
    for (const auto& line : sinks.lines())
        timeouts += line == "*** Error *** Model3 Load TimeOut:" + std::to_string(slot);
    EXPECT_EQ(timeouts, 1);
    registry().setLoadDispatch({});
    registry().requestRelease(slot);
    registry().collect();
}

TEST(RegistryLoad, BackToBackLoadsFinishInOrder) {
    test::TempDir dir;
    test::writeText(dir.file("one.kzp"), "1");
    test::writeText(dir.file("two.kzp"), "2");
    std::vector<std::string> order;
    registry().setLoadDispatch([&](int, const std::string& path) { order.push_back(path); });
    const int a = registry().loadFile(dir.path().string(), "one.kzp");
    const int b = registry().loadFile(dir.path().string(), "two.kzp");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], dir.file("one.kzp"));
    EXPECT_EQ(order[1], dir.file("two.kzp"));
    EXPECT_EQ(registry().get(a)->fileName, "one.kzp");
    EXPECT_EQ(registry().get(a)->folder, dir.path().string());
    registry().setLoadDispatch({});
    registry().requestRelease(a);
    registry().requestRelease(b);
    registry().collect();
}

}  // namespace
}  // namespace rv
