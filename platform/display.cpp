#include "platform/display.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

struct Screen {
    bool own; // the demo's own full screen, not the borrowed desktop
};

struct Window {
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
};

// Each screen and each window holds the video subsystem once; SDL counts the
// holds, so the desktop stays up while a window is open on it.
static bool HoldVideo() {
    // Ctrl+C in the terminal must end the demo the usual way, not become an
    // event that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "bumpwave: no display: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

static void ReleaseVideo() {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
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

Window* OpenWindowTags(const WindowTags& tags) {
    if (!tags.screen || !HoldVideo()) return nullptr;
    auto* window = static_cast<Window*>(std::calloc(1, sizeof(Window)));
    if (!window) {
        ReleaseVideo();
        return nullptr;
    }
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, tags.activate ? "0" : "1");
    Uint32 flags = tags.screen->own ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0;
    if (!tags.depthGadget && !tags.screen->own) flags |= SDL_WINDOW_BORDERLESS;
    window->window = SDL_CreateWindow(tags.title ? tags.title : "", tags.left, tags.top,
                                      tags.innerWidth, tags.innerHeight, flags);
    if (window->window) window->renderer = SDL_CreateRenderer(window->window, -1, 0);
    if (window->renderer) {
        // Scaled to fit and letterboxed on a screen of any size.
        SDL_RenderSetLogicalSize(window->renderer, tags.innerWidth, tags.innerHeight);
        window->texture =
            SDL_CreateTexture(window->renderer, SDL_PIXELFORMAT_ARGB8888,
                              SDL_TEXTUREACCESS_STREAMING, tags.innerWidth, tags.innerHeight);
    }
    if (!window->texture) {
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

void BltBitMapRastPort(BitMap* bitmap, Window* window) {
    SDL_UpdateTexture(window->texture, nullptr, bitmap->pixels, bitmap->bytesPerRow);
    SDL_RenderClear(window->renderer);
    SDL_RenderCopy(window->renderer, window->texture, nullptr, nullptr);
    SDL_RenderPresent(window->renderer);
}

bool TakeWindowEvents(Window*) {
    bool close = false;
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT) close = true;
    return close;
}
