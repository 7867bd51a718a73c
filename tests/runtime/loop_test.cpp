#include "runtime/loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/input.h"
#include "runtime/library.h"
#include "tests/support/fake_device.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetLibraryState();
        LibOptions options;
        options.executablePath = dir.file("revizevoz");
        options.enterDataFolder = false;
        test::RecordingSinks quiet;
        ASSERT_TRUE(LibInit(device, options));
        hooks.updateStep = [this] { events.push_back("step"); };
        hooks.registryStep = [this] { events.push_back("registry"); };
        hooks.modelPass = [this] { events.push_back("model"); };
        hooks.render = [this] { events.push_back("render"); };
        hooks.invalidateDeviceObjects = [this] { events.push_back("invalidate"); };
        hooks.restoreDeviceObjects = [this] {
            events.push_back("restore");
            return restoreSucceeds;
        };
    }
    void TearDown() override { resetLibraryState(); }

    int stepsAt(double t) { return runLoopPass(device, hooks, t).steps; }

    test::TempDir dir;
    test::FakeDevice device;
    LoopHooks hooks;
    std::vector<std::string> events;
    bool restoreSucceeds = true;
};

TEST_F(LoopTest, DefaultsRunOneStepAndOneFramePerPass) {
    const LoopPassResult r = runLoopPass(device, hooks, 0);
    EXPECT_EQ(r.steps, 1);
    EXPECT_TRUE(r.rendered);
    EXPECT_EQ(r.waitUntil, 0);
    const std::vector<std::string> expected = {"step", "registry", "model", "render"};
    EXPECT_EQ(events, expected);
    // A long stall changes nothing while the rate and speed are 0.
    EXPECT_EQ(stepsAt(30), 1);
    EXPECT_EQ(stepsAt(30.001), 1);
    EXPECT_EQ(device.presents, 3);
}

TEST_F(LoopTest, StallsRunOneToFiveSteps) {
    setTargetRate(64);
    setSpeed(1);
    setVariableStep(true);
    EXPECT_EQ(stepsAt(0), 1);  // LibInit asked for a resynchronisation: zero elapsed
    EXPECT_EQ(stepsAt(1.0 / 64), 1);
    EXPECT_EQ(stepsAt(4.0 / 64), 3);
    EXPECT_EQ(stepsAt(10.0), 5);  // a long stall is cut to five
    EXPECT_EQ(stepsAt(10.0 + 1.0 / 128), 1);  // half a step still runs one
    // A resynchronisation after a stall runs one step instead of five.
    ResyncTiming();
    EXPECT_EQ(stepsAt(20.0), 1);
}

TEST_F(LoopTest, FixedSpeedRunsThatManyStepsPerPass) {
    setSpeed(2);
    EXPECT_EQ(stepsAt(0), 2);
    EXPECT_EQ(stepsAt(1), 2);
    setSpeed(9);
    EXPECT_EQ(stepsAt(2), 5);
}

TEST_F(LoopTest, PacingWaitsOutTheFramePeriod) {
    setTargetRate(50);
    setPacing(true);
    EXPECT_NEAR(runLoopPass(device, hooks, 3.0).waitUntil, 3.02, 1e-9);
}

TEST_F(LoopTest, NothingRunsWhilePaused) {
    Pause(true);
    const LoopPassResult r = runLoopPass(device, hooks, 0);
    EXPECT_EQ(r.steps, 0);
    EXPECT_TRUE(events.empty());
}

TEST_F(LoopTest, StepsAgeTheKeys) {
    LibKeyEvent(65, true);
    stepsAt(0);
    EXPECT_EQ(lib().keyEdge[65], kKeyHeld);
}

TEST_F(LoopTest, LostDeviceIsRebuiltAndRecovers) {
    test::RecordingSinks sinks;
    device.presentFails = true;
    EXPECT_FALSE(runLoopPass(device, hooks, 0).rendered);
    EXPECT_TRUE(lib().deviceLost);
    EXPECT_TRUE(sinks.logged("デバイスロスト発生"));

    // Still lost: steps run, no frame, a 100 ms wait.
    device.nextStatus = DeviceStatus::Lost;
    events.clear();
    LoopPassResult r = runLoopPass(device, hooks, 1);
    EXPECT_EQ(r.steps, 1);
    EXPECT_FALSE(r.rendered);
    EXPECT_NEAR(r.waitUntil, 1.1, 1e-9);
    EXPECT_EQ(events, (std::vector<std::string>{"step", "registry", "model"}));

    // Can be rebuilt: objects released, the context reset, objects made again.
    device.nextStatus = DeviceStatus::NotReset;
    const int resets = device.resets;
    events.clear();
    EXPECT_FALSE(runLoopPass(device, hooks, 2).rendered);
    EXPECT_EQ(device.resets, resets + 1);
    EXPECT_EQ(events, (std::vector<std::string>{"step", "registry", "model", "invalidate", "restore"}));
    EXPECT_TRUE(lib().deviceObjectsRestored);

    // Back: logged once, drawn again.
    device.nextStatus = DeviceStatus::Ready;
    EXPECT_TRUE(runLoopPass(device, hooks, 3).rendered);
    EXPECT_FALSE(lib().deviceLost);
    EXPECT_TRUE(sinks.logged("デバイスロストから復帰"));
    EXPECT_TRUE(sinks.messages().empty());
}

TEST_F(LoopTest, FailedRebuildMustExit) {
    test::RecordingSinks sinks;
    int closes = 0;
    setCloseHandler([&] { ++closes; });
    lib().deviceLost = true;
    device.nextStatus = DeviceStatus::NotReset;
    restoreSucceeds = false;
    runLoopPass(device, hooks, 0);
    EXPECT_EQ(events.back(), "invalidate");  // what was made is released again
    EXPECT_EQ(sinks.messages(), (std::vector<std::string>{"Could not reset the Direct3D device."}));
    EXPECT_EQ(closes, 1);
}

TEST_F(LoopTest, StatisticsLine) {
    device.sampleCount = 4;
    EXPECT_EQ(frameStatsText(device, 59.94), "59.94 fps (1280x720), X8R8G8B8 (D24S8) (4x Multisample)");
    device.sampleCount = 0;
    EXPECT_EQ(frameStatsText(device, 60), "60.00 fps (1280x720), X8R8G8B8 (D24S8)");
    updateFrameStats(device, 100);  // over a second since time 0: the count starts afresh
    for (int i = 1; i <= 26; ++i)
        updateFrameStats(device, 100 + i * 0.04);
    // 26 frames in 1.04 s.
    EXPECT_NEAR(lib().fps, 25, 1e-9);
    EXPECT_EQ(lib().frameStats, "25.00 fps (1280x720), X8R8G8B8 (D24S8)");
}

}  // namespace
}  // namespace rv
