#include "formats/common/file_io.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace rv
