// The display the frames are shown on, over SDL2.
//
// Full screen: the demo's own display. Window: a decorated window of the
// frame's size, centred on its screen, or where that would not fit whole with
// its title bar, of the largest 4:3 size that does; it can be resized and
// maximised. Either takes the keyboard focus as it opens, so that its keys
// work at once. F11 toggles between the two. The frame is placed by
// ScaledFrameArea (layout.h): nearest-pixel blocks at whole scales, smoothed
// at the others.
//
// Unpaced, a finished frame is shown at once, with no wait for the display's
// refresh. Paced, it goes through a renderer that waits for the display's
// vertical sync where the video driver offers one.
//
// A frame lent the display's pixels (LendPixels) is drawn straight into what
// is shown; any other frame is copied in whole. Failures print a one-line
// reason on stderr. An X error, such as another program destroying the
// window, or the loss of the X server ends the show through TakeEvents, with a
// line that says so, instead of ending the process.
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

// Shows the frame: at once, or at the display's next refresh where the
// display is paced and its driver syncs.
void ShowFrame(Display* display, Frame* frame);

// The display's refresh rate in Hz, 0 where SDL does not know it.
int RefreshRate(Display* display);

// Takes the display's pending events, so that it stays responsive, and toggles
// full screen on F11; returns true when the user asked to stop: Escape, q, or
// the window manager's close request. The keys that move in the show are kept
// for TakeShowKey. Nothing else is read.
bool TakeEvents(Display* display);

// The next key that moves in the show, of those taken, in the order pressed:
// ' ' (Space), '0' to '9', ',' and '.', and 'L', 'R' and 'H' for Left, Right
// and Home; 0 when there is none.
char TakeShowKey(Display* display);

// The window's title.
void SetTitle(Display* display, const char* title);
