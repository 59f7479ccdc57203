#include "shell/pacing.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t Second = 1'000'000'000;

// Shows frames that take `work` each and return at once, sleeping as told.
int64_t ShowFrames(Pacer& pacer, int64_t now, int frames, int64_t work) {
    for (int i = 0; i < frames; ++i) now = NextFrameStart(pacer, now + work);
    return now;
}

} // namespace

TEST(Pacing, DeadlinesDoNotDriftAndZeroMeansSixtyHertz) {
    for (int rate : {0, 60, 75, 144}) {
        SCOPED_TRACE(rate);
        const int hz = rate ? rate : 60;
        Pacer pacer;
        StartPacer(pacer, rate, 5 * Second);
        // Frame k starts exactly k periods after the first, to the nanosecond.
        EXPECT_EQ(ShowFrames(pacer, 5 * Second, 10'000, 1'000'000),
                  5 * Second + 10'000 * Second / hz);
    }
}

TEST(Pacing, AMissedDeadlineStartsTheNextPeriodWithoutCatchingUp) {
    Pacer pacer;
    StartPacer(pacer, 60, 0);
    int64_t start = ShowFrames(pacer, 0, 10, 1000);
    // One frame three periods late is shown as it comes...
    const int64_t late = start + Second / 20;
    auto after = [&](int periods) { return late + periods * Second / 60; };
    EXPECT_EQ(NextFrameStart(pacer, late), late);
    // ...and the next waits a whole period after it, and so on from there.
    EXPECT_EQ(NextFrameStart(pacer, late + 1000), after(1));
    EXPECT_EQ(NextFrameStart(pacer, after(1) + 1000), after(2));
    // A display that syncs hands frames back at or after their deadline: no sleep.
    EXPECT_EQ(NextFrameStart(pacer, after(3)), after(3));
}
