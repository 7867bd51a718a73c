#include "runtime/library.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/fake_device.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

// A 2x1 24-bit BMP.
std::vector<std::byte> smallBmp() {
    const unsigned char bmp[] = {
        'B',  'M',  62, 0, 0, 0, 0, 0,  0, 0, 54, 0, 0, 0, 40,  0, 0,   0,    2,    0, 0,
        0,    1,    0,  0, 0, 1, 0, 24, 0, 0, 0,  0, 0, 8, 0,   0, 0,   0x13, 0x0B, 0, 0,
        0x13, 0x0B, 0,  0, 0, 0, 0, 0,  0, 0, 0,  0, 0, 0, 255, 0, 255, 0,    0,    0,
    };
    const auto* p = reinterpret_cast<const std::byte*>(bmp);
    return std::vector<std::byte>(p, p + sizeof bmp);
}

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetLibraryState();
        std::filesystem::create_directories(dir.path() / "bin");
        options.executablePath = (dir.path() / "bin" / "revizevoz").string();
        options.enterDataFolder = false;
    }
    void TearDown() override { resetLibraryState(); }

    test::TempDir dir;
    test::FakeDevice device;
    LibOptions options;
};

TEST_F(LibraryTest, InitLogsItsStepsInOrder) {
    test::RecordingSinks sinks;
    device.gpu = {4, 255, 1000000, 16777215, 3, 2};
    ASSERT_TRUE(LibInit(device, options));
    const std::vector<std::string> expected = {
        "VUruduz 2015.0504",
        "モニター 1920×1080",
        "*** LoadError *** Data/System/tex_null.bmp",
        "KZ.WinVer 0",
        "Fake Renderer",
        "KZ.GPU_Info.VertexBlendMatrices 4",
        "KZ.GPU_Info.VertexBlendMatrixIndex 255",
        "KZ.GPU_Info.PrimitiveCount 1000000",
        "KZ.GPU_Info.VertexIndex 16777215",
        "KZ.GPU_Info.GeForce 6",
        "KZ.GPU_Info.VertexShaderVersion 3",
        "KZ.GPU_Info.PixelShaderVersion   2",
        "WindowSize 1280×720",
        "アンチエイリアス 対応( 4 Sample )",
        "アンチエイリアス ON",
        "KZ.LibInit() 初期化 終了",
        std::string(71, '-'),
    };
    EXPECT_EQ(sinks.lines(), expected);
    EXPECT_TRUE(sinks.messages().empty());
    // The missing null texture is replaced by one white texel.
    EXPECT_EQ(lib().nullTexture.width, 1);
    EXPECT_EQ(lib().nullTexture.rgba, (std::vector<std::uint8_t>{255, 255, 255, 255}));
    EXPECT_EQ(device.sampleCount, 4);
    EXPECT_TRUE(lib().active);
    EXPECT_EQ(lib().dataFolder, (dir.path() / "bin" / "Data").string());
    EXPECT_TRUE(takeResyncRequest());
    // The projection is set for the 16:9 back buffer.
    EXPECT_NEAR(lib().projection[5], 2.4142136f, 1e-6);
    EXPECT_NEAR(lib().projection[0], 2.4142136f * 9 / 16, 1e-6);
}

TEST_F(LibraryTest, InitClampsToTheScreenAndStartsWithoutAntiAliasOnWeakGpus) {
    test::RecordingSinks sinks;
    device.gpu = {0, 0, 0, 0, 0, 0};
    device.samplesSupported = false;
    options.width = 4000;
    ASSERT_TRUE(LibInit(device, options));
    EXPECT_EQ(device.width, 1920);
    EXPECT_TRUE(sinks.logged("KZ.GPU_Info.GeForce 0"));
    EXPECT_TRUE(sinks.logged("アンチエイリアス 未対応( 4 Sample )"));
    EXPECT_TRUE(sinks.logged("アンチエイリアス OFF"));
    EXPECT_FALSE(lib().antiAliasOn);
}

TEST_F(LibraryTest, InitFindsTheNullTextureBesideOrInTheInstall) {
    test::RecordingSinks sinks;
    std::filesystem::create_directories(dir.path() / "share/revizevoz/Data/System");
    test::writeBytes((dir.path() / "share/revizevoz/Data/System/tex_null.bmp").string(), smallBmp());
    ASSERT_TRUE(LibInit(device, options));
    EXPECT_EQ(lib().nullTexture.width, 2);
    EXPECT_FALSE(sinks.logged("LoadError"));
    EXPECT_EQ(std::filesystem::path(lib().dataFolder), (dir.path() / "share/revizevoz/Data"));

    // A Data folder beside the executable wins.
    std::filesystem::create_directories(dir.path() / "bin/Data");
    EXPECT_EQ(findDataFolder(options.executablePath), (dir.path() / "bin/Data").string());
}

