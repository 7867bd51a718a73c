#include "formats/common/file_io.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "formats/common/byte_cursor.h"
#include "formats/common/text_cursor.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

TEST(AtomicWrite, ReplacesTheTargetAndLeavesNoTemporaryFile) {
    test::TempDir dir;
    test::writeText(dir.file("out.KZP"), "old");
    const auto bytes = test::bytesOf("new contents");
    EXPECT_FALSE(writeFileAtomic(dir.file("out.KZP"), bytes).has_value());
    EXPECT_EQ(test::readBytes(dir.file("out.KZP")), bytes);
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST(AtomicWrite, FailsIntoAMissingFolder) {
    test::TempDir dir;
    const auto error = writeFileAtomic(dir.file("no/such/folder/out.X"), test::bytesOf("x"));
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
}

TEST(ByteCursor, ShortReadFailsAtItsOffsetAndLaterReadsGiveZero) {
    const auto bytes = test::bytesOf("\x01\x02\x03");
    ByteCursor cur(bytes);
    EXPECT_EQ(cur.u16(), 0x0201);
    EXPECT_EQ(cur.u32(), 0u);
    EXPECT_TRUE(cur.failed());
    EXPECT_EQ(cur.u8(), 0);
    EXPECT_EQ(cur.error("x").offset, 2u);
    ByteCursor big(bytes, ByteCursor::Endian::Big);
    EXPECT_EQ(big.u16(), 0x0102);
    EXPECT_TRUE(big.fits(1, 1));
    EXPECT_FALSE(big.fits(2, 1));
    EXPECT_FALSE(big.fits(std::uint64_t(1) << 62, 16));
}

TEST(TextCursor, LinesEndWithCrLfCrOrLfAndNumbersIgnoreTheLocale) {
    TextCursor t(std::string_view("a\r\nb\rc\n\nd"));
    EXPECT_EQ(t.readLine(), "a");
    EXPECT_EQ(t.readLine(), "b");
    EXPECT_EQ(t.readLine(), "c");
    EXPECT_EQ(t.readLine(), "");
    EXPECT_EQ(t.readLine(), "d");
    EXPECT_TRUE(t.atEnd());
    EXPECT_EQ(t.lineAt(7), 4u);
    float f = 0;
    EXPECT_TRUE(parseFloat(" 1.5 ", f));
    EXPECT_EQ(f, 1.5f);
    EXPECT_FALSE(parseFloat("1,5", f));
    std::string_view s = " +2 -3.25x";
    std::int32_t i = 0;
    EXPECT_TRUE(takeInt(s, i));
    EXPECT_EQ(i, 2);
    EXPECT_TRUE(takeFloat(s, f));
    EXPECT_EQ(f, -3.25f);
    EXPECT_EQ(s, "x");
}

TEST(TextCursor, LeadingNumbersReadLikePercentF) {
    auto leadingFloat = [](std::string_view s, float& out) { return takeLeadingFloat(s, out); };
    float f = 7;
    EXPECT_EQ(leadingFloat(" \t\v+1.5e1xyz", f), LeadingNumber::Read);
    EXPECT_EQ(f, 15.0f);
    EXPECT_EQ(leadingFloat("0x10", f), LeadingNumber::Read);
    EXPECT_EQ(f, 0.0f);
    for (const char* none : {"", "  ", "abc", "+-1", "++1", "-", ".e1", ",5"}) {
        f = 7;
        EXPECT_EQ(leadingFloat(none, f), LeadingNumber::None) << none;
        EXPECT_EQ(f, 7.0f) << none;
    }
    // Too small for a float is a signed zero, too large is refused, however the digits are written.
    const std::string zeros(400, '0');
    const std::vector<std::string> tiny{"1e-60", "-1e-400", "0." + zeros + "1e300", "1" + zeros + "e-500"};
    const std::vector<std::string> huge{"1e39", "-3.4028236e38", "1" + zeros, "1" + zeros + "e-350",
                                        "1e99999999999999999999"};
    for (const std::string& t : tiny) {
        f = 7;
        EXPECT_EQ(leadingFloat(t, f), LeadingNumber::Read) << t;
        EXPECT_EQ(f, 0.0f) << t;
        EXPECT_EQ(std::signbit(f), t[0] == '-') << t;
    }
    for (const std::string& h : huge)
        EXPECT_EQ(leadingFloat(h, f), LeadingNumber::TooLarge) << h;
    EXPECT_EQ(leadingFloat("3.4028235e38", f), LeadingNumber::Read);
    EXPECT_EQ(leadingFloat("1e-45", f), LeadingNumber::Read);
    EXPECT_GT(f, 0.0f);
    EXPECT_EQ(leadingFloat("-inf", f), LeadingNumber::Read);
    EXPECT_TRUE(std::isinf(f));

    std::int32_t i = 7;
    std::string_view s = "+2147483647 -2147483648 2147483648 -99999999999 12.5";
    EXPECT_EQ(takeLeadingInt(s, i), LeadingNumber::Read);
    EXPECT_EQ(i, INT32_MAX);
    EXPECT_EQ(takeLeadingInt(s, i), LeadingNumber::Read);
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_EQ(takeLeadingInt(s, i), LeadingNumber::TooLarge);
    EXPECT_EQ(i, INT32_MAX);
    s.remove_prefix(11);
    EXPECT_EQ(takeLeadingInt(s, i), LeadingNumber::TooLarge);
    EXPECT_EQ(i, INT32_MIN);
    s.remove_prefix(13);
    EXPECT_EQ(takeLeadingInt(s, i), LeadingNumber::Read);
    EXPECT_EQ(i, 12);
    EXPECT_EQ(s, ".5");
    EXPECT_FALSE(takeInt(s, i));
    EXPECT_EQ(s, ".5");
}

}  // namespace
}  // namespace rv
