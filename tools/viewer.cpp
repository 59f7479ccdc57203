// bumpwave-view: shows one effect in a window, one frame per refresh, until the
// window is closed, Escape or q is pressed, or the given seconds have passed.
// It reads "bumpmap.png" and "boys.jpg" as the demo does.
//
//   bumpwave-view [lights|plasma|overlay|dots] [--seconds N]

#include "assets/picture.h"
#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "platform/display.h"
#include "platform/frame.h"
#include "shell/pacing.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

enum class Effect { Lights, Plasma, Overlay, Dots };

constexpr const char* Usage = "usage: bumpwave-view [lights|plasma|overlay|dots] [--seconds N]\n";
constexpr const char* Help =
    "\n"
    "Shows one effect of the demo in a 640 x 480 window, one frame per refresh, until\n"
    "the window is closed, Escape or q is pressed, or N seconds have passed\n"
    "(default: lights, no end). F11 toggles full screen.\n"
    "bumpmap.png and boys.jpg are read from the current folder, or else from the\n"
    "installed data folder.\n";

// Seconds: a plain non-negative number, all of the word.
static bool ParseSeconds(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(seconds) && seconds >= 0;
}

static bool ParseArguments(int argc, char** argv, Effect& effect, double& seconds) {
    const char* names[] = {"lights", "plasma", "overlay", "dots"};
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            if (!ParseSeconds(argv[++i], seconds)) return false;
            continue;
        }
        int known = 0;
        while (known < 4 && std::strcmp(argv[i], names[known]) != 0) ++known;
        if (known == 4) return false;
        effect = static_cast<Effect>(known);
    }
    return true;
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
    Effect effect = Effect::Lights;
    double seconds = 0; // 0: until the window is closed
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("%s%s", Usage, Help);
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::puts("bumpwave-view " BUMPWAVE_VERSION);
        return 0;
    }
    if (!ParseArguments(argc, argv, effect, seconds)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    Display* display = frame ? OpenDisplay(false, true, "bumpwave-view") : nullptr;
    uint32_t* bump = nullptr;
    uint32_t* logo = nullptr;
    bool ready = display && LoadPicture("bumpmap.png", &bump) && LoadPicture("boys.jpg", &logo) &&
                 InitEffects(static_cast<unsigned>(std::time(nullptr)));
    auto start = std::chrono::steady_clock::now();
    auto running = [&] {
        std::chrono::duration<double> shown = std::chrono::steady_clock::now() - start;
        return seconds <= 0 || shown.count() < seconds;
    };
    // One frame per display refresh, as the demo's paced run shows them.
    const int refreshRate = ready && RefreshRate(display) > 0 ? RefreshRate(display) : 60;
    const int64_t begin = ClockNanoseconds();
    if (ready) LendPixels(display, frame);
    for (uint32_t frames = 1; ready && running(); ++frames) {
        RenderEffect(effect, frame, bump, logo);
        ShowFrame(display, frame);
        SleepUntil(begin + StepDueAt(frames, refreshRate));
        if (TakeEvents(display)) break;
    }
    FreeWaveTables();
    CloseDisplay(display);
    FreeFrame(frame);
    std::free(bump);
    std::free(logo);
    return ready ? 0 : 1;
}
