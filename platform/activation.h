// Asking the window manager not to give a new window the focus.
#pragma once

struct SDL_Window;

// For a window created hidden, before it is shown. Where the window system is
// not X11 this does nothing.
void AskNotToActivate(SDL_Window* window);
