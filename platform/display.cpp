#include "platform/display.h"

#include "platform/files.h"
#include "platform/subsystems.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

// Xlib names its connection Display too: renamed here, where only its error
// handlers are used.
#define Display XConnection
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#undef Display

struct Display {
    SDL_Window* window;
    SDL_Renderer* renderer; // where the frame is scaled or paced: shows `texture`
    SDL_Texture* texture;
    void* texturePixels; // while the texture is locked
    int texturePitch;
    Frame* borrower; // the frame drawing straight into the display's pixels
    char keys[16];   // for TakeShowKey, the first taken first
    int keyCount;
};

// SDL falls back on drivers that show nothing when it finds no display; those
// are for a user who asks for them by name.
static bool OnlyInvisible() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || (std::strcmp(driver, "offscreen") && std::strcmp(driver, "dummy"))) return false;
    const char* named = SDL_getenv("SDL_VIDEODRIVER");
    return !named || !SDL_strcasestr(named, driver);
}

// An X request refused, as when another program destroys the window, or the
// X server gone: said once by TakeEvents, which ends the show as a stop does.
// Xlib's own handlers would end the process at once, with the music cut.
static struct {
    char error[200];
    bool said;
} X;

static int KeepXError(XConnection* connection, XErrorEvent* event) {
    if (X.error[0]) return 0;
    char what[80] = "";
    XGetErrorText(connection, event->error_code, what, sizeof what);
    std::snprintf(X.error, sizeof X.error,
                  "the X server refused to draw (%s): the window is gone, or another program "
                  "took it",
                  what);
    return 0;
}

static int LoseXServer(XConnection*) {
    std::snprintf(X.error, sizeof X.error, "lost the X server");
    return 0;
}

// Returning, it leaves the connection dead instead of ending the process.
static void OutliveXServer(XConnection*, void*) {}

static void CatchXErrors(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    XSetErrorHandler(KeepXError);
    XSetIOErrorHandler(LoseXServer);
    XSetIOErrorExitHandler(info.info.x11.display, OutliveXServer, nullptr);
}

// SDL's reason, with the video driver that gave it and how to choose another.
static void ComplainOfDriver(const char* what) {
    const std::string why = SDL_GetError(); // before SDL_GetCurrentVideoDriver replaces it
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : nullptr;
    if (!driver) driver = SDL_getenv("SDL_VIDEODRIVER");
    Complain("%s: %s (video driver %s; SDL_VIDEODRIVER=x11 or SDL_VIDEODRIVER=wayland picks "
             "another)",
             what, why.c_str(), driver ? driver : "none found");
}

// Each display holds the video subsystem once; SDL counts the holds.
static bool HoldVideo() {
    // A window's own pixels go to the display directly (shared memory on X11);
    // SDL's default detour through a GL texture costs several times more.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (!HoldSubsystem(SDL_INIT_VIDEO)) {
        ComplainOfDriver("no display");
        return false;
    }
    if (OnlyInvisible()) {
        Complain("no display: no X11, Wayland or console display to show on "
                 "(SDL_VIDEODRIVER=offscreen draws without one)");
        ReleaseSubsystem(SDL_INIT_VIDEO);
        return false;
    }
    return true;
}

// Also gives back the display's hold of the video subsystem.
static void DestroyDisplay(Display* display) {
    if (display && display->texture) SDL_DestroyTexture(display->texture);
    if (display && display->renderer) SDL_DestroyRenderer(display->renderer);
    if (display && display->window) SDL_DestroyWindow(display->window);
    std::free(display);
    ReleaseSubsystem(SDL_INIT_VIDEO);
}

// A full screen the size of the frame shows it as it is; any other size needs
// the frame scaled, which a renderer does cheapest.
static bool NeedsScaling() {
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return true;
    return desktop.w != FrameWidth || desktop.h != FrameHeight;
}

static bool MakeRenderer(Display* display, bool paced) {
    // Without a display there is no graphics card either: SDL's own software
    // renderer beats GL emulated in software.
    if (!std::strcmp(SDL_GetCurrentVideoDriver(), "offscreen"))
        SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    display->renderer =
        SDL_CreateRenderer(display->window, -1, paced ? SDL_RENDERER_PRESENTVSYNC : 0);
    if (!display->renderer) return false;
    display->texture = SDL_CreateTexture(display->renderer, SDL_PIXELFORMAT_RGB888,
                                         SDL_TEXTUREACCESS_STREAMING, FrameWidth, FrameHeight);
    if (display->texture) return true;
    SDL_DestroyRenderer(display->renderer);
    display->renderer = nullptr;
    return false;
}

