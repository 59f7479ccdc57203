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

TEST(Thread, ASignalSentBeforeTheWaitIsKeptAndAThreadWakesItsWaiter) {
    shared = CreateSignal();
    ASSERT_NE(shared, nullptr);
    SendSignal(shared);
    WaitForSignal(shared);
    DestroySignal(shared);
    shared = CreateSignal();
    ran = false;
    ASSERT_TRUE(StartThread(SendAndEnd, "test", true));
    WaitForSignal(shared);
    EXPECT_TRUE(ran);
    DestroySignal(shared);
}
