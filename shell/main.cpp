// bumpwave: the main operation. Acquires everything the frame loop needs, in
// order, starts the music, runs the 41 seconds of visuals, then releases what
// it acquired in reverse order, waits for the music to play out, pauses one
// second and returns 0, whatever happened.
//
// Standard output carries only the frame-rate line and the loaders' messages;
// failures of the display or the sound card say why on standard error.

#include "assets/music.h"
#include "assets/picture.h"
#include "effects/tables.h"
#include "platform/display.h"
#include "platform/frame.h"
#include "platform/task.h"
#include "shell/frame_loop.h"
#include "shell/main_options.h"

#include <cstdio>
#include <ctime>

// Kept in the binary for `version`-style tools that look for it.
[[gnu::used]] static const char VersionString[] = "$VER: bumpwave 1.0 (07.12.2026)";
static const char* const Banner = "bumpwave 1.0: three lights, a plasma and a grid of dots";

// Everything the run acquires; nullptr or -1 until it is.
static bool WindowMode;
static BitMap* FrameBitmap;
static Screen* OwnScreen; // own-screen mode only; the desktop is only borrowed
static Window* DisplayWindow;
static void* BlankPointer;
static uint32_t* BumpPicture;
static uint32_t* LogoPicture;
static bool MusicStarted;

static bool Fail(const char* reason) {
    std::fprintf(stderr, "bumpwave: %s\n", reason);
    return false;
}

static bool OpenDisplay() {
    Screen* screen = WindowMode ? LockPubScreen() : p96OpenScreenTags();
    if (!screen) return false;
    if (!WindowMode) OwnScreen = screen;
    WindowTags tags{};
    tags.title = WindowMode ? Banner : nullptr;
    tags.depthGadget = WindowMode;
    tags.activate = !WindowMode;
    tags.left = tags.top = 200;
    tags.innerWidth = FrameWidth;
    tags.innerHeight = FrameHeight;
    tags.screen = screen;
    DisplayWindow = OpenWindowTags(tags);
    // The open window keeps the desktop in use; the borrow ends here either way.
    if (WindowMode) UnlockPubScreen(screen);
    return DisplayWindow != nullptr;
}

static bool StartUp() {
    EndSignal = AllocSignal(-1);
    if (EndSignal == -1) return Fail("no free signal");
    FrameBitmap = p96AllocBitMap(FrameWidth, FrameHeight);
    if (!FrameBitmap) return Fail("not enough memory for the frame");
    if (!OpenDisplay()) return false; // the display layer said why
    BlankPointer = AllocVec(8, MEMF_CHIP | MEMF_CLEAR);
    if (!BlankPointer) return Fail("not enough memory");
    SetPointer(DisplayWindow);
    // The loader prints its own messages; the second picture is not tried
    // after the first has failed.
    if (!LoadPicture("bumpmap.png", DisplayWindow, &BumpPicture)) return false;
    if (!LoadPicture("boys.jpg", DisplayWindow, &LogoPicture)) return false;
    if (!BumpPicture) return false;
    if (!InitEffects(static_cast<unsigned>(std::time(nullptr))))
        return Fail("not enough memory for the tables");
    MusicStarted = StartMusic();
    if (!MusicStarted) return Fail("cannot start the music thread");
    return true;
}

static void ShutDown() {
    FreeWaveTables();
    CloseWindow(DisplayWindow);
    FreeVec(BlankPointer); // only now that no window uses it
    p96CloseScreen(OwnScreen);
    p96FreeBitMap(FrameBitmap);
    FreeVec(BumpPicture);
    FreeVec(LogoPicture);
    // The music is never stopped: it plays to the end of its file.
    if (MusicStarted) Wait(1u << EndSignal);
    Delay(50);
    if (EndSignal != -1) FreeSignal(EndSignal);
}

int main(int argc, char** argv) {
    switch (ReadOptions(argc, argv, WindowMode)) {
    case Options::Help:
        std::fputs(UsageText, stdout);
        return 0;
    case Options::Version:
        std::printf("%s\n", VersionString + 6);
        return 0;
    case Options::Run:
        break;
    }
    if (StartUp()) RunFrameLoop(FrameBitmap, DisplayWindow, BumpPicture, LogoPicture);
    ShutDown();
    return 0;
}
