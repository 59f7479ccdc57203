// bumpwave in the browser: the demo's own frame loop and music, driven a step
// at a time by the page's animation callback (page.js), so that nothing ever
// blocks the browser's only thread. The page calls these in turn:
//
//   LoadShowAhead    before the click: the pictures and tables of the next show
//   StartShow        on "Start"
//   StepShow         once per display frame, with its time, until the show
//                    has ended: the visuals, the wait for the music, the pause
//   StopShow         when the user ends the show early (Escape or q)
//   PauseShowAt      when the page is hidden or shown, or the user pauses
//   PlaceFrame       on every change of the window, for the frame's place
//
// and StartFrames / DrawFrameAt for the frames that bumpwave-frames draws.
// Each show loads the pictures again from the page's files (the demo's own,
// or the user's, placed by PlacePictures), through the demo's own loaders; its
// music is pumped on a worker (music_worker.cpp) into the page's AudioWorklet.
#include "assets/music.h"
#include "assets/picture.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "platform/layout.h"
#include "shell/frame_loop.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "shell/timeline.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

static const char* const Title = "bumpwave";

static Display* PageDisplay;
static Frame* PageFrame;
static int PlacedFrame[5]; // PlaceFrame's answer: x, y, width, height, whole scale
static uint8_t CapturedPixels[FrameWidth * FrameHeight * 4]; // RGBA, as an ImageData holds them
static bool ShowLoaded; // loaded ahead for LoadedSeed, not yet started
static unsigned LoadedSeed;

// The page's music is the worker's (music_worker.cpp) and the worklet's: the
// frame loop's stop fades it out there.
EM_JS(void, FadeMusic, (), { bumpwaveFadeMusic(); });

void StopMusic() {
    FadeMusic();
}

// The canvas and the frame, once.
static bool OpenPageDisplay() {
    if (!PageFrame) PageFrame = AllocateFrame(FrameWidth, FrameHeight);
    if (!PageFrame) {
        std::printf("bumpwave: not enough memory for the frame\n");
        return false;
    }
    if (!PageDisplay) {
        PageDisplay = OpenDisplay(false, false, Title);
        if (!PageDisplay) return false; // the display layer said why
        LendPixels(PageDisplay, PageFrame);
    }
    return true;
}

// The canvas and the frame once; the pictures and the tables every show.
static bool PrepareShow(unsigned seed) {
    std::fflush(stdout);
    if (!OpenPageDisplay()) return false;
    bool loaded = LoadShow(seed); // its messages go to the page
    std::fflush(stdout);
    return loaded;
}

// The frame's 0x00RRGGBB words as opaque RGBA bytes.
static void KeepFrame() {
    LockedFrame locked;
    if (!LockFrame(PageFrame, &locked)) return;
    uint8_t* to = CapturedPixels;
    for (int y = 0; y < FrameHeight; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(
            reinterpret_cast<const char*>(locked.memory) + y * locked.bytesPerRow);
        for (int x = 0; x < FrameWidth; ++x, to += 4) {
            to[0] = static_cast<uint8_t>(row[x] >> 16);
            to[1] = static_cast<uint8_t>(row[x] >> 8);
            to[2] = static_cast<uint8_t>(row[x]);
            to[3] = 0xFF;
        }
    }
    UnlockFrame(PageFrame);
}

