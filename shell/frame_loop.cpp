#include "shell/frame_loop.h"

#include "shell/pacing.h"
#include "shell/timeline.h"

#include <chrono>
#include <cstdio>

uint32_t FrameCount;
float FramesPerSecond;
volatile std::sig_atomic_t StopRequested;

// A monotonic clock: a wall clock set back while the demo runs would end it
// at once and report a wrong rate.
ClockReading ReadClock() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    auto micro = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
    return {static_cast<uint32_t>(micro / 1000000), static_cast<uint32_t>(micro % 1000000)};
}

uint32_t MillisecondsBetween(ClockReading start, ClockReading now) {
    uint32_t then = start.seconds * 1000u + start.microseconds / 1000u;
    return now.seconds * 1000u + now.microseconds / 1000u - then;
}

float ComputeFramesPerSecond(uint32_t frameCount, uint32_t elapsedMs) {
    return static_cast<float>(frameCount) / (static_cast<float>(elapsedMs) / 1000.0f);
}

void PrintFrameRate() {
    std::printf("\n%d * %d * 32 @ %g FPS\n", FrameWidth, FrameHeight,
                static_cast<double>(FramesPerSecond));
    std::fflush(stdout);
}

// The show in progress.
static Frame* LoopFrame;
static Display* LoopDisplay;
static const uint32_t* LoopBump;
static const uint32_t* LoopLogo;
static ClockReading LoopStart;

void StartFrameLoop(Frame* frame, Display* display, const uint32_t* bumpPicture,
                    const uint32_t* logoPicture) {
    LoopFrame = frame;
    LoopDisplay = display;
    LoopBump = bumpPicture;
    LoopLogo = logoPicture;
    FrameCount = 0;
    ResetTimeline();
    LoopStart = ReadClock();
}

bool StepFrameLoop() {
    // The first frame is not timed: always the lights. The clock is read
    // before drawing, so the wait for the refresh counts in the frame it ends.
    const uint32_t elapsedMs = FrameCount ? MillisecondsBetween(LoopStart, ReadClock()) : 0;
    if (elapsedMs >= DemoLengthMs || StopRequested) {
        // Stopped before its first frame, it showed none.
        FramesPerSecond = FrameCount ? ComputeFramesPerSecond(FrameCount, elapsedMs) : 0;
        PrintFrameRate();
        return false;
    }
    RenderScene(LoopFrame, elapsedMs, LoopBump, LoopLogo);
    ShowFrame(LoopDisplay, LoopFrame);
    if (TakeEvents(LoopDisplay)) StopRequested = 1;
    ++FrameCount;
    return true;
}

void RunFrameLoop(Frame* frame, Display* display, int stepRate, const uint32_t* bumpPicture,
                  const uint32_t* logoPicture) {
    StartFrameLoop(frame, display, bumpPicture, logoPicture);
    Pacer pacer;
    StartPacer(pacer, StepRate(RefreshRate(display), stepRate));
    while (StepFrameLoop())
        if (stepRate) WaitForNextFrame(pacer);
}
