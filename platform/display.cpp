#include "platform/display.h"

#include "platform/activation.h"
#include "platform/subsystems.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>

struct Display {
    SDL_Window* window;
    SDL_Renderer* renderer; // full screen of another size only: scales the frame to fit
    SDL_Texture* texture;
};

// Where a window opens on the desktop.
constexpr int WindowLeft = 200, WindowTop = 200;

// Each display holds the video subsystem once; SDL counts the holds.
static bool HoldVideo() {
    // A window's own pixels go to the display directly (shared memory on X11);
    // SDL's default detour through a GL texture costs several times more.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (!HoldSubsystem(SDL_INIT_VIDEO)) {
        std::fprintf(stderr, "bumpwave: no display: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

static void ReleaseVideo() {
    ReleaseSubsystem(SDL_INIT_VIDEO);
}

static void DestroyDisplayParts(Display* display) {
    if (display->texture) SDL_DestroyTexture(display->texture);
    if (display->renderer) SDL_DestroyRenderer(display->renderer);
    if (display->window) SDL_DestroyWindow(display->window);
    std::free(display);
}

// A full screen the size of the frame shows it as it is; any other size needs
// the frame scaled to fit and letterboxed, by a renderer with a logical size.
static bool NeedsScaling(int width, int height) {
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return true;
    return desktop.w != width || desktop.h != height;
}

static bool MakeScaler(Display* display, int width, int height) {
    // Without a display there is no graphics card either: SDL's own software
    // renderer beats GL emulated in software.
    if (!std::strcmp(SDL_GetCurrentVideoDriver(), "offscreen"))
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    display->renderer = SDL_CreateRenderer(display->window, -1, 0);
    if (!display->renderer) return false;
    SDL_RenderSetLogicalSize(display->renderer, width, height);
    display->texture = SDL_CreateTexture(display->renderer, SDL_PIXELFORMAT_ARGB8888,
                                         SDL_TEXTUREACCESS_STREAMING, width, height);
    return display->texture != nullptr;
}

Display* OpenDisplay(bool fullScreen, const char* title) {
    if (!HoldVideo()) return nullptr;
    auto* display = static_cast<Display*>(std::calloc(1, sizeof(Display)));
    if (!display) {
        ReleaseVideo();
        return nullptr;
    }
    // Created hidden, so that a window that must not take the focus can say so
    // before it is shown.
    Uint32 flags = SDL_WINDOW_HIDDEN | (fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    display->window = SDL_CreateWindow(fullScreen ? "" : title, WindowLeft, WindowTop, FrameWidth,
                                       FrameHeight, flags);
    bool scaled = fullScreen && NeedsScaling(FrameWidth, FrameHeight);
    bool ready = display->window && (scaled ? MakeScaler(display, FrameWidth, FrameHeight)
                                            : SDL_GetWindowSurface(display->window) != nullptr);
    if (!ready) {
        std::fprintf(stderr, "bumpwave: cannot open the window: %s\n", SDL_GetError());
        DestroyDisplayParts(display);
        ReleaseVideo();
        return nullptr;
    }
    if (!fullScreen) AskNotToActivate(display->window);
    SDL_ShowWindow(display->window);
    return display;
}

void CloseDisplay(Display* display) {
    if (!display) return;
    DestroyDisplayParts(display);
    ReleaseVideo();
}

void HidePointer(Display*) {
    SDL_ShowCursor(SDL_DISABLE);
}

// Sixteen bytes at a time. Not memcpy: glibc's string copy is many times
// slower on some AMD processors when source and destination share their
// position within a page, as two page-aligned frames do.
static void CopyRow(uint32_t* to, const uint32_t* from, int words) {
    int x = 0;
    for (; x + 4 <= words; x += 4) {
        __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), four);
    }
    for (; x < words; ++x) to[x] = from[x];
}

// Copies the frame into pixels of the same 32-bit layout.
static void CopyFrame(void* to, int pitch, const Frame* frame, int width, int height) {
    for (int y = 0; y < height; ++y) {
        CopyRow(reinterpret_cast<uint32_t*>(static_cast<char*>(to) + y * pitch),
                frame->pixels + y * (frame->bytesPerRow / 4), width);
    }
}

static void PresentScaled(Display* display, const Frame* frame) {
    void* pixels;
    int pitch;
    if (SDL_LockTexture(display->texture, nullptr, &pixels, &pitch) != 0) return;
    CopyFrame(pixels, pitch, frame, frame->width, frame->height);
    SDL_UnlockTexture(display->texture);
    SDL_RenderClear(display->renderer);
    SDL_RenderCopy(display->renderer, display->texture, nullptr, nullptr);
    SDL_RenderPresent(display->renderer);
}

static void PresentDirect(Display* display, const Frame* frame) {
    SDL_Surface* surface = SDL_GetWindowSurface(display->window);
    if (!surface) return;
    int width = std::min(frame->width, surface->w);
    int height = std::min(frame->height, surface->h);
    Uint32 format = surface->format->format;
    if (format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888) {
        CopyFrame(surface->pixels, surface->pitch, frame, width, height);
    } else {
        SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_ARGB8888, frame->pixels,
                          frame->bytesPerRow, format, surface->pixels, surface->pitch);
    }
    SDL_UpdateWindowSurface(display->window);
}

void ShowFrame(Display* display, const Frame* frame) {
    if (display->renderer)
        PresentScaled(display, frame);
    else
        PresentDirect(display, frame);
}

bool TakeEvents(Display*) {
    bool close = false;
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT) close = true;
    return close;
}
