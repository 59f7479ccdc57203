// bumpwave: opens the display, starts the music, runs the visuals, closes the
// display, lets the music play out, pauses a second and returns 0; 1 when it
// could not show its visuals. A stop ends it at once, without the pause; a
// stop signal ends it by that signal once all is closed. Looping, each round
// is a new show, the display staying open between them. Standard output
// carries only the frame-rate line and the loaders' messages.

#include "assets/music.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "platform/thread.h"
#include "shell/frame_loop.h"
#include "shell/main_options.h"
#include "shell/show.h"
#include "shell/timeline.h"

#include <csignal>
#include <cstdio>

// Kept in the binary for `version`-style tools that look for it.
[[gnu::used]] static const char VersionString[] = "$VER: bumpwave " BUMPWAVE_VERSION;
static const char* const Banner =
    "bumpwave " BUMPWAVE_VERSION ": three lights, a plasma and a grid of dots";

// Everything the run acquires; nullptr until it is.
static struct {
    DemoOptions options;
    Signal* musicEnded;
    Frame* frame;
    Display* display;
    bool musicStarted;
    volatile std::sig_atomic_t stopSignal; // the signal that asked to stop, if one did
} Demo;

static void AskToStop(int signal) {
    Demo.stopSignal = signal;
    StopRequested = 1;
}

// What each round needs of its own: the music's end signal, the show, the music.
static bool StartShow() {
    Demo.musicEnded = CreateSignal();
    if (!Demo.musicEnded) return Complain("no free signal"), false;
    if (!LoadShow(Demo.options.seed, Demo.options.calm)) return false; // the show said why
    Demo.musicStarted = StartMusic(Demo.musicEnded);
    if (!Demo.musicStarted) return Complain("cannot start the music thread"), false;
    return true;
}

static bool StartUp() {
    Demo.frame = AllocateFrame(FrameWidth, FrameHeight);
    if (!Demo.frame) return Complain("not enough memory for the frame"), false;
    Demo.display = OpenDisplay(!Demo.options.window, Demo.options.paced, Banner);
    if (!Demo.display) return false; // the display layer said why
    LendPixels(Demo.display, Demo.frame);
    HidePointer(Demo.display);
    return StartShow();
}

// Between two rounds, with the display open. False when the show was stopped
// meanwhile, or when the music could not be waited for: its thread keeps its
// signal then.
static bool EndRound() {
    const bool waited = RunPlayOut(Demo.musicEnded, Demo.display);
    if (waited) DestroySignal(Demo.musicEnded);
    Demo.musicEnded = nullptr;
    Demo.musicStarted = false;
    return waited && !StopRequested;
}

static void ShutDown() {
    FreeShow();
    CloseDisplay(Demo.display);
    FreeFrame(Demo.frame);
    // A music thread still opening the card keeps its signal, which it may yet send.
    bool musicDone = RunPlayOut(Demo.musicStarted ? Demo.musicEnded : nullptr);
    if (musicDone) DestroySignal(Demo.musicEnded);
}

// After why a command line is refused, before anything opens.
static int Refuse() {
    std::fputs(UsageLine, stderr);
    return 2;
}

int main(int argc, char** argv) {
    ProgramName = "bumpwave";
    DemoOptions& options = Demo.options;
    KeepStandardStreamsApart();
    // Every message reaches a file or a pipe as it is printed, even when the
    // run is stopped.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    switch (ReadOptions(argc, argv, options)) {
    case ParseResult::Help:
        std::fputs(UsageLine, stdout);
        std::printf(HelpText, DataFoldersInWords().c_str());
        return 0;
    case ParseResult::Version:
        std::printf("%s\n", VersionString + 6);
        return 0;
    case ParseResult::BadNumber:
        if (options.value)
            Complain("%s takes %s, not \"%s\"", options.refused, options.takes, options.value);
        else
            Complain("%s takes %s, and none is given", options.refused, options.takes);
        return Refuse();
    case ParseResult::Unknown:
        Complain("unknown argument \"%s\"", options.refused);
        return Refuse();
    case ParseResult::Run:
        break;
    }
    CatchStopSignals(AskToStop); // before SDL starts, so that SDL leaves them to the demo
    // A run that could not show its visuals is a failure, whatever the music did.
    bool shown = StartUp();
    while (shown) {
        RunFrameLoop(Demo.frame, Demo.display, options.paced ? options.rate : 0, BumpPicture,
                     LogoPicture, options.startMs);
        Complain("bumpwave --seed %u plays this show again", Timeline.seed);
        // Each later round is a new show from its start.
        options.seed.reset();
        options.startMs = 0;
        if (!options.loop || StopRequested || !EndRound()) break;
        shown = StartShow();
    }
    ShutDown();
    // Ended as the signal would have ended it, now that all is closed.
    if (Demo.stopSignal) EndBySignal(Demo.stopSignal);
    return shown ? 0 : 1;
}