// The window's own pixels where they serve, else a renderer: pacing and
// scaling need the renderer, and some video drivers offer nothing else.
static bool MakePresentation(Display* display, bool fullScreen, bool paced) {
    bool scaled = fullScreen && NeedsScaling();
    if (paced || scaled)
        return MakeRenderer(display, paced) || (!scaled && SDL_GetWindowSurface(display->window));
    return SDL_GetWindowSurface(display->window) || MakeRenderer(display, false);
}

// A window of the frame's size where it fits whole, with the window manager's
// frame around it, in the screen's usable part; elsewhere of the largest 4:3
// size that fits there (the layout rule), centred. That frame is known only
// once the window is shown: it is fitted again then.
static void FitWindow(SDL_Window* window) {
    SDL_Rect usable;
    int index = SDL_GetWindowDisplayIndex(window);
    if (index < 0 || SDL_GetDisplayUsableBounds(index, &usable) != 0) return;
    int top = 0, left = 0, bottom = 0, right = 0;
    SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right);
    const int width = usable.w - left - right, height = usable.h - top - bottom;
    if (width >= FrameWidth && height >= FrameHeight) return;
    FrameArea fit = ScaledFrameArea(width, height);
    SDL_SetWindowMinimumSize(window, std::max(fit.width, 4), std::max(fit.height, 3));
    SDL_SetWindowSize(window, fit.width, fit.height);
    SDL_SetWindowPosition(window, usable.x + left + fit.x, usable.y + top + fit.y);
}

Display* OpenDisplay(bool fullScreen, bool paced, const char* title) {
    if (!HoldVideo()) return nullptr;
    auto* display = static_cast<Display*>(std::calloc(1, sizeof(Display)));
    // Shown only once it can be drawn in: a renderer may replace the window.
    Uint32 flags =
        SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | (fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    if (!display ||
        !(display->window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                             FrameWidth, FrameHeight, flags)) ||
        !MakePresentation(display, fullScreen, paced)) {
        ComplainOfDriver("cannot open the window");
        DestroyDisplay(display);
        return nullptr;
    }
    CatchXErrors(display->window);
    if (!fullScreen) FitWindow(display->window);
    SDL_ShowWindow(display->window);
    SDL_PumpEvents(); // the window manager's frame, set as it mapped the window
    if (!fullScreen) FitWindow(display->window);
    return display;
}

void CloseDisplay(Display* display) {
    if (!display) return;
    if (display->borrower) UseOwnPixels(display->borrower);
    // SDL would wait forever for the X server to hide a window it no longer
    // has: what is left of it goes with the process.
    if (X.error[0]) return std::free(display);
    DestroyDisplay(display);
}

void HidePointer(Display*) {
    SDL_ShowCursor(SDL_DISABLE);
}

// The frame draws into `pixels` from its next lock, where its stride can say
// `pitch`; otherwise into its own memory.
static void Lend(Frame* frame, void* pixels, int pitch) {
    if (!pixels || pitch < frame->width * 4 || pitch > std::numeric_limits<int16_t>::max()) {
        UseOwnPixels(frame);
        return;
    }
    frame->pixels = static_cast<uint32_t*>(pixels);
    frame->bytesPerRow = static_cast<int16_t>(pitch);
}

// 32-bit words with red, green and blue where the frame has them, of the
// frame's own size: a larger surface shows the frame scaled.
static bool HoldsFrame(const SDL_Surface* surface, const Frame* frame) {
    const Uint32 format = surface->format->format;
    return (format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888) &&
           surface->w == frame->width && surface->h == frame->height;
}

static void LockTexture(Display* display) {
    if (display->texturePixels) return;
    if (SDL_LockTexture(display->texture, nullptr, &display->texturePixels,
                        &display->texturePitch) != 0)
        display->texturePixels = nullptr;
}

// Lends the borrower what the next frame is drawn into.
static void LendNext(Display* display) {
    Frame* frame = display->borrower;
    if (!frame) return;
    if (display->renderer) {
        LockTexture(display);
        Lend(frame, display->texturePixels, display->texturePitch);
        return;
    }
    SDL_Surface* surface = SDL_GetWindowSurface(display->window);
    if (surface && HoldsFrame(surface, frame))
        Lend(frame, surface->pixels, surface->pitch);
    else
        UseOwnPixels(frame);
}

void LendPixels(Display* display, Frame* frame) {
    display->borrower = frame;
    LendNext(display);
}

// Copies the frame into pixels of its size, in their `format`.
static void CopyFrame(const Frame* frame, Uint32 format, void* to, int pitch) {
    SDL_ConvertPixels(frame->width, frame->height, SDL_PIXELFORMAT_RGB888, frame->pixels,
                      frame->bytesPerRow, format, to, pitch);
}

