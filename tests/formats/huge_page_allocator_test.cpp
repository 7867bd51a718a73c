// The allocator of the readers' big buffers: small and large blocks, and vectors that grow from
// one kind into the other.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>

#include "model/huge_page_allocator.h"

namespace rv {
namespace {

TEST(HugePageAllocator, VectorsKeepTheirValuesAcrossTheHugePageSize) {
    // Grows through heap blocks into huge-page blocks and back down on shrinking.
    HugePageVector<double> values;
    for (int i = 0; i < 600000; ++i)
        values.push_back(i * 0.5);
    EXPECT_GE(values.capacity() * sizeof(double), kHugePageFrom);
    if (hugePagesOffered()) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % kHugePageBytes, 0u);
    }
    EXPECT_EQ(values[599999], 599999 * 0.5);
    EXPECT_EQ(std::accumulate(values.begin(), values.end(), 0.0), 0.5 * 599999.0 * 600000.0 / 2);

    HugePageVector<double> copy = values;
    values.resize(10);
    values.shrink_to_fit();
    EXPECT_EQ(values.back(), 4.5);
    EXPECT_EQ(copy.size(), 600000u);
    EXPECT_EQ(copy[123456], 61728.0);

    HugePageVector<std::byte> small(100, std::byte{7});
    EXPECT_EQ(small[99], std::byte{7});
    HugePageVector<std::byte> moved = std::move(small);
    EXPECT_EQ(moved.size(), 100u);
}

TEST(HugePageAllocator, ExactlyAtTheThresholdAndJustBelow) {
    HugePageAllocator<std::byte> allocator;
    for (std::size_t bytes : {kHugePageFrom - 1, kHugePageFrom, kHugePageBytes, kHugePageBytes + 1}) {
        std::byte* p = allocator.allocate(bytes);
        ASSERT_NE(p, nullptr);
        p[0] = std::byte{1};
        p[bytes - 1] = std::byte{2};  // the whole block is usable
        if (bytes >= kHugePageFrom && hugePagesOffered()) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kHugePageBytes, 0u) << bytes;
        }
        allocator.deallocate(p, bytes);
    }
    EXPECT_THROW((void)HugePageAllocator<double>().allocate(SIZE_MAX / 4), std::bad_array_new_length);
}

}  // namespace
}  // namespace rv
