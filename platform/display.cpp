#include "platform/display.h"

#include "platform/activation.h"
#include "platform/subsystems.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <emmintrin.h>

struct Screen {
    bool own; // the demo's own full screen, not the borrowed desktop
};

struct Window {
    SDL_Window* window;
    SDL_Renderer* renderer; // own screen only: scales the frame to fit
    SDL_Texture* texture;
};

// Each screen and each window holds the video subsystem once; SDL counts the
// holds, so the desktop stays up while a window is open on it.
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

static Screen* HoldScreen(bool own) {
    if (!HoldVideo()) return nullptr;
    auto* screen = static_cast<Screen*>(std::malloc(sizeof(Screen)));
    if (!screen) {
        ReleaseVideo();
        return nullptr;
    }
    screen->own = own;
    return screen;
}

static void DropScreen(Screen* screen) {
    if (!screen) return;
    std::free(screen);
    ReleaseVideo();
}

Screen* p96OpenScreenTags() {
    return HoldScreen(true);
}
void p96CloseScreen(Screen* screen) {
    DropScreen(screen);
}
Screen* LockPubScreen() {
    return HoldScreen(false);
}
void UnlockPubScreen(Screen* screen) {
    DropScreen(screen);
}

static void DestroyWindowParts(Window* window) {
    if (window->texture) SDL_DestroyTexture(window->texture);
    if (window->renderer) SDL_DestroyRenderer(window->renderer);
    if (window->window) SDL_DestroyWindow(window->window);
    std::free(window);
}

// A full screen the size of the frame shows it as it is; any other size needs
// the frame scaled to fit and letterboxed, by a renderer with a logical size.
static bool NeedsScaling(int width, int height) {
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return true;
    return desktop.w != width || desktop.h != height;
}

static bool MakeScaler(Window* window, int width, int height) {
    // Without a display there is no graphics card either: SDL's own software
    // renderer beats GL emulated in software.
    if (!std::strcmp(SDL_GetCurrentVideoDriver(), "offscreen"))
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    window->renderer = SDL_CreateRenderer(window->window, -1, 0);
    if (!window->renderer) return false;
    SDL_RenderSetLogicalSize(window->renderer, width, height);
    window->texture = SDL_CreateTexture(window->renderer, SDL_PIXELFORMAT_ARGB8888,
                                        SDL_TEXTUREACCESS_STREAMING, width, height);
    return window->texture != nullptr;
}

Window* OpenWindowTags(const WindowTags& tags) {
    if (!tags.screen || !HoldVideo()) return nullptr;
    auto* window = static_cast<Window*>(std::calloc(1, sizeof(Window)));
    if (!window) {
        ReleaseVideo();
        return nullptr;
    }
    // Created hidden, so that a window that must not take the focus can say so
    // before it is shown.
    Uint32 flags = SDL_WINDOW_HIDDEN | (tags.screen->own ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    if (!tags.depthGadget && !tags.screen->own) flags |= SDL_WINDOW_BORDERLESS;
    window->window = SDL_CreateWindow(tags.title ? tags.title : "", tags.left, tags.top,
                                      tags.innerWidth, tags.innerHeight, flags);
    bool scaled = tags.screen->own && NeedsScaling(tags.innerWidth, tags.innerHeight);
    bool ready = window->window && (scaled ? MakeScaler(window, tags.innerWidth, tags.innerHeight)
                                           : SDL_GetWindowSurface(window->window) != nullptr);
    if (ready) {
        if (!tags.activate) AskNotToActivate(window->window);
        SDL_ShowWindow(window->window);
    } else {
        std::fprintf(stderr, "bumpwave: cannot open the window: %s\n", SDL_GetError());
        DestroyWindowParts(window);
        ReleaseVideo();
        return nullptr;
    }
    return window;
}

void CloseWindow(Window* window) {
    if (!window) return;
    DestroyWindowParts(window);
    ReleaseVideo();
}

void SetPointer(Window*) {
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
static void CopyFrame(void* to, int pitch, const BitMap* bitmap, int width, int height) {
    for (int y = 0; y < height; ++y) {
        CopyRow(reinterpret_cast<uint32_t*>(static_cast<char*>(to) + y * pitch),
                bitmap->pixels + y * (bitmap->bytesPerRow / 4), width);
    }
}

static void PresentScaled(const BitMap* bitmap, Window* window) {
    void* pixels;
    int pitch;
    if (SDL_LockTexture(window->texture, nullptr, &pixels, &pitch) != 0) return;
    CopyFrame(pixels, pitch, bitmap, bitmap->width, bitmap->height);
    SDL_UnlockTexture(window->texture);
    SDL_RenderClear(window->renderer);
    SDL_RenderCopy(window->renderer, window->texture, nullptr, nullptr);
    SDL_RenderPresent(window->renderer);
}

static void PresentDirect(const BitMap* bitmap, Window* window) {
    SDL_Surface* surface = SDL_GetWindowSurface(window->window);
    if (!surface) return;
    int width = std::min(bitmap->width, surface->w);
    int height = std::min(bitmap->height, surface->h);
    Uint32 format = surface->format->format;
    if (format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888) {
        CopyFrame(surface->pixels, surface->pitch, bitmap, width, height);
    } else {
        SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_ARGB8888, bitmap->pixels,
                          bitmap->bytesPerRow, format, surface->pixels, surface->pitch);
    }
    SDL_UpdateWindowSurface(window->window);
}

void BltBitMapRastPort(BitMap* bitmap, Window* window) {
    if (window->renderer)
        PresentScaled(bitmap, window);
    else
        PresentDirect(bitmap, window);
}

bool TakeWindowEvents(Window*) {
    bool close = false;
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT) close = true;
    return close;
}
