// bumpwave: the main operation. Acquires everything the frame loop needs, in
// order, starts the music, runs the 41 seconds of visuals, then releases what
// it acquired in reverse order, waits for the music to play out, pauses one
// second and returns 0, or 1 when it could not show its visuals.
//
// Standard output carries only the frame-rate line and the loaders' messages;
// failures of the display or the sound card say why on standard error.

#include "assets/music.h"
#include "assets/picture.h"
#include "effects/tables.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "platform/thread.h"
#include "shell/frame_loop.h"
#include "shell/main_options.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

// Kept in the binary for `version`-style tools that look for it.
[[gnu::used]] static const char VersionString[] =
    "$VER: bumpwave " BUMPWAVE_VERSION " (07.12.2026)";
static const char* const Banner =
    "bumpwave " BUMPWAVE_VERSION ": three lights, a plasma and a grid of dots";

// Everything the run acquires; nullptr until it is.
static bool WindowMode;
static bool Paced;
static Signal* MusicEnded;
static Frame* DemoFrame;
static Display* DemoDisplay;
static uint32_t* BumpPicture;
static uint32_t* LogoPicture;
static bool MusicStarted;

static bool Fail(const char* reason) {
    std::fprintf(stderr, "bumpwave: %s\n", reason);
    return false;
}

static bool StartUp() {
    MusicEnded = CreateSignal();
    if (!MusicEnded) return Fail("no free signal");
    DemoFrame = AllocateFrame(FrameWidth, FrameHeight);
    if (!DemoFrame) return Fail("not enough memory for the frame");
    DemoDisplay = OpenDisplay(!WindowMode, Paced, Banner);
    if (!DemoDisplay) return false; // the display layer said why
    LendPixels(DemoDisplay, DemoFrame);
    HidePointer(DemoDisplay);
    // The loader prints its own messages; the second picture is not tried
    // after the first has failed.
    if (!LoadPicture("bumpmap.png", &BumpPicture)) return false;
    if (!LoadPicture("boys.jpg", &LogoPicture)) return false;
    if (!InitEffects(static_cast<unsigned>(std::time(nullptr))))
        return Fail("not enough memory for the tables");
    MusicStarted = StartMusic(MusicEnded);
    if (!MusicStarted) return Fail("cannot start the music thread");
    return true;
}

static void ShutDown() {
    FreeWaveTables();
    CloseDisplay(DemoDisplay);
    FreeFrame(DemoFrame);
    std::free(BumpPicture);
    std::free(LogoPicture);
    // The music is never stopped: it plays to the end of its file. A music
    // thread still opening the card keeps its signal, which it may yet send.
    bool musicDone = !MusicStarted || WaitForMusic(MusicEnded);
    PauseMilliseconds(1000);
    if (musicDone) DestroySignal(MusicEnded);
}

int main(int argc, char** argv) {
    KeepStandardStreamsApart();
    switch (ReadOptions(argc, argv, WindowMode, Paced)) {
    case Options::Help:
        std::fputs(UsageText, stdout);
        return 0;
    case Options::Version:
        std::printf("%s\n", VersionString + 6);
        return 0;
    case Options::Run:
        break;
    }
    IgnoreBrokenPipes(); // a closed stdout fails the frame-rate line, not the run
    // A run that could not show its visuals is a failure, whatever the music did.
    bool shown = StartUp();
    if (shown) RunFrameLoop(DemoFrame, DemoDisplay, Paced, BumpPicture, LogoPicture);
    ShutDown();
    return shown ? 0 : 1;
}
