// bumpwave-view: shows one effect in a window, one frame per refresh, until the
// window is closed, Escape or q is pressed, or the given seconds have passed.
// It finds "bumpmap.png" and "boys.jpg" where the demo finds them.
//
//   bumpwave-view [lights|plasma|overlay|dots] [--seconds N]

#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "tools/arguments.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>

enum class Effect { Lights, Plasma, Overlay, Dots };

constexpr const char* Help =
    "usage: bumpwave-view [lights|plasma|overlay|dots] [--seconds N]\n"
    "\n"
    "Shows one effect of the demo in a 640 x 480 window, one frame per refresh, until\n"
    "the window is closed, Escape or q is pressed, or N seconds have passed\n"
    "(default: lights, no end). F11 toggles full screen.\n"
    "bumpmap.png and boys.jpg are read from the current folder, or else from the\n"
    "build's or the installed data folder.\n";

constexpr ToolOption Known[] = {{"seconds", "a number of seconds, 0 or more"}};

struct ViewArguments {
    Effect effect = Effect::Lights;
    double seconds = 0; // 0: until the window is closed
};

// Seconds: a plain non-negative number, all of the word.
static bool ReadSeconds(const char* text, double& seconds) {
    const char* end = text + std::strlen(text);
    auto [at, error] = std::from_chars(text, end, seconds);
    return error == std::errc() && at == end && std::isfinite(seconds) && seconds >= 0;
}

static ViewArguments ReadArguments(int argc, char** argv) {
    ViewArguments arguments;
    const char* value = nullptr;
    while (NextOption(argc, argv, Known, Help, value) >= 0)
        if (!ReadSeconds(value, arguments.seconds)) Refuse(Known[0], value);
    const char* names[] = {"lights", "plasma", "overlay", "dots"};
    if (optind + 1 < argc) RefuseCommandLine("one effect at a time");
    if (optind == argc) return arguments;
    int known = 0;
    while (known < 4 && std::strcmp(argv[optind], names[known]) != 0) ++known;
    if (known == 4)
        RefuseCommandLine(
            (std::string(argv[optind]) + " is no effect: lights, plasma, overlay or dots").c_str());
    arguments.effect = static_cast<Effect>(known);
    return arguments;
}

static void RenderEffect(Effect effect, Frame* frame, const uint32_t* bump, const uint32_t* logo) {
    switch (effect) {
    case Effect::Lights:
        RenderBumpLights(frame, bump);
        StepBumpLights();
        break;
    case Effect::Plasma:
        if (RenderPlasma(frame, nullptr)) StepPlasma();
        break;
    case Effect::Overlay:
        if (RenderPlasma(frame, logo)) StepPlasma();
        break;
    case Effect::Dots:
        if (RenderPlasma(frame, nullptr)) StepPlasma();
        RenderDotGrid(frame);
        StepDotGrid();
        break;
    }
}

int main(int argc, char** argv) {
    ProgramName = "bumpwave-view";
    const ViewArguments arguments = ReadArguments(argc, argv);
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    Display* display = frame ? OpenDisplay(false, true, "bumpwave-view") : nullptr;
    bool ready = display && LoadShow(std::nullopt);
    auto start = std::chrono::steady_clock::now();
    auto running = [&] {
        std::chrono::duration<double> shown = std::chrono::steady_clock::now() - start;
        return arguments.seconds <= 0 || shown.count() < arguments.seconds;
    };
    // One frame per display refresh, as the demo's paced run shows them.
    const int refreshRate = ready && RefreshRate(display) > 0 ? RefreshRate(display) : 60;
    const int64_t begin = ClockNanoseconds();
    if (ready) LendPixels(display, frame);
    for (uint32_t frames = 1; ready && running(); ++frames) {
        RenderEffect(arguments.effect, frame, BumpPicture, LogoPicture);
        ShowFrame(display, frame);
        SleepUntil(begin + StepDueAt(frames, refreshRate));
        if (TakeEvents(display)) break;
    }
    FreeShow();
    CloseDisplay(display);
    FreeFrame(frame);
    return ready ? 0 : 1;
}
