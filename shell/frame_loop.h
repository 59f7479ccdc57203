// The frame loop: renders the timeline against the clock, shows every frame,
// and reports the frame rate it reached.
#pragma once

#include "platform/display.h"
#include "platform/frame.h"

#include <csignal>
#include <cstdint>

constexpr uint32_t DemoLengthMs = 41000;

extern uint32_t FrameCount;   // frames presented
extern float FramesPerSecond; // set once, after the loop

// Ends the show at the next step: set by the display's stop keys and close
// request, and by the stop signals' handler.
extern volatile std::sig_atomic_t StopRequested;

// A reading of a clock that never goes back, in the loop's own units.
struct ClockReading {
    uint32_t seconds;
    uint32_t microseconds;
};
ClockReading ReadClock();

// Whole milliseconds from `start` to `now` in 32-bit arithmetic that wraps;
// only the difference counts, so large second counts are harmless.
uint32_t MillisecondsBetween(ClockReading start, ClockReading now);

// Single precision, as the report has always printed it.
float ComputeFramesPerSecond(uint32_t frameCount, uint32_t elapsedMs);

// "\n640 * 480 * 32 @ <rate> FPS\n" on standard output.
void PrintFrameRate();

// One show of the 41-second timeline, a frame at a time: the native loop
// below and the browser's animation callback drive the same steps.
//
// Starts a show into `frame` on `display`: the clock, the frame count and the
// timeline's state start from zero.
void StartFrameLoop(Frame* frame, Display* display, const uint32_t* bumpPicture,
                    const uint32_t* logoPicture);

// Draws the frame of the time since the start, shows it and counts it. Once the
// 41 seconds are over, or a stop was asked, it draws nothing, sets
// FramesPerSecond for the frames shown, prints it and returns false.
bool StepFrameLoop();

// Runs a whole show: paced at `stepRate` steps a second (never more than one a
// display refresh), or as fast as it can where `stepRate` is 0.
void RunFrameLoop(Frame* frame, Display* display, int stepRate, const uint32_t* bumpPicture,
                  const uint32_t* logoPicture);
