// The display the frames are shown on, over SDL2.
//
// Full screen: the demo's own display, showing the 640 × 480 frame scaled to
// fit and letterboxed, and taking the focus. Window: a decorated window of the
// frame's size on the desktop, which leaves the focus where it is. Either way a
// finished frame is copied in whole, with no wait for the display's refresh.
// Failures print a one-line reason on stderr.
#pragma once

#include "platform/frame.h"

struct Display;

// Opens a full screen, or a window titled `title`; nullptr on failure.
Display* OpenDisplay(bool fullScreen, const char* title);
void CloseDisplay(Display* display);

// Hides the mouse pointer over the display.
void HidePointer(Display* display);

// Copies the whole frame to the display and shows it.
void ShowFrame(Display* display, const Frame* frame);

// Takes the display's pending events, so that it stays responsive; returns
// true when the user asked to close it.
bool TakeEvents(Display* display);
