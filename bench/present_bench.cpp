// How fast frames reach the display: the rate of a bare loop that only copies
// a constant frame into the display and shows it, the ceiling the unpaced demo
// is measured against.
//
//   bumpwave-present-bench [WINDOW] [--seconds N]

#include "platform/display.h"
#include "platform/frame.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

int main(int argc, char** argv) {
    bool windowMode = false;
    double seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!strcasecmp(argv[i], "WINDOW"))
            windowMode = true;
    }
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    if (!frame) return 1;
    for (int i = 0; i < FrameWidth * FrameHeight; ++i) frame->pixels[i] = i * 2654435761u >> 8;
    Display* display = OpenDisplay(!windowMode, false, "present-bench");
    if (!display) return 1;
    const auto start = std::chrono::steady_clock::now();
    long frames = 0;
    std::chrono::duration<double> elapsed{};
    do {
        ShowFrame(display, frame);
        TakeEvents(display);
        ++frames;
        elapsed = std::chrono::steady_clock::now() - start;
    } while (elapsed.count() < seconds);
    std::printf("%ld frames in %.2f s: %.1f frames a second, %.3f ms a frame\n", frames,
                elapsed.count(), frames / elapsed.count(), 1000 * elapsed.count() / frames);
    CloseDisplay(display);
    FreeFrame(frame);
    return 0;
}
