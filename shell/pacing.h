// Paced runs step the demo a fixed number of times a second, 60 unless asked
// otherwise, whatever the display's refresh rate: on a faster display each
// step stays on screen for two or three refreshes, as video does; a display
// slower than the step rate shows one step per refresh.
//
// The loop sleeps until a deadline that moves on by one step period a step,
// counted from an anchor so that it does not drift. A display that syncs
// holds each frame until its next refresh, which may come up to a period
// after the deadline: the schedule keeps to its deadlines. A step that misses
// its deadline by a whole period or more is shown at once and the deadlines
// start again from it: there is never a burst of steps catching up.
//
// Times are nanoseconds of the monotonic clock.
#pragma once

#include <cstdint>

constexpr int DefaultRefreshRate = 60; // where the display does not say
constexpr int DefaultStepRate = 60;
constexpr int MinStepRate = 24, MaxStepRate = 240;

// Steps a second on a display refreshing `refreshRate` times a second (0 where
// it does not say: taken as 60) when `askedRate` are asked: never more than
// one step per refresh.
int StepRate(int refreshRate, int askedRate);

struct Pacer {
    int stepRate;
    int64_t anchor;  // when the deadlines started counting
    int64_t periods; // since the anchor, up to the next step's deadline
};

// Starts the deadlines one period after `now`; a rate of 0 means 60 a second.
void StartPacer(Pacer& pacer, int stepRate, int64_t now);

// Called after each step was shown. Returns when to start the next step:
// `now` when there is nothing to wait for.
int64_t NextFrameStart(Pacer& pacer, int64_t now);

// The same two on the clock: the caller sleeps until the next step is due.
int64_t ClockNanoseconds();
void StartPacer(Pacer& pacer, int stepRate);
void WaitForNextFrame(Pacer& pacer);
