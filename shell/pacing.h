// The show's steps against its clock. Everything that moves advances once a
// step. Paced, step k belongs to show time floor(k × 1000 / rate) ms, as frame
// k of a video at that rate, and is due when the show's clock reaches it: a
// frame that comes late takes every step that is due and draws only the
// last, so a slow display drops frames and the motion keeps its speed.
//
// A step is due half a step period early, so that a display refreshing at
// the step rate takes one step a refresh although its refreshes come a little
// early or late.
//
// Times are nanoseconds of std::chrono::steady_clock, show times the clock's
// nanoseconds since the show started, pauses left out.
#pragma once

#include <cstdint>

constexpr int DefaultStepRate = 60;
constexpr int MinStepRate = 24, MaxStepRate = 240;
constexpr int64_t NanosecondsPerSecond = 1'000'000'000;
constexpr int64_t NanosecondsPerMillisecond = 1'000'000;

// Step `step`'s show time in whole milliseconds at `rate` steps a second.
uint32_t StepMilliseconds(uint32_t step, int rate);

// How many steps come before `ms` (steps 0 .. n − 1).
uint32_t StepsBefore(uint32_t ms, int rate);

// The last step at or before `ms`: the one on the screen at that moment.
uint32_t StepAt(uint32_t ms, int rate);

// How many steps are due (steps 0 .. n − 1) at show time `showTime`.
uint32_t StepsDue(int64_t showTime, int rate);

// The show time at which step `step` is due.
int64_t StepDueAt(uint32_t step, int rate);

int64_t ClockNanoseconds();
void SleepUntil(int64_t time);
