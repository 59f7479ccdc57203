// The display of display.h on a web page: the page's canvas (Module.canvas),
// drawn without SDL, so that no pixel of the frame passes through JavaScript.
//
// Through WebGL the frame's words are uploaded as they lie in memory, bytes
// B, G, R, 0, as an RGBA texture; the shader swaps red and blue back onto the
// canvas's 640 × 480 store, which the page scales. Where WebGL is missing or
// drawn in software, the frame is turned into RGBA bytes here and handed to a
// 2D canvas.
// Either way each byte reaches the canvas unchanged.
#include "platform/display.h"

#include "platform/files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

enum class Surface { None, Canvas2d, WebGl };

struct Display {
    Surface surface;
    uint32_t* rgba; // the 2D canvas's bytes, R, G, B, 255
    // Where the frame shown last was drawn (Frame::drawn), -1 for anywhere:
    // the canvas keeps it, so the next frame only changes these and its own.
    int shownCount;
    FrameRect shown[MaxDrawnAreas];
};

// In web_display.js. The areas are `count` rectangles of the frame to send.
extern "C" {
int OpenCanvas();
void DrawWords(const uint32_t* words, const FrameRect* areas, int count);
void DrawRgba(const uint32_t* rgba, const FrameRect* areas, int count);
}

Display* OpenDisplay(bool, bool, const char*) {
    auto* display = static_cast<Display*>(std::calloc(1, sizeof(Display)));
    if (!display) return nullptr;
    display->surface = static_cast<Surface>(OpenCanvas());
    display->shownCount = -1;
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

// The page opens its display once and keeps it: nothing closes it, lends it
// pixels or asks its rate, which the page's animation frames set.

// The smallest rectangle holding both.
static FrameRect Bounds(const FrameRect& a, const FrameRect& b) {
    const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int right = std::max(a.x + a.width, b.x + b.width);
    const int bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

// Where `frame` may differ from what the canvas shows: where it was drawn and
// where the last frame was, the two frames' areas paired in their order (a
// light and where it was); the whole frame when either could be anywhere.
static int ChangedAreas(Display* display, const Frame* frame, FrameRect* areas) {
    const int shown = display->shownCount, drawn = frame->drawnCount;
    int count = 1;
    areas[0] = {0, 0, FrameWidth, FrameHeight};
    if (shown >= 0 && drawn >= 0) {
        count = std::max(shown, drawn);
        for (int i = 0; i < count; ++i)
            areas[i] = i >= drawn   ? display->shown[i]
                       : i >= shown ? frame->drawn[i]
                                    : Bounds(display->shown[i], frame->drawn[i]);
    }
    display->shownCount = drawn;
    std::copy_n(frame->drawn, MaxDrawnAreas, display->shown);
    return count;
}

// Bytes B, G, R, 0 to R, G, B, 255.
static uint32_t Rgba(uint32_t word) {
    return (word >> 16 & 0xFF) | (word & 0xFF00) | (word & 0xFF) << 16 | 0xFF000000u;
}

// The frame's words in `area` as RGBA bytes, four at a time where WebAssembly
// has vectors: the compiler leaves a loop over an area's width unvectorised.
static void ConvertToRgba(uint32_t* to, const Frame* frame, const FrameRect& area) {
    for (int y = area.y; y < area.y + area.height; ++y) {
        const uint32_t* from = frame->pixels + y * (frame->bytesPerRow / 4) + area.x;
        uint32_t* out = to + y * FrameWidth + area.x;
        int x = 0;
#if defined(__wasm_simd128__)
        const v128_t opaque = wasm_u32x4_splat(0xFF000000u);
        for (; x + 4 <= area.width; x += 4) {
            v128_t words = wasm_v128_load(from + x);
            v128_t swapped = wasm_i8x16_shuffle(words, words, 2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11,
                                                14, 13, 12, 15);
            wasm_v128_store(out + x, wasm_v128_or(swapped, opaque));
        }
#endif
        for (; x < area.width; ++x) out[x] = Rgba(from[x]);
    }
}

void ShowFrame(Display* display, Frame* frame) {
    FrameRect areas[MaxDrawnAreas];
    const int count = ChangedAreas(display, frame, areas);
    // The page's frame has packed rows: it is never lent other pixels.
    if (display->surface == Surface::WebGl) return DrawWords(frame->pixels, areas, count);
    for (int i = 0; i < count; ++i) ConvertToRgba(display->rgba, frame, areas[i]);
    DrawRgba(display->rgba, areas, count);
}

// The page takes its keys itself (page.js).
bool TakeEvents(Display*) {
    return false;
}
