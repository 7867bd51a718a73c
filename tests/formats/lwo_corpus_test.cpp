// LightWave objects written by other tools load with the counts their chunks imply.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/lwo/lwo.h"
#include "tests/support/test_support.h"

namespace rv {
namespace {

namespace fs = std::filesystem;

std::uint32_t be32(const std::vector<std::byte>& b, std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) | (std::uint32_t(b[at + 2]) << 8) |
           std::uint32_t(b[at + 3]);
}
unsigned be16(const std::vector<std::byte>& b, std::size_t at) { return (unsigned(b[at]) << 8) | unsigned(b[at + 1]); }

struct Expected {
    std::size_t points = 0;
    std::size_t polygons = 0;  // after fanning n-gons into n - 2 triangles
    std::size_t surfaces = 0;
};

// Counts from the last PNTS and POLS chunks and the SRFS names, walked independently of the reader.
Expected expectedCounts(const std::vector<std::byte>& file) {
    Expected e;
    std::size_t pos = 12;
    const std::size_t end = std::min<std::size_t>(file.size(), 8 + std::size_t(be32(file, 4)));
    while (pos + 8 <= end) {
        const std::string tag(reinterpret_cast<const char*>(&file[pos]), 4);
        const std::size_t size = be32(file, pos + 4), data = pos + 8;
        if (tag == "PNTS")
            e.points = size / 12;
        if (tag == "SRFS") {
            e.surfaces = 0;
            for (std::size_t i = 0; i < size; ++e.surfaces) {
                const std::size_t start = i;
                while (i < size && file[data + i] != std::byte{0})
                    ++i;
                i += (i - start + 1) % 2 == 1 ? 2 : 1;  // zero and pad
            }
        }
        if (tag == "POLS") {
            e.polygons = 0;
            for (std::size_t w = 0; w < size / 2;) {
                const unsigned n = be16(file, data + 2 * w);
                const auto surface = std::int16_t(be16(file, data + 2 * (w + n + 1)));
                e.polygons += n > 4 ? n - 2 : (n > 0 ? 1 : 0);
                w += n + 2 + (surface < 0 ? 1 : 0);
            }
        }
        pos = data + size + size % 2;
    }
    return e;
}

TEST(LwoCorpus, LwobFilesLoadWithTheirCounts) {
    const fs::path corpus = test::corpusDir();
    if (corpus.empty() || !fs::is_directory(corpus / "lwo"))
        GTEST_SKIP() << "no corpus";
    int lwob = 0, refused = 0;
    for (const auto& entry : fs::recursive_directory_iterator(corpus / "lwo")) {
        if (!entry.is_regular_file() || entry.path().extension() != ".lwo")
            continue;
        test::TempDir dir;
        const fs::path copy = test::copyWithNeighbours(entry.path(), dir.path());
        const std::vector<std::byte> file = test::readBytes(copy.string());
        ASSERT_GE(file.size(), 12u) << entry.path();
        const std::string type(reinterpret_cast<const char*>(&file[8]), 4);
        Model m;
        ReadContext ctx;
        ctx.path = copy.string();
        const auto error = readLwo(file, m, ctx);
        if (type != "LWOB") {
            EXPECT_TRUE(error) << entry.path() << " of form type " << type << " was accepted";
            ++refused;
            continue;
        }
        ++lwob;
        ASSERT_FALSE(error) << entry.path() << ": " << error->reason;
        const Expected e = expectedCounts(file);
        EXPECT_EQ(std::size_t(m.positionCount()), e.points) << entry.path();
        EXPECT_EQ(std::size_t(m.polygonCount()), e.polygons) << entry.path();
        EXPECT_EQ(std::size_t(m.groupCount()), e.surfaces) << entry.path();
        EXPECT_EQ(m.colorCount(), m.polygonCount()) << entry.path();
        for (const ModelPolygon& p : m.polygons) {
            ASSERT_GE(p.cornerCount, 1);
            ASSERT_LE(p.cornerCount, 4);
            ASSERT_LT(p.group, m.groupCount());
            for (int k = 0; k < p.cornerCount; ++k)
                ASSERT_LT(p.corners[k].position, m.positionCount());
        }
    }
    EXPECT_EQ(lwob, 10);
    EXPECT_EQ(refused, 1);
}

}  // namespace
}  // namespace rv
