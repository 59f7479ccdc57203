// The screen, the window and the copy of the frame into it, over SDL2.
//
// Own-screen mode: a full-screen display that shows the 640 × 480 frame scaled
// to fit and letterboxed. Window mode: a decorated window of 640 × 480 inner
// size on the desktop. Either way a finished frame is copied in whole, with no
// wait for the display's refresh. Failures print a one-line reason on stderr.
#pragma once

#include "platform/frame.h"

struct Screen;
struct Window;

// The demo's own full screen, or nullptr.
Screen* p96OpenScreenTags();
void p96CloseScreen(Screen* screen);

// The desktop, borrowed to open a window on it, or nullptr.
Screen* LockPubScreen();
void UnlockPubScreen(Screen* screen);

struct WindowTags {
    const char* title; // nullptr: no title
    bool depthGadget;  // normal decorations
    bool activate;     // take the focus when it opens
    int left, top;
    int innerWidth, innerHeight;
    Screen* screen;
};

Window* OpenWindowTags(const WindowTags& tags);
void CloseWindow(Window* window);

// Hides the mouse pointer over the window.
void SetPointer(Window* window);

// Copies the whole bitmap into the window and shows it.
void BltBitMapRastPort(BitMap* bitmap, Window* window);

// Takes the window's pending events, so that it stays responsive; returns true
// when the user asked to close it.
bool TakeWindowEvents(Window* window);
