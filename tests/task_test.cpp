#include "platform/task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

Task* waiter;
int8_t sharedSignal;
std::atomic<bool> ran;

void SendAndEnd() {
    ran = true;
    Signal(waiter, 1u << sharedSignal);
}

} // namespace

TEST(Task, ASignalSentBeforeTheWaitIsNotLost) {
    int8_t number = AllocSignal(-1);
    ASSERT_GE(number, 0);
    Signal(FindTask(), 1u << number);
    EXPECT_EQ(Wait(1u << number), 1u << number);
    FreeSignal(number);
}

TEST(Task, AThreadWakesTheTaskWaitingForItsSignal) {
    waiter = FindTask();
    sharedSignal = AllocSignal(-1);
    ASSERT_GE(sharedSignal, 0);
    ran = false;
    ASSERT_NE(CreateNewProcTags(SendAndEnd, 30), nullptr);
    EXPECT_EQ(Wait(1u << sharedSignal), 1u << sharedSignal);
    EXPECT_TRUE(ran);
    FreeSignal(sharedSignal);
}

TEST(Task, SignalsRunOutAfterThirtyTwo) {
    int8_t taken[32];
    for (int8_t& number : taken) ASSERT_GE(number = AllocSignal(-1), 0);
    EXPECT_EQ(AllocSignal(-1), -1);
    for (int8_t number : taken) FreeSignal(number);
    EXPECT_EQ(AllocSignal(5), 5);
    FreeSignal(5);
}

TEST(Task, DelayCountsFiftiethsOfASecond) {
    auto start = std::chrono::steady_clock::now();
    Delay(5);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(100));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

TEST(Task, AllocVecClearsOnRequest) {
    auto* block = static_cast<unsigned char*>(AllocVec(8, MEMF_CHIP | MEMF_CLEAR));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(block[i], 0);
    unsigned char copy[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CopyMem(copy, block, 8);
    EXPECT_EQ(block[7], 8);
    FreeVec(block);
}
