// Kept apart from the display code: X11's own `Display` type would clash with ours.
#include "platform/activation.h"

#include <SDL.h>
#include <SDL_syswm.h>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

void AskNotToActivate(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return;
    // A user time of 0 tells the window manager that no user action opened the
    // window, so it leaves the focus where it is (EWMH). SDL has no hint for it.
    Display* display = info.info.x11.display;
    Atom userTime = XInternAtom(display, "_NET_WM_USER_TIME", False);
    long zero = 0;
    XChangeProperty(display, info.info.x11.window, userTime, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&zero), 1);
#else
    (void)window;
#endif
}
