#include "platform/frame.h"

#include <gtest/gtest.h>

TEST(Frame, AllocatesClearedAndLocksWithItsStride) {
    Frame* packed = AllocateFrame(FrameWidth, FrameHeight);
    ASSERT_NE(packed, nullptr);
    LockedFrame locked{};
    ASSERT_TRUE(LockFrame(packed, &locked));
    EXPECT_EQ(locked.bytesPerRow, 2560);
    for (int i = 0; i < FrameWidth * FrameHeight; ++i) ASSERT_EQ(locked.memory[i], 0u) << i;
    UnlockFrame(packed);
    FreeFrame(packed);

    Frame* padded = AllocateFrame(FrameWidth, FrameHeight, 2560 + 40);
    ASSERT_NE(padded, nullptr);
    ASSERT_TRUE(LockFrame(padded, &locked));
    EXPECT_EQ(locked.bytesPerRow, 2600);
    locked.memory[(2600 / 4) * FrameHeight - 1] = 1; // the last word is ours to write
    FreeFrame(padded);
}

TEST(Frame, RefusesStridesThatCannotHoldARowOrDoNotFitSixteenBits) {
    EXPECT_EQ(AllocateFrame(FrameWidth, FrameHeight, 2556), nullptr);
    EXPECT_EQ(AllocateFrame(FrameWidth, FrameHeight, 40000), nullptr);
    EXPECT_EQ(AllocateFrame(0, FrameHeight), nullptr);
}

TEST(Frame, FailNextLockFailsExactlyOnce) {
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    LockedFrame locked{};
    FailNextLock(frame);
    EXPECT_FALSE(LockFrame(frame, &locked));
    EXPECT_TRUE(LockFrame(frame, &locked));
    FreeFrame(frame);
}
