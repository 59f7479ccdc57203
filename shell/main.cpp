// bumpwave: the main operation. Acquires everything the frame loop needs, in
// order, starts the music, runs the 41 seconds of visuals, then releases what
// it acquired in reverse order, waits for the music to play out, pauses one
// second and returns 0, or 1 when it could not show its visuals.
//
// Escape, q, the window's close button, SIGINT, SIGTERM and SIGHUP end the show at
// once: the visuals stop, the frame-rate line is printed for the frames shown,
// the display closes, the music fades out, and it returns 0 without the pause,
// or after a signal ends by that signal. Space pauses and resumes the show.
//
// Looping, each round is a show of its own, as the first: a new seed, the
// music from its start, the frame-rate line at its end. The display stays
// open while the music plays out and the pause passes, then the next begins.
//
// Standard output carries only the frame-rate line and the loaders' messages;
// failures of the display or the sound card say why on standard error.

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
#include <initializer_list>

// Kept in the binary for `version`-style tools that look for it.
[[gnu::used]] static const char VersionString[] = "$VER: bumpwave " BUMPWAVE_VERSION;
static const char* const Banner =
    "bumpwave " BUMPWAVE_VERSION ": three lights, a plasma and a grid of dots";

// Everything the run acquires; nullptr until it is.
static DemoOptions Demo;
static Signal* MusicEnded;
static Frame* DemoFrame;
static Display* DemoDisplay;
static bool MusicStarted;
static volatile std::sig_atomic_t StopSignal; // the signal that asked to stop, if one did

static void AskToStop(int signal) {
    StopSignal = signal;
    StopRequested = 1;
}

// Installed before SDL starts, so that SDL leaves them to the demo.
static void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = AskToStop;
    sigemptyset(&action.sa_mask);
    // A closed terminal (SIGHUP) ends the show as kill does.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

static bool Fail(const char* reason) {
    Complain("%s", reason);
    return false;
}

// What each show needs of its own: the music's end signal, the pictures and
// the tables, and the music.
static bool StartShow() {
    MusicEnded = CreateSignal();
    if (!MusicEnded) return Fail("no free signal");
    if (!LoadShow(Demo.seed, Demo.calm)) return false; // the show said why
    MusicStarted = StartMusic(MusicEnded);
    if (!MusicStarted) return Fail("cannot start the music thread");
    return true;
}

static bool StartUp() {
    DemoFrame = AllocateFrame(FrameWidth, FrameHeight);
    if (!DemoFrame) return Fail("not enough memory for the frame");
    DemoDisplay = OpenDisplay(!Demo.window, Demo.paced, Banner);
    if (!DemoDisplay) return false; // the display layer said why
    LendPixels(DemoDisplay, DemoFrame);
    HidePointer(DemoDisplay);
    return StartShow();
}

// Between two rounds: the music plays out and the pause passes with the
// display open. False when the show was stopped meanwhile, or when the music
// could not be waited for: its thread keeps its signal then.
static bool EndRound() {
    const bool waited = RunPlayOut(MusicEnded, DemoDisplay);
    if (waited) DestroySignal(MusicEnded);
    MusicEnded = nullptr;
    MusicStarted = false;
    return waited && !StopRequested;
}

static void ShutDown() {
    FreeShow();
    CloseDisplay(DemoDisplay);
    FreeFrame(DemoFrame);
    // The music plays to the end of its file, unless a stop is asked meanwhile.
    // A music thread still opening the card keeps its signal, which it may yet send.
    bool musicDone = RunPlayOut(MusicStarted ? MusicEnded : nullptr);
    if (musicDone) DestroySignal(MusicEnded);
}

// A command line it cannot run: why (said before), and how it is used, before
// anything opens.
static int Refuse() {
    std::fputs(UsageLine, stderr);
    return 2;
}

// How to see this show again: its seed, on standard error beside the frame-rate line.
static void SaySeed() {
    Complain("bumpwave --seed %u plays this show again", Timeline.seed);
}

int main(int argc, char** argv) {
    ProgramName = "bumpwave";
    KeepStandardStreamsApart();
    // Every message reaches a file or a pipe as it is printed, even when the
    // run is stopped.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    switch (ReadOptions(argc, argv, Demo)) {
    case ParseResult::Help:
        std::fputs(UsageLine, stdout);
        std::printf(HelpText, DataFoldersInWords().c_str());
        return 0;
    case ParseResult::Version:
        std::printf("%s\n", VersionString + 6);
        return 0;
    case ParseResult::BadNumber:
        if (Demo.value)
            Complain("%s takes %s, not \"%s\"", Demo.refused, Demo.takes, Demo.value);
        else
            Complain("%s takes %s, and none is given", Demo.refused, Demo.takes);
        return Refuse();
    case ParseResult::Unknown:
        Complain("unknown argument \"%s\"", Demo.refused);
        return Refuse();
    case ParseResult::Run:
        break;
    }
    IgnoreBrokenPipes(); // a closed stdout fails the frame-rate line, not the run
    CatchStopSignals();
    // A run that could not show its visuals is a failure, whatever the music did.
    bool shown = StartUp();
    while (shown) {
        RunFrameLoop(DemoFrame, DemoDisplay, Demo.paced ? Demo.rate : 0, BumpPicture, LogoPicture,
                     Demo.startMs);
        SaySeed();
        // Each later round is a new show from its start.
        Demo.seed.reset();
        Demo.startMs = 0;
        if (!Demo.loop || StopRequested || !EndRound()) break;
        shown = StartShow();
    }
    ShutDown();
    if (StopSignal) {
        // Ended as the signal would have ended it, now that all is closed.
        std::signal(StopSignal, SIG_DFL);
        std::raise(StopSignal);
    }
    return shown ? 0 : 1;
}
