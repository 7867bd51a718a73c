#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "tests/support/test_support.h"

namespace rv {
namespace {

std::vector<std::byte> bytesOf(const std::array<std::byte, kSettingsBytes>& a) { return {a.begin(), a.end()}; }

SettingsFile sample() {
    SettingsFile s;
    s.windowLeft = -32;
    s.windowTop = 40;
    s.windowWidth = 1600;
    s.windowHeight = 1200;
    for (int i = 0; i < 8; ++i)
        s.reserved[i] = -1000 * (i + 1);
    s.displayWord0 = 7;
    s.antiAliasOn = 1;
    s.lightOn = 0;
    s.displayWord1 = 0x12345678;
    s.displayWord2 = -2;
    s.displayWord3 = 0;
    s.referenceGeometry = 0;
    s.displayWord5 = 5;
    s.displayWord6 = 42;
    return s;
}

void expectDefaults(const SettingsFile& s) {
    EXPECT_EQ(s.displayWord3, 1);
    EXPECT_EQ(s.referenceGeometry, 1);
    EXPECT_EQ(s.displayWord5, 0);
    EXPECT_EQ(s.displayWord6, 10000);
}

TEST(SettingsFile, LayoutIsLittleEndianInFileOrder) {
    const auto bytes = encodeSettings(sample());
    auto word = [&](std::size_t offset) {
        return std::int32_t(std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
                            std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24);
    };
    const std::pair<std::size_t, std::int32_t> expected[] = {{0, 2003041},     {4, -32}, {16, 1200}, {20, -1000},
                                                             {48, -8000},      {52, 7},  {56, 1},    {60, 0},
                                                             {64, 0x12345678}, {76, 0},  {84, 42}};
    for (const auto& [offset, value] : expected)
        EXPECT_EQ(word(offset), value) << "at " << offset;
}

TEST(SettingsFile, WrittenAndReadBackGivesTheSameBytes) {
    test::TempDir dir;
    const std::string path = dir.file(kSettingsFileName);
    ASSERT_FALSE(writeSettings(path, sample()).has_value());
    const std::vector<std::byte> first = test::readBytes(path);
    ASSERT_EQ(first.size(), kSettingsBytes);
    const SettingsFile back = readSettings(path);
    EXPECT_EQ(back.reserved, sample().reserved);
    EXPECT_EQ(back.referenceGeometry, 0);  // a valid file keeps even the defaulted words
    ASSERT_FALSE(writeSettings(path, back).has_value());
    EXPECT_EQ(test::readBytes(path), first);
}

TEST(SettingsPlacement, AnyRectangleOnAScreenIsKeptElseTheDefaultIsCentred) {
    const ScreenRect primary{0, 0, 1920, 1080};
    const ScreenRect second{1920, -200, 2560, 1440};  // a wide monitor to the right, higher up
    const std::vector<ScreenRect> screens{primary, second};
    const ScreenRect fallback{0, 0, 1280, 800};
    auto start = [&](int left, int top, int width, int height) {
        SettingsFile s;
        s.windowLeft = left;
        s.windowTop = top;
        s.windowWidth = width;
        s.windowHeight = height;
        const ScreenRect r = startRectangle(s, screens, primary, fallback);
        return std::array<int, 4>{r.left, r.top, r.width, r.height};
    };
    // Kept: anywhere on either screen, past the old fixed bounds, or partly off a screen.
    EXPECT_EQ(start(312, 90, 1296, 797), (std::array<int, 4>{312, 90, 1296, 797}));
    EXPECT_EQ(start(2400, -150, 1700, 1300), (std::array<int, 4>{2400, -150, 1700, 1300}));
    EXPECT_EQ(start(-1000, 500, 1100, 700), (std::array<int, 4>{-1000, 500, 1100, 700}));
    // Replaced: off every screen (a monitor unplugged), no size, or values no screen can hold.
    const std::array<int, 4> centred{320, 140, 1280, 800};
    EXPECT_EQ(start(5000, 100, 800, 600), centred);
    EXPECT_EQ(start(100, 1200, 800, 600), centred);  // below the primary, left of the second
    EXPECT_EQ(start(100, 100, 0, 0), centred);
    EXPECT_EQ(start(2147483000, 2147483000, 2147483000, 2147483000), centred);
    // A small primary screen: the default shrinks to it.
    SettingsFile none;
    const ScreenRect small = startRectangle(none, {{0, 0, 1024, 600}}, {0, 0, 1024, 600}, fallback);
    EXPECT_EQ((std::array<int, 4>{small.left, small.top, small.width, small.height}),
              (std::array<int, 4>{0, 0, 1024, 600}));
}

TEST(SettingsFile, ForeignVersionResetsTheDefaultedWordsOnly) {
    // A rectangle far off the old bounds is still read as it is; the screens judge it at start.
    SettingsFile s = sample();
    s.windowLeft = 3000;
    const SettingsFile read = decodeSettings(bytesOf(encodeSettings(s)));
    EXPECT_EQ(read.windowLeft, 3000);
    EXPECT_EQ(read.displayWord5, 5);

    std::vector<std::byte> foreign = bytesOf(encodeSettings(sample()));
    foreign[0] = std::byte{0x62};
    const SettingsFile other = decodeSettings(foreign);
    expectDefaults(other);
    EXPECT_EQ(other.lightOn, 0);
    EXPECT_EQ(other.windowTop, 40);
}

TEST(SettingsFile, MissingOrShortFileGivesDefaults) {
    test::TempDir dir;
    const SettingsFile fresh;
    const SettingsFile missing = readSettings(dir.file("none.dat"));
    expectDefaults(missing);
    EXPECT_EQ(missing.lightOn, 1);
    EXPECT_EQ(missing.antiAliasOn, 0);
    EXPECT_EQ(bytesOf(encodeSettings(missing)), bytesOf(encodeSettings(fresh)));
    EXPECT_EQ(bytesOf(encodeSettings(readSettings(dir.path().string()))), bytesOf(encodeSettings(fresh)));

    const std::vector<std::byte> whole = bytesOf(encodeSettings(sample()));
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<std::byte> prefix(whole.begin(), whole.begin() + n);
        const SettingsFile s = decodeSettings(prefix);
        // Whole words read keep their value, the rest (a torn word too) keep the defaults.
        EXPECT_EQ(s.displayWord6, 10000) << n;
        EXPECT_EQ(s.lightOn, n >= 64 ? 0 : 1) << n;
        EXPECT_EQ(s.windowLeft, n >= 8 ? -32 : 0) << n;
        if (n < 76) {
            EXPECT_EQ(s.referenceGeometry, 1) << n;
        }
    }
    // An 84-byte file of this version is valid: the words read stay, the last one defaults.
    const SettingsFile cut = decodeSettings(std::span(whole).first(84));
    EXPECT_EQ(cut.displayWord5, 5);
    EXPECT_EQ(cut.displayWord6, 10000);
}

TEST(SettingsWindow, MinimisedWindowKeepsTheLastRectangle) {
    SettingsFile s;
    recordWindowRectangle(s, 100, 50, 800, 600, false);
    recordWindowRectangle(s, -32000, -32000, 160, 28, false);  // minimised, as reported by position
    recordWindowRectangle(s, 0, 0, 160, 28, true);  // minimised, as the host says
    EXPECT_EQ(s.windowLeft, 100);
    EXPECT_EQ(s.windowTop, 50);
    EXPECT_EQ(s.windowWidth, 800);
    EXPECT_EQ(s.windowHeight, 600);
    recordWindowRectangle(s, -3199, 10, 640, 480, false);  // the far edge still counts
    EXPECT_EQ(s.windowLeft, -3199);
    EXPECT_EQ(s.windowHeight, 480);
}

TEST(SettingsPath, FollowsXdgConfigHomeAndCreatesTheFolder) {
    test::TempDir dir;
    const std::string config = dir.file("config");
    {
        test::ScopedEnv xdg("XDG_CONFIG_HOME", config.c_str());
        EXPECT_EQ(settingsPath(), config + "/revizevoz/VOZ_Ura_2015.dat");
        ASSERT_FALSE(std::filesystem::exists(config));
        ASSERT_FALSE(writeSettings(settingsPath(), sample()).has_value());
        EXPECT_EQ(test::readBytes(settingsPath()), bytesOf(encodeSettings(sample())));
    }
    const std::string home = dir.file("home");
    test::ScopedEnv homeEnv("HOME", home.c_str());
    for (const char* ignored : {"", "relative/config"}) {
        test::ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(settingsFolder(), home + "/.config/revizevoz") << '"' << ignored << '"';
    }
    test::ScopedEnv unset("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(settingsFolder(), home + "/.config/revizevoz");
}

TEST(SettingsPath, FailedWriteSaysWhy) {
    test::TempDir dir;
    const std::string blocker = dir.file("blocker");
    test::writeText(blocker, "a file where the folder should be");
    const auto failed = writeSettings(blocker + "/revizevoz/" + kSettingsFileName, sample());
    ASSERT_TRUE(failed.has_value());
    EXPECT_NE(failed->find("blocker"), std::string::npos) << *failed;
    EXPECT_TRUE(writeSettings("", sample()).has_value());
}

}  // namespace
}  // namespace rv