static void ShowThroughRenderer(Display* display, Frame* frame) {
    LockTexture(display);
    if (!display->texturePixels) return;
    if (frame->pixels != display->texturePixels)
        CopyFrame(frame, SDL_PIXELFORMAT_RGB888, display->texturePixels, display->texturePitch);
    SDL_UnlockTexture(display->texture);
    display->texturePixels = nullptr;
    int width = 0, height = 0;
    SDL_GetRendererOutputSize(display->renderer, &width, &height);
    FrameArea area = ScaledFrameArea(width, height);
    SDL_Rect to = {area.x, area.y, area.width, area.height};
    SDL_SetTextureScaleMode(display->texture,
                            area.wholeScale ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
    SDL_RenderClear(display->renderer);
    SDL_RenderCopy(display->renderer, display->texture, nullptr, &to);
    SDL_RenderPresent(display->renderer);
}

// Nearest neighbour at a whole scale, every pixel an equal block; smoothed at
// any other, where nearest would make blocks of uneven sizes. The linear
// stretch takes only pixels of one format; SDL converts for the blit.
static void ScaleFrame(SDL_Surface* surface, Frame* frame) {
    SDL_Surface* from = SDL_CreateRGBSurfaceWithFormatFrom(
        frame->pixels, frame->width, frame->height, 32, frame->bytesPerRow, SDL_PIXELFORMAT_RGB888);
    if (!from) return;
    FrameArea area = ScaledFrameArea(surface->w, surface->h);
    SDL_Rect to = {area.x, area.y, area.width, area.height};
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    bool smooth = !area.wholeScale && surface->format->format == SDL_PIXELFORMAT_RGB888;
    if (!smooth || SDL_SoftStretchLinear(from, nullptr, surface, &to) != 0)
        SDL_BlitScaled(from, nullptr, surface, &to);
    SDL_FreeSurface(from);
}

static void ShowThroughSurface(Display* display, Frame* frame) {
    SDL_Surface* surface = SDL_GetWindowSurface(display->window);
    if (!surface) return;
    if (surface->w != frame->width || surface->h != frame->height)
        ScaleFrame(surface, frame);
    else if (frame->pixels != surface->pixels)
        CopyFrame(frame, surface->format->format, surface->pixels, surface->pitch);
    SDL_UpdateWindowSurface(display->window);
}

void ShowFrame(Display* display, Frame* frame) {
    if (display->renderer)
        ShowThroughRenderer(display, frame);
    else
        ShowThroughSurface(display, frame);
    LendNext(display);
}

int RefreshRate(Display* display) {
    SDL_DisplayMode mode;
    int index = SDL_GetWindowDisplayIndex(display->window);
    if (index < 0 || SDL_GetCurrentDisplayMode(index, &mode) != 0) return 0;
    return mode.refresh_rate;
}

// A resized window may replace its pixels: the frame gives back what it was
// lent before they go, and borrows again from what replaces them.
static void LendAgain(Display* display) {
    if (!display->borrower) return;
    UseOwnPixels(display->borrower);
    LendNext(display);
}

static void ToggleFullScreen(Display* display) {
    bool full = SDL_GetWindowFlags(display->window) & SDL_WINDOW_FULLSCREEN;
    SDL_SetWindowFullscreen(display->window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
    LendAgain(display);
}

// Space pauses, once a press; the seeking keys repeat while held. A full list
// drops the newest.
static void KeepShowKey(Display* display, const SDL_KeyboardEvent& key) {
    const SDL_Keycode sym = key.keysym.sym;
    char kept = sym == SDLK_LEFT ? 'L' : sym == SDLK_RIGHT ? 'R' : sym == SDLK_HOME ? 'H' : 0;
    if ((sym >= SDLK_0 && sym <= SDLK_9) || sym == SDLK_COMMA || sym == SDLK_PERIOD)
        kept = static_cast<char>(sym);
    if (sym == SDLK_SPACE && !key.repeat) kept = ' ';
    if (kept && display->keyCount < static_cast<int>(sizeof display->keys))
        display->keys[display->keyCount++] = kept;
}

bool TakeEvents(Display* display) {
    bool stop = X.error[0];
    if (stop && !X.said) Complain("%s", X.error);
    X.said = stop;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        // Keys by their symbol, so that q is q on every layout.
        const SDL_Keycode key = event.type == SDL_KEYDOWN ? event.key.keysym.sym : 0;
        if (event.type == SDL_QUIT || key == SDLK_ESCAPE || key == SDLK_q) stop = true;
        if (key == SDLK_F11 && !event.key.repeat) ToggleFullScreen(display);
        if (key) KeepShowKey(display, event.key);
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
            LendAgain(display);
    }
    return stop;
}

char TakeShowKey(Display* display) {
    if (!display || !display->keyCount) return 0;
    const char key = display->keys[0];
    std::memmove(display->keys, display->keys + 1, --display->keyCount);
    return key;
}

void SetTitle(Display* display, const char* title) {
    SDL_SetWindowTitle(display->window, title);
}
