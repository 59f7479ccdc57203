#include "platform/frame.h"

#include <gtest/gtest.h>

TEST(Frame, AllocatesClearedAndLocksWithItsStride) {
    BitMap* packed = p96AllocBitMap(FrameWidth, FrameHeight);
    ASSERT_NE(packed, nullptr);
    LockedFrame locked{};
    uintptr_t lock = p96LockBitMap(packed, &locked);
    ASSERT_NE(lock, 0u);
    EXPECT_EQ(locked.bytesPerRow, 2560);
    EXPECT_EQ(locked.format, RGBFB_A8R8G8B8);
    for (int i = 0; i < FrameWidth * FrameHeight; ++i) ASSERT_EQ(locked.memory[i], 0u) << i;
    p96UnlockBitMap(packed, lock);
    p96FreeBitMap(packed);

    BitMap* padded = p96AllocBitMap(FrameWidth, FrameHeight, 2560 + 40);
    ASSERT_NE(padded, nullptr);
    ASSERT_NE(p96LockBitMap(padded, &locked), 0u);
    EXPECT_EQ(locked.bytesPerRow, 2600);
    locked.memory[(2600 / 4) * FrameHeight - 1] = 1; // the last word is ours to write
    p96FreeBitMap(padded);
}

TEST(Frame, RefusesStridesThatCannotHoldARowOrDoNotFitSixteenBits) {
    EXPECT_EQ(p96AllocBitMap(FrameWidth, FrameHeight, 2556), nullptr);
    EXPECT_EQ(p96AllocBitMap(FrameWidth, FrameHeight, 40000), nullptr);
    EXPECT_EQ(p96AllocBitMap(0, FrameHeight), nullptr);
}

TEST(Frame, FailNextLockFailsExactlyOnce) {
    BitMap* frame = p96AllocBitMap(FrameWidth, FrameHeight);
    LockedFrame locked{};
    p96FailNextLock(frame);
    EXPECT_EQ(p96LockBitMap(frame, &locked), 0u);
    EXPECT_NE(p96LockBitMap(frame, &locked), 0u);
    p96FreeBitMap(frame);
}