TEST_F(LibraryTest, InitFailsWhenNoContextCanBeMade) {
    test::RecordingSinks sinks;
    int closes = 0;
    setCloseHandler([&] { ++closes; });
    device.createFails = true;
    EXPECT_FALSE(LibInit(device, options));
    ASSERT_EQ(sinks.messages().size(), 1u);
    EXPECT_EQ(sinks.messages()[0], errorText(0x82000001));
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(lib().active);
    EXPECT_EQ(lib().device, nullptr);
}

TEST_F(LibraryTest, MustExitMessageIsTheLastOne) {
    test::RecordingSinks sinks;
    int closes = 0;
    setCloseHandler([&] { ++closes; });
    EXPECT_EQ(ErrorMessage(0x8876017C, 0), 0x8876017Cu);
    EXPECT_EQ(closes, 0);
    ErrorMessage(0x8200000C, 1);
    EXPECT_EQ(closes, 1);
    ErrorMessage(0x8007000E, 0);
    ErrorMessage(0x8200000C, 1);
    const std::vector<std::string> expected = {"Not enough video memory.", "Could not reset the Direct3D device."};
    EXPECT_EQ(sinks.messages(), expected);
    EXPECT_EQ(closes, 1);
}

TEST_F(LibraryTest, DriverFaultAlwaysMustExit) {
    test::RecordingSinks sinks;
    ErrorMessage(0x88760827, 0);
    ErrorMessage(0x8007000E, 0);
    ASSERT_EQ(sinks.messages().size(), 1u);
    EXPECT_EQ(sinks.messages()[0], "A serious problem occured inside the display driver.");
}

TEST_F(LibraryTest, ReferenceSwitchAppendsItsParagraph) {
    test::RecordingSinks sinks;
    ErrorMessage(0x8200000B, 2);
    ErrorMessage(0x12345678, 0);
    ASSERT_EQ(sinks.messages().size(), 2u);
    EXPECT_EQ(sinks.messages()[0],
              "Could not load required media.\n\nSwitching to the reference rasterizer,\na software device that "
              "implements the entire\nDirect3D feature set, but runs very slowly.");
    EXPECT_EQ(sinks.messages()[1], "Generic application error. Enable\ndebug output for detailed information.");
}

TEST_F(LibraryTest, ShowMessageResynchronisesTiming) {
    test::RecordingSinks sinks;
    takeResyncRequest();
    ShowMessage("", "hello");
    EXPECT_TRUE(takeResyncRequest());
    EXPECT_FALSE(takeResyncRequest());
}

TEST_F(LibraryTest, AntiAliasAndVSyncResetTheDevice) {
    ASSERT_TRUE(LibInit(device, options));
    test::RecordingSinks sinks;
    const int resets = device.resets;
    AntiAliasSet(false);
    EXPECT_EQ(device.sampleCount, 0);
    V_SyncSet(false);
    EXPECT_EQ(device.swapInterval, 0);
    EXPECT_EQ(device.resets, resets + 2);
    CPU_PossessionSet(true);
    const std::vector<std::string> expected = {"アンチエイリアス OFF", "垂直同期を待たない KZ.V_SyncSet()",
                                               "CPU占有する KZ.CPU_PossessionSet()"};
    EXPECT_EQ(sinks.lines(), expected);
    EXPECT_TRUE(lib().cpuPossession);
    EXPECT_FALSE(lib().vSync);
}

TEST_F(LibraryTest, ResizeKeeps16To9AndSkipsMinimised) {
    EXPECT_EQ(clientHeightFor(1280), 720);
    EXPECT_EQ(clientHeightFor(1000), 563);  // 562.5 rounds up
    EXPECT_EQ(clientHeightFor(0), 0);
    ASSERT_TRUE(LibInit(device, options));
    test::RecordingSinks sinks;
    const int resets = device.resets;
    WindowResized(0, 0, true);
    EXPECT_EQ(device.resets, resets);
    WindowResized(800, clientHeightFor(800), false);
    EXPECT_EQ(device.resets, resets + 1);
    EXPECT_EQ(lib().windowHeight, 450);
    EXPECT_TRUE(sinks.logged("WindowSize 800×450"));
    EXPECT_NEAR(lib().projection[0], lib().projection[5] * 450 / 800, 1e-6);
}

TEST_F(LibraryTest, PauseNests) {
    ASSERT_TRUE(LibInit(device, options));
    Pause(true);
    Pause(true);
    Pause(false);
    EXPECT_FALSE(lib().active);
    Pause(false);
    EXPECT_TRUE(lib().active);
    Pause(false);  // one too many
    EXPECT_EQ(lib().pauseCount, 0);
    Pause(true);
    EXPECT_FALSE(lib().active);
}

}  // namespace
}  // namespace rv
