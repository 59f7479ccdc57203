// bumpwave-view: shows one effect in a window, frame after frame, until the
// window is closed or the given seconds have passed.
//
//   bumpwave-view [lights] [--seconds N]

#include "effects/bump_lights.h"
#include "effects/tables.h"
#include "platform/display.h"
#include "platform/frame.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

// A relief made in code: rings in red, diagonal ridges in green, blocks in blue.
static std::vector<uint32_t> MakeRelief() {
    std::vector<uint32_t> picture(FrameWidth * FrameHeight);
    for (int y = 0; y < FrameHeight; ++y) {
        for (int x = 0; x < FrameWidth; ++x) {
            double r = std::hypot(x - 320.0, y - 240.0);
            uint32_t red = static_cast<uint32_t>(127.5 + 127.5 * std::sin(r / 9.0));
            uint32_t green = ((x + y) / 24) % 2 ? 200 : 40;
            uint32_t blue = ((x / 40) + (y / 40)) % 2 ? 220 : 20;
            picture[y * FrameWidth + x] = red << 16 | green << 8 | blue;
        }
    }
    return picture;
}

int main(int argc, char** argv) {
    double seconds = 0; // 0: until the window is closed
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "lights") != 0) {
            std::fprintf(stderr, "usage: bumpwave-view [lights] [--seconds N]\n");
            return 2;
        }
    }
    std::vector<uint32_t> relief = MakeRelief();
    if (!InitEffects(static_cast<unsigned>(std::time(nullptr)))) return 1;
    BitMap* frame = p96AllocBitMap(FrameWidth, FrameHeight);
    Screen* screen = LockPubScreen();
    Window* window = nullptr;
    if (frame && screen) {
        window = OpenWindowTags(
            {"bumpwave-view", true, true, 200, 200, FrameWidth, FrameHeight, screen});
    }
    UnlockPubScreen(screen);
    int status = window ? 0 : 1;
    auto start = std::chrono::steady_clock::now();
    auto running = [&] {
        std::chrono::duration<double> shown = std::chrono::steady_clock::now() - start;
        return seconds <= 0 || shown.count() < seconds;
    };
    while (window && running()) {
        RenderBumpLights(frame, relief.data());
        BltBitMapRastPort(frame, window);
        if (TakeWindowEvents(window)) break;
    }
    CloseWindow(window);
    p96FreeBitMap(frame);
    FreeWaveTables();
    return status;
}
