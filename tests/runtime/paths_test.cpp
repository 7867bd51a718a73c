#include "runtime/paths.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace rv {
namespace {

TEST(PathHelpers, ExtensionAndBaseNameIgnoreALeadingDot) {
    EXPECT_EQ(extensionOf("a.b.kzp"), "kzp");
    EXPECT_EQ(baseNameOf("a.b.kzp"), "a.b");
    EXPECT_EQ(extensionOf(".hidden"), "");
    EXPECT_EQ(baseNameOf(".hidden"), "");
    EXPECT_EQ(extensionOf("noext"), "");
    EXPECT_EQ(baseNameOf("noext"), "");
}

TEST(PathHelpers, DirectoryAndFileNameTakeBothSeparators) {
    EXPECT_EQ(directoryOf("tex\\sub\\a.bmp"), "tex\\sub");
    EXPECT_EQ(directoryOf("a/b/c.x"), "a/b");
    EXPECT_EQ(directoryOf("c.x"), "");
    EXPECT_EQ(fileNameOf("C:\\models\\c.x"), "c.x");
    EXPECT_EQ(toSlashes("a\\b\\c"), "a/b/c");
}

TEST(TextConversion, ShiftJisRoundTrip) {
    const std::string sjis = "\x83\x4f\x83\x8b\x81\x5b\x83\x76";
    ASSERT_EQ(sjisToUtf8(sjis).value_or(""), "グループ");
    EXPECT_EQ(utf8ToSjis("グループ").value_or(""), sjis);
    bool lossy = false;
    EXPECT_EQ(utf8ToSjisLossy("a\xF0\x9F\x98\x80"
                              "b",
                              &lossy),
              "a?b");  // an emoji has no CP932 form
    EXPECT_TRUE(lossy);
}

TEST(ModelFiles, ResolvedByBackslashesShiftJisCaseAndBareName) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "tex");
    test::writeText(dir.file("tex/wood.bmp"), "w");
    test::writeText(dir.file("駅横.png"), "s");
    test::writeText(dir.file("lobbyxneg.JPG"), "c");
    const std::string folder = dir.path().string();
    EXPECT_EQ(resolveModelFile(folder, "tex\\wood.bmp").value_or(""), dir.file("tex/wood.bmp"));
    EXPECT_EQ(resolveModelFile(folder, "\x89\x77\x89\xa1.png").value_or(""), dir.file("駅横.png"));
    EXPECT_EQ(resolveModelFile(folder, "LobbyXNeg.jpg").value_or(""), dir.file("lobbyxneg.JPG"));
    EXPECT_EQ(resolveModelFile(folder, "C:\\work\\tex\\lobbyxneg.JPG").value_or(""), dir.file("lobbyxneg.JPG"));
    EXPECT_FALSE(resolveModelFile(folder, "missing.bmp").has_value());
    EXPECT_FALSE(resolveModelFile(folder, "").has_value());
}

}  // namespace
}  // namespace rv
