// The display of display.h on a web page: the page's canvas (Module.canvas),
// drawn without SDL, so that no pixel of the frame passes through JavaScript.
//
// Through WebGL the frame's words are uploaded as they lie in memory, bytes
// B, G, R, 0, as an RGBA texture; the shader swaps red and blue back and
// scales by nearest texel into whatever size the canvas's store has. Where
// WebGL is missing or drawn in software, the frame is turned into RGBA bytes
// here and handed to a 2D canvas, through a second canvas when the store is
// not the frame's size.
// Either way each byte reaches the canvas unchanged.
#include "platform/display.h"

#include "platform/files.h"

#include <cstdio>
#include <cstdlib>

enum class Surface { None, Canvas2d, WebGl };

struct Display {
    Surface surface;
    uint32_t* rgba; // the 2D canvas's bytes, R, G, B, 255
};

// In web_display.js.
extern "C" {
int OpenCanvas();
void DrawWords(const uint32_t* words, int width, int height);
void DrawRgba(const uint32_t* rgba, int width, int height);
}

Display* OpenDisplay(bool, bool, const char*) {
    auto* display = static_cast<Display*>(std::calloc(1, sizeof(Display)));
    if (!display) return nullptr;
    display->surface = static_cast<Surface>(OpenCanvas());
    if (display->surface == Surface::Canvas2d)
        display->rgba = static_cast<uint32_t*>(std::calloc(FrameWidth * FrameHeight, 4));
    if (display->surface == Surface::None ||
        (display->surface == Surface::Canvas2d && !display->rgba)) {
        std::fprintf(stderr, "%s: cannot draw on the page: no WebGL and no 2D canvas\n",
                     ProgramName);
        std::free(display);
        return nullptr;
    }
    return display;
}

void CloseDisplay(Display* display) {
    if (!display) return;
    std::free(display->rgba);
    std::free(display);
}

// The frame keeps its own words: neither surface takes them as they are drawn.
void LendPixels(Display*, Frame*) {}

void HidePointer(Display*) {}

// Bytes B, G, R, 0 to R, G, B, 255; the compiler makes it vector code.
static void ConvertToRgba(uint32_t* to, const Frame* frame) {
    for (int y = 0; y < FrameHeight; ++y) {
        const uint32_t* from = frame->pixels + y * (frame->bytesPerRow / 4);
        uint32_t* out = to + y * FrameWidth;
        for (int x = 0; x < FrameWidth; ++x) {
            uint32_t word = from[x];
            out[x] = (word >> 16 & 0xFF) | (word & 0xFF00) | (word & 0xFF) << 16 | 0xFF000000u;
        }
    }
}

void ShowFrame(Display* display, Frame* frame) {
    // The page's frame has packed rows: it is never lent other pixels.
    if (display->surface == Surface::WebGl)
        return DrawWords(frame->pixels, FrameWidth, FrameHeight);
    ConvertToRgba(display->rgba, frame);
    DrawRgba(display->rgba, FrameWidth, FrameHeight);
}

// The page is paced by its animation frames, whatever the display's rate.
int RefreshRate(Display*) {
    return 0;
}

// The page takes its keys itself (page.js).
bool TakeEvents(Display*) {
    return false;
}
