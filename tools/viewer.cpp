// bumpwave-view: shows one scene of the demo in a window, one step per
// refresh, until the window is closed, Escape or q is pressed, or the given
// seconds have passed. It finds "bumpmap.png" and "boys.jpg" where the demo
// finds them.
//
//   bumpwave-view [SCENE] [--seconds N]

#include "platform/display.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "shell/numbers.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "shell/timeline.h"
#include "tools/arguments.h"

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>

constexpr const char* Help =
    "usage: bumpwave-view [SCENE] [--seconds N]\n"
    "\n"
    "Shows one scene of the demo in a 640 x 480 window, one step per refresh, until\n"
    "the window is closed, Escape or q is pressed, or N seconds have passed\n"
    "(default: lights, no end). The scenes: lights, plasma, dots, flash, overlay,\n"
    "flash-again and fade-out; the flash scenes flash. F11 toggles full screen.\n"
    "bumpmap.png and boys.jpg are read from the current folder, or else from the\n"
    "build's or the installed data folder.\n";

constexpr ToolOption Known[] = {{"seconds", "a number of seconds, 0 or more"}};

struct ViewArguments {
    uint32_t sceneMs = 0; // a moment of the scene shown
    double seconds = 0;   // 0: until the window is closed
};

static ViewArguments ReadArguments(int argc, char** argv) {
    ViewArguments arguments;
    const char* value = nullptr;
    while (NextOption(argc, argv, Known, Help, value) >= 0)
        if (!ReadNumber(value, 0, DBL_MAX, arguments.seconds)) Refuse(Known[0], value);
    if (optind + 1 < argc) RefuseCommandLine("one scene at a time");
    if (optind == argc) return arguments;
    for (const SceneSpan& scene : Scenes)
        if (std::strcmp(argv[optind], scene.name) == 0) {
            arguments.sceneMs = scene.firstMs;
            return arguments;
        }
    std::string names;
    for (const SceneSpan& scene : Scenes)
        names += std::string(names.empty() ? "" : ", ") + scene.name;
    RefuseCommandLine((std::string(argv[optind]) + " is no scene: " + names).c_str());
}

int main(int argc, char** argv) {
    ProgramName = "bumpwave-view";
    const ViewArguments arguments = ReadArguments(argc, argv);
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    Display* display = frame ? OpenDisplay(false, true, "bumpwave-view") : nullptr;
    bool ready = display && LoadShow(std::nullopt, false);
    // One frame per display refresh, as the demo's paced run shows them.
    const int refreshRate = ready && RefreshRate(display) > 0 ? RefreshRate(display) : 60;
    const int64_t begin = ClockNanoseconds();
    auto running = [&] {
        return arguments.seconds <= 0 ||
               ClockNanoseconds() - begin < arguments.seconds * NanosecondsPerSecond;
    };
    if (ready) LendPixels(display, frame);
    for (uint32_t frames = 1; ready && running(); ++frames) {
        AdvanceShow(arguments.sceneMs,
                    DrawShow(frame, arguments.sceneMs, BumpPicture, LogoPicture));
        ShowFrame(display, frame);
        SleepUntil(begin + StepDueAt(frames, refreshRate));
        if (TakeEvents(display)) break;
    }
    FreeShow();
    CloseDisplay(display);
    FreeFrame(frame);
    return ready ? 0 : 1;
}
