#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

Signal* shared;
std::atomic<bool> ran;

void SendAndEnd() {
    ran = true;
    SendSignal(shared);
}

} // namespace

TEST(Thread, ASignalSentBeforeTheWaitIsNotLost) {
    Signal* signal = CreateSignal();
    ASSERT_NE(signal, nullptr);
    SendSignal(signal);
    WaitForSignal(signal);
    DestroySignal(signal);
}

TEST(Thread, AThreadWakesTheThreadWaitingForItsSignal) {
    shared = CreateSignal();
    ASSERT_NE(shared, nullptr);
    ran = false;
    ASSERT_TRUE(StartThread(SendAndEnd, "test", true));
    WaitForSignal(shared);
    EXPECT_TRUE(ran);
    DestroySignal(shared);
}
