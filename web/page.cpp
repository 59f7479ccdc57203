// bumpwave in the browser: the demo's own frame loop and music, driven a step
// at a time by the page's animation callback (page.js), so that nothing ever
// blocks the browser's only thread. The page calls these in turn:
//
//   StartShow        on "Start" (in the click, so that the sound may play)
//   StepShow         once per display frame while the visuals run
//   StepPlayOut      once per display frame while the music plays out
//   StopShow         when the user ends the show early (Escape, or the demo's
//                    own stop key, which ShowStopped reports)
//
// and StartFrames / DrawFrameAt for the frames that bumpwave-frames draws.
// Each show loads the pictures and the music again from the page's files
// (the demo's own, or the user's), through the demo's own loaders.
#include "assets/music.h"
#include "assets/picture.h"
#include "effects/tables.h"
#include "platform/display.h"
#include "platform/frame.h"
#include "shell/frame_loop.h"
#include "shell/timeline.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>

static const char* const Title = "bumpwave";

static Display* PageDisplay;
static Frame* PageFrame;
static uint32_t* BumpPicture;
static uint32_t* LogoPicture;

// Hands all the music given to the card to the page, as little-endian 16-bit
// samples at the music's own rate and channel count.
EM_JS(void, KeepSamples, (const char* data, int length, int rate, int channels),
      { bumpwaveKeepSamples(HEAPU8.subarray(data, data + length), rate, channels); });

static void KeepSound(const char* data, long bytes, long rate, int channels) {
    KeepSamples(data, static_cast<int>(bytes), static_cast<int>(rate), channels);
}

static void FreePictures() {
    std::free(BumpPicture);
    std::free(LogoPicture);
    BumpPicture = LogoPicture = nullptr;
    FreeWaveTables();
}

// The canvas and the frame once; the pictures and the tables every show.
static bool LoadShow(unsigned seed) {
    std::fflush(stdout);
    FreePictures();
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
    // The loader prints its own messages, on the page; the second picture is
    // not tried after the first has failed.
    bool loaded = LoadPicture("bumpmap.png", &BumpPicture) && LoadPicture("boys.jpg", &LogoPicture);
    if (loaded && !InitEffects(seed)) {
        std::printf("bumpwave: not enough memory for the tables\n");
        loaded = false;
    }
    std::fflush(stdout);
    return loaded;
}

extern "C" {

// Loads a show and starts its music and visuals; 0 when a picture could not
// be loaded (its message is on the page). `keepSound` hands every block of
// music to the page as well.
EMSCRIPTEN_KEEPALIVE int StartShow(unsigned seed, int keepSound) {
    if (!LoadShow(seed)) return 0;
    MusicListener = keepSound ? KeepSound : nullptr;
    OpenMusic(); // without music the visuals run alone, as on the desktop
    std::fflush(stdout);
    StopRequested = 0; // a new show: the last one's stop is done with
    StartFrameLoop(PageFrame, PageDisplay, BumpPicture, LogoPicture);
    return 1;
}

// One display frame of the show: the music is topped up, then the frame of
// the time since the start is drawn and shown. 0 once the visuals are over:
// the frame-rate line is then printed.
EMSCRIPTEN_KEEPALIVE int StepShow() {
    StepMusic();
    int running = StepFrameLoop();
    std::fflush(stdout);
    return running;
}

// Whether the show's visuals ended on a stop key the demo itself reads (q).
EMSCRIPTEN_KEEPALIVE int ShowStopped() {
    return StopRequested ? 1 : 0;
}

// One display frame of the music playing out; 0 once it has, and the card is closed.
EMSCRIPTEN_KEEPALIVE int StepPlayOut() {
    if (StepMusic() || !MusicPlayedOut()) return 1;
    CloseMusic();
    return 0;
}

// Without threads the card closes at once, with what it still holds.
EMSCRIPTEN_KEEPALIVE void StopShow() {
    CloseMusic();
}

EMSCRIPTEN_KEEPALIVE uint32_t FramesShown() {
    return FrameCount;
}

EMSCRIPTEN_KEEPALIVE double FrameRate() {
    return static_cast<double>(FramesPerSecond);
}

// As bumpwave-frames: one frame that persists from one time to the next.
EMSCRIPTEN_KEEPALIVE int StartFrames(unsigned seed) {
    if (!LoadShow(seed)) return 0;
    ResetTimeline();
    return 1;
}

EMSCRIPTEN_KEEPALIVE void DrawFrameAt(uint32_t elapsedMs) {
    RenderScene(PageFrame, elapsedMs, BumpPicture, LogoPicture);
    ShowFrame(PageDisplay, PageFrame);
}

} // extern "C"

int main() {
    // The page drives everything from here on; the runtime stays.
    return 0;
}