extern "C" {

// Animation-frame times are milliseconds of the page's clock.
static int64_t PageTime(double ms) {
    return static_cast<int64_t>(ms * 1e6);
}

// Loads a show and starts its visuals at `now`; 0 when a picture could not be
// loaded (its message is on the page). The page starts its music.
EMSCRIPTEN_KEEPALIVE int StartShow(unsigned seed, double now) {
    bool loaded = ShowLoaded && LoadedSeed == seed;
    ShowLoaded = false;
    if (!(loaded ? OpenPageDisplay() : PrepareShow(seed))) return 0;
    StopRequested = 0; // a new show: the last one's stop is done with
    StartFrameLoop(PageFrame, PageDisplay, DefaultStepRate, BumpPicture, LogoPicture,
                   PageTime(now));
    return 1;
}

// One display frame of the show at `now`, `playedOut` once the music has
// played to its end or faded out. Returns the show's phase (ShowPhase).
EMSCRIPTEN_KEEPALIVE int StepShow(double now, int playedOut) {
    ShowPhase phase = StepFrameLoop(PageTime(now), playedOut != 0);
    std::fflush(stdout);
    return static_cast<int>(phase);
}

// Stops or resumes the show's clock (a hidden page, or the user's pause); the
// page stops its music.
EMSCRIPTEN_KEEPALIVE void PauseShowAt(int paused, double now) {
    PauseShow(paused != 0, PageTime(now));
}

// The show time of the last step taken, in seconds.
EMSCRIPTEN_KEEPALIVE double ShowSeconds() {
    uint32_t steps = StepsTaken();
    return steps ? StepMilliseconds(steps - 1, DefaultStepRate) / 1000.0 : 0;
}

// Where the frame goes on an area of `width` × `height` device pixels, by the
// desktop's own rule: the address of x, y, width, height and whole scale.
EMSCRIPTEN_KEEPALIVE int* PlaceFrame(int width, int height) {
    FrameArea area = ScaledFrameArea(width, height);
    PlacedFrame[0] = area.x;
    PlacedFrame[1] = area.y;
    PlacedFrame[2] = area.width;
    PlacedFrame[3] = area.height;
    PlacedFrame[4] = area.wholeScale;
    return PlacedFrame;
}

// The Calm checkbox: the shows and frames that follow flash nothing.
EMSCRIPTEN_KEEPALIVE void SetCalm(int calm) {
    CalmShow = calm != 0;
}

// Loads the next show before its click, so that the click only starts it.
EMSCRIPTEN_KEEPALIVE int LoadShowAhead(unsigned seed) {
    ShowLoaded = LoadShow(seed);
    LoadedSeed = seed;
    std::fflush(stdout);
    return ShowLoaded;
}

// The user's pictures where the show's loaders look, else the demo's own:
// the page keeps the user's at /user/0 (the bump picture) and /user/1.
EMSCRIPTEN_KEEPALIVE void PlacePictures() {
    const char* const names[] = {BumpPictureName, LogoPictureName};
    for (int kind = 0; kind < 2; ++kind) {
        const std::string user = "/user/" + std::to_string(kind);
        const std::string own = std::string("/defaults/") + names[kind];
        unlink(names[kind]);
        if (symlink(access(user.c_str(), F_OK) == 0 ? user.c_str() : own.c_str(), names[kind]) != 0)
            std::printf("%s: cannot place %s\n", ProgramName, names[kind]);
    }
}

// Ends the show as the desktop's stop keys do.
EMSCRIPTEN_KEEPALIVE void StopShow() {
    StopRequested = 1;
}

EMSCRIPTEN_KEEPALIVE uint32_t FramesShown() {
    return FrameCount;
}

EMSCRIPTEN_KEEPALIVE double FrameRate() {
    return static_cast<double>(FramesPerSecond);
}

// As bumpwave-frames: one frame that persists from one time to the next.
EMSCRIPTEN_KEEPALIVE int StartFrames(unsigned seed) {
    if (!PrepareShow(seed)) return 0;
    ResetTimeline();
    return 1;
}

// With `keep`, the frame as drawn is kept in CapturedFrame's pixels: whatever
// the canvas shows, a capture is the frame itself.
EMSCRIPTEN_KEEPALIVE void DrawFrameAt(uint32_t elapsedMs, int keep) {
    RenderScene(PageFrame, elapsedMs, BumpPicture, LogoPicture);
    ShowFrame(PageDisplay, PageFrame); // before the capture's lock, which forgets the drawn areas
    if (keep) KeepFrame();
}

EMSCRIPTEN_KEEPALIVE uint8_t* CapturedFrame() {
    return CapturedPixels;
}

} // extern "C"

int main() {
    // The page drives everything from here on; the runtime stays.
    return 0;
}
