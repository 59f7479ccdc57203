// How fast and how evenly frames reach the display.
//
//   bumpwave-present-bench [WINDOW] [--seconds N]
//       The rate of a bare loop that only copies a constant frame into the
//       display and shows it: the ceiling the unpaced demo is measured against.
//   bumpwave-present-bench PACED [WINDOW] [--frames N]
//       Shows N frames (1000) paced as the demo paces them and prints the
//       intervals between them, against the display's refresh period.

#include "platform/display.h"
#include "platform/frame.h"
#include "shell/pacing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <vector>

using Clock = std::chrono::steady_clock;

static void BareLoop(Display* display, Frame* frame, double seconds) {
    auto start = Clock::now();
    long frames = 0;
    std::chrono::duration<double> elapsed{};
    do {
        ShowFrame(display, frame);
        TakeEvents(display);
        ++frames;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < seconds);
    std::printf("%ld frames in %.2f s: %.1f frames a second, %.3f ms a frame\n", frames,
                elapsed.count(), frames / elapsed.count(), 1000 * elapsed.count() / frames);
}

static void PacedLoop(Display* display, Frame* frame, int count) {
    int rate = RefreshRate(display);
    const int hz = rate > 0 ? rate : DefaultStepRate;
    const int64_t begin = ClockNanoseconds();
    std::vector<double> intervals; // milliseconds between the ends of two shows
    int64_t last = 0;
    for (int i = 0; i <= count; ++i) {
        ShowFrame(display, frame);
        int64_t shown = ClockNanoseconds();
        if (i > 0) intervals.push_back((shown - last) / 1e6);
        last = shown;
        SleepUntil(begin + StepDueAt(i + 1, hz));
        TakeEvents(display);
    }
    double period = 1000.0 / hz;
    long dropped = std::count_if(intervals.begin(), intervals.end(),
                                 [&](double ms) { return ms > 1.5 * period; });
    std::sort(intervals.begin(), intervals.end());
    auto at = [&](double share) { return intervals[static_cast<size_t>(share * (count - 1))]; };
    std::printf("%d frames, period %.3f ms (display says %d Hz): median %.3f ms, 99th percentile "
                "%.3f ms, max %.3f ms, %ld dropped (%.2f %%)\n",
                count, period, rate, at(0.5), at(0.99), intervals.back(), dropped,
                100.0 * dropped / count);
}

int main(int argc, char** argv) {
    bool windowMode = false, paced = false;
    double seconds = 10;
    int frames = 1000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--frames") && i + 1 < argc)
            frames = std::max(1, std::atoi(argv[++i]));
        else if (!strcasecmp(argv[i], "WINDOW"))
            windowMode = true;
        else if (!strcasecmp(argv[i], "PACED"))
            paced = true;
    }
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    if (!frame) return 1;
    for (int i = 0; i < FrameWidth * FrameHeight; ++i) frame->pixels[i] = i * 2654435761u >> 8;
    Display* display = OpenDisplay(!windowMode, paced, "present-bench");
    if (!display) return 1;
    if (paced)
        PacedLoop(display, frame, frames);
    else
        BareLoop(display, frame, seconds);
    CloseDisplay(display);
    FreeFrame(frame);
    return 0;
}
