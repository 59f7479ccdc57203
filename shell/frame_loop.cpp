#include "shell/frame_loop.h"

#include "shell/pacing.h"
#include "shell/timeline.h"

#include <chrono>
#include <cstdio>

uint32_t FrameCount;
float FramesPerSecond;

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

void RunFrameLoop(Frame* frame, Display* display, bool paced, const uint32_t* bumpPicture,
                  const uint32_t* logoPicture) {
    const ClockReading start = ReadClock();
    Pacer pacer;
    StartPacer(pacer, RefreshRate(display));
    uint32_t elapsedMs = 0; // the first frame is not timed: always the lights
    do {
        RenderScene(frame, elapsedMs, bumpPicture, logoPicture);
        ShowFrame(display, frame);
        if (paced) WaitForNextFrame(pacer);
        TakeEvents(display); // the demo reads no input; this keeps the window alive
        ++FrameCount;
        elapsedMs = MillisecondsBetween(start, ReadClock());
    } while (elapsedMs < DemoLengthMs);
    FramesPerSecond = ComputeFramesPerSecond(FrameCount, elapsedMs);
    PrintFrameRate();
}
