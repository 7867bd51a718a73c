#include "model/loader.h"
#include "model/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/support/test_support.h"

namespace rv {
namespace {

using namespace std::chrono_literals;

// A result that says which file it stood for.
LoadedModel named(const std::string& name) {
    LoadedModel r;
    r.model = std::make_unique<Model>();
    r.model->fileName = name;
    return r;
}

TEST(Loader, ServesRequestsInArrivalOrderAndHandsBackEachResult) {
    std::mutex mutex;
    std::vector<std::string> seen;
    LibDataLoader loader;
    loader.start();
    auto first = loader.enqueue(0, [&] {
        std::this_thread::sleep_for(50ms);  // the first is slower: order must still hold
        std::lock_guard lock(mutex);
        seen.push_back("a");
        return named("a");
    });
    auto second = loader.enqueue(1, [&] {
        std::lock_guard lock(mutex);
        seen.push_back("b");
        return named("b");
    });
    EXPECT_EQ(second.get().model->fileName, "b");
    EXPECT_EQ(first.get().model->fileName, "a");
    // A result is handed back only once its request has left the queue.
    EXPECT_TRUE(loader.queueEmpty());
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
}

TEST(Loader, WithoutAWorkerARequestFailsInsteadOfWaitingForever) {
    LibDataLoader loader;
    auto result = loader.enqueue(0, [] { return named("never"); });
    ASSERT_EQ(result.wait_for(1s), std::future_status::ready);
    const LoadedModel r = result.get();
    EXPECT_EQ(r.model, nullptr);
    EXPECT_FALSE(r.failure.empty());
    EXPECT_TRUE(loader.queueEmpty());
}

TEST(Loader, StopLogsBothLinesInOrderAndJoins) {
    test::RecordingSinks sinks;
    {
        LibDataLoader loader;
        loader.start();
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
    loader.start();
    loader.start();
    EXPECT_TRUE(sinks.logged("*** エラー *** 既にHANDLE作成済み"));
}

// A load that outlasts the time-out is still waited for: the caller never sees a half-filled model.
TEST(RegistryLoad, SlowLoadIsWaitedForAndTheTimeOutLoggedOnce) {
    test::RecordingSinks sinks;
    std::atomic<bool> finished{false};
    const SlotLoad load = registry().loadFile([&] {
        std::this_thread::sleep_for(900ms);
        LoadedModel r = named("slow.kzp");
        r.model->positions.resize(1000);
        finished = true;
        return r;
    });
    ASSERT_GE(load.slot, 0);
    EXPECT_TRUE(finished);
    EXPECT_TRUE(registry().isLoaded(load.slot));
    EXPECT_EQ(registry().get(load.slot)->positions.size(), 1000u);
    int timeouts = 0;
    for (const auto& line : sinks.lines())
        timeouts += line == "*** Error *** Model3 Load TimeOut:" + std::to_string(load.slot);
    EXPECT_EQ(timeouts, 1);
    registry().releaseAll();
}

TEST(RegistryLoad, FailedLoadReleasesItsSlotAndReportsWhy) {
    const SlotLoad load = registry().loadFile([]() -> LoadedModel { throw std::runtime_error("broken"); });
    EXPECT_EQ(load.slot, -1);
    EXPECT_EQ(load.failure, "the load failed: broken");
    EXPECT_FALSE(registry().isLoaded(0));
    // Pending release until collected; then slot 0 is free again.
    registry().collect();
    EXPECT_EQ(registry().get(0), nullptr);
    EXPECT_EQ(registry().create(), 0);
    registry().releaseAll();
}

}  // namespace
}  // namespace rv
