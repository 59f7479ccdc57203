// Paced runs show one frame per display refresh. Where the display's vertical
// sync holds each frame until its refresh, frames come out on their deadlines
// or just after them, and each deadline starts again from the frame shown.
// Where a frame is shown at once, the loop sleeps until a deadline that moves
// on by one refresh period a frame, so that it does not drift. A frame that
// misses its deadline is shown at once and the deadline starts again from it:
// there is never a burst of frames catching up.
//
// Times are nanoseconds of the monotonic clock.
#pragma once

#include <cstdint>

constexpr int DefaultRefreshRate = 60; // where the display does not say

struct Pacer {
    int refreshRate;
    int64_t anchor;  // when the deadlines started counting
    int64_t periods; // since the anchor, up to the next frame's deadline
};

// Starts the deadlines one period after `now`; a rate of 0 means 60 Hz.
void StartPacer(Pacer& pacer, int refreshRate, int64_t now);

// Called after each frame was shown. Returns when to start the next frame:
// `now` when there is nothing to wait for.
int64_t NextFrameStart(Pacer& pacer, int64_t now);

// The same two on the clock: the caller sleeps until the next frame is due.
int64_t ClockNanoseconds();
void StartPacer(Pacer& pacer, int refreshRate);
void WaitForNextFrame(Pacer& pacer);
