#include <gtest/gtest.h>

#include <vector>

#include "serial/ByteRing.h"

namespace {

std::vector<uint8_t> Drain(ByteRing& ring) {
    std::vector<uint8_t> out;
    uint8_t byte = 0;
    while (ring.Pop(byte)) {
        out.push_back(byte);
    }
    return out;
}

}  // namespace

TEST(ByteRingTest, HoldsOneByteLessThanItsSize) {
    ByteRing ring(32762);
    for (int i = 0; i < 32761; ++i) {
        ASSERT_TRUE(ring.TryPush(static_cast<uint8_t>(i))) << i;
    }
    EXPECT_FALSE(ring.TryPush(0xEE));
    const std::vector<uint8_t> out = Drain(ring);
    ASSERT_EQ(out.size(), 32761u);
    EXPECT_EQ(out.front(), 0);
    EXPECT_EQ(out.back(), static_cast<uint8_t>(32760));
}

TEST(ByteRingTest, OverwriteOnAFullRingDropsTheOldest) {
    ByteRing ring(4);
    EXPECT_TRUE(ring.PushOverwrite(1));
    EXPECT_TRUE(ring.PushOverwrite(2));
    EXPECT_TRUE(ring.PushOverwrite(3));
    EXPECT_FALSE(ring.PushOverwrite(4));
    EXPECT_EQ(Drain(ring), (std::vector<uint8_t>{2, 3, 4}));
}

TEST(ByteRingTest, PushAllOverwriteKeepsTheNewestAcrossTheWrap) {
    ByteRing ring(5);
    const uint8_t first[] = {1, 2, 3};
    ASSERT_TRUE(ring.PushAllOverwrite(first, 3));
    uint8_t byte = 0;
    ASSERT_TRUE(ring.Pop(byte));
    const uint8_t second[] = {4, 5, 6, 7, 8, 9};
    EXPECT_TRUE(ring.PushAllOverwrite(second, 6));
    EXPECT_EQ(Drain(ring), (std::vector<uint8_t>{6, 7, 8, 9}));
}

TEST(ByteRingTest, BulkMovesStopAtFullAndEmpty) {
    ByteRing ring(6);
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(ring.TryPushSome(bytes, 7), 5u);
    uint8_t out[8] = {};
    EXPECT_EQ(ring.PopSome(out, 2), 2u);
    EXPECT_EQ(ring.TryPushSome(bytes + 5, 2), 2u);
    EXPECT_EQ(ring.PopSome(out, 8), 5u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{3, 4, 5, 6, 7}));
    EXPECT_TRUE(ring.IsEmpty());
}

TEST(ByteRingTest, EmptyRingAndClear) {
    ByteRing ring(8);
    uint8_t byte = 0x55;
    EXPECT_FALSE(ring.Pop(byte));
    EXPECT_EQ(byte, 0x55);
    EXPECT_TRUE(ring.IsEmpty());
    ring.TryPush(9);
    EXPECT_FALSE(ring.IsEmpty());
    ring.Clear();
    EXPECT_TRUE(ring.IsEmpty());
    EXPECT_FALSE(ring.Pop(byte));
}

TEST(ByteRingTest, WithoutStorageEveryOperationFails) {
    for (const uint16_t size : {0, 1}) {
        ByteRing ring;
        EXPECT_FALSE(ring.Allocate(size));
        const uint8_t bytes[] = {1};
        uint8_t byte = 0;
        EXPECT_FALSE(ring.TryPush(1));
        EXPECT_FALSE(ring.PushOverwrite(1));
        EXPECT_FALSE(ring.PushAllOverwrite(bytes, 1));
        EXPECT_EQ(ring.TryPushSome(bytes, 1), 0u);
        EXPECT_FALSE(ring.Pop(byte));
        EXPECT_TRUE(ring.IsEmpty());
    }
}
