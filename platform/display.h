// The display the frames are shown on, over SDL2: full screen, or a window
// of the frame's size (of the largest 4:3 size that fits where it does not),
// centred, resizable, focused as it opens; F11 toggles between the two. The
// frame is placed by ScaledFrameArea (layout.h). Unpaced, a frame is shown at
// once; paced, at the display's vertical sync where the driver offers one.
// Failures print a one-line reason on stderr. An X error (another program
// destroying the window) or the loss of the X server ends the show through
// TakeEvents, with a line that says so, instead of ending the process.
#pragma once

#include "platform/frame.h"
#include "platform/layout.h"

struct Display;

// Opens a full screen or a window, titled `title`; nullptr on failure. Only
// a display a user can see is opened: SDL's offscreen and dummy drivers only
// when SDL_VIDEODRIVER names them.
Display* OpenDisplay(bool fullScreen, bool paced, const char* title);
// Also gives a lent frame its own pixels back.
void CloseDisplay(Display* display);

// From now on `frame`'s locks hand out the display's own pixels, so that
// ShowFrame has nothing to copy. Where the display's pixels are not 0x00RRGGBB
// words of the frame's size the frame keeps its own, and they are copied.
void LendPixels(Display* display, Frame* frame);

// Hides the mouse pointer over the display.
void HidePointer(Display* display);

void ShowFrame(Display* display, Frame* frame);

// The display's refresh rate in Hz, 0 where SDL does not know it.
int RefreshRate(Display* display);

// Takes the display's pending events and toggles full screen on F11; true when
// the user asked to stop: Escape, q, or the close request. The keys that move
// in the show are kept for TakeShowKey.
bool TakeEvents(Display* display);

// The next key that moves in the show, of those taken, in the order pressed:
// ' ' (Space), '0' to '9', ',' and '.', and 'L', 'R' and 'H' for Left, Right
// and Home; 0 when there is none.
char TakeShowKey(Display* display);

// The window's title.
void SetTitle(Display* display, const char* title);
