// bumpwave in the browser: the demo's own frame loop and music, driven a step
// at a time by the page's animation callback (page.js), so that nothing ever
// blocks the browser's only thread. The page calls these in turn:
//
//   LoadShowAhead    before the click: the pictures and tables of the next show
//   StartShow        on "Start" (in the click, so that the sound may play)
//   StepShow         once per display frame, with its time, until the show
//                    has ended: the visuals, the music's play-out, the pause
//   StopShow         when the user ends the show early (Escape or q)
//   PauseShowAt      when the page is hidden or shown, or the user pauses
//   PlaceFrame       on every change of the window, for the frame's place
//
// and StartFrames / DrawFrameAt for the frames that bumpwave-frames draws;
// CheckFile tries a file of the user's as soon as it is chosen.
// Each show loads the pictures again from the page's files (the demo's own,
// or the user's), through the demo's own loaders; its music is read by the
// same reader on a worker (music_worker.cpp), and the steps take its blocks.
#include "assets/music.h"
#include "assets/picture.h"
#include "platform/audio.h"
#include "platform/display.h"
#include "platform/frame.h"
#include "platform/layout.h"
#include "shell/frame_loop.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "shell/timeline.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

static const char* const Title = "bumpwave";

static Display* PageDisplay;
static Frame* PageFrame;
static bool MusicOpen;     // opened for the show, not yet closed
static int PlacedFrame[5]; // PlaceFrame's answer: x, y, width, height, whole scale
static uint8_t CapturedPixels[FrameWidth * FrameHeight * 4]; // RGBA, as an ImageData holds them
static bool ShowLoaded; // loaded ahead for LoadedSeed, not yet started
static unsigned LoadedSeed;

// Hands all the music given to the card to the page, as little-endian 16-bit
// samples at the music's own rate and channel count.
EM_JS(void, KeepSamples, (const char* data, int length, int rate, int channels),
      { bumpwaveKeepSamples(HEAPU8.subarray(data, data + length), rate, channels); });

static void KeepSound(const char* data, long bytes, long rate, int channels) {
    KeepSamples(data, static_cast<int>(bytes), static_cast<int>(rate), channels);
}

// The worker's next samples, as ReadMusic gives them (-1 while none has come),
// and its rate and channels at `format`.
EM_JS(int, TakeMusicSamples, (char* buffer, int length, int* format),
      { return bumpwaveTakeMusic(buffer, length, format); });

static long TakeMusic(char* buffer, int length, long* rate, int* channels) {
    int format[2] = {};
    long bytes = TakeMusicSamples(buffer, length, format);
    *rate = format[0];
    *channels = format[1];
    return bytes;
}

// The page handles keys, pointers and resizes itself: SDL would keep the keys
// from the page's buttons after a show, and size the canvas's pixels in CSS
// pixels. Its window stays the frame's size, and so does the canvas.
static void LeaveEventsToPage() {
    const char* const window = EMSCRIPTEN_EVENT_TARGET_WINDOW;
    const char* const document = EMSCRIPTEN_EVENT_TARGET_DOCUMENT;
    emscripten_set_keydown_callback(window, nullptr, 0, nullptr);
    emscripten_set_keyup_callback(window, nullptr, 0, nullptr);
    emscripten_set_keypress_callback(window, nullptr, 0, nullptr);
    emscripten_set_resize_callback(window, nullptr, 0, nullptr);
    emscripten_set_mousedown_callback("#canvas", nullptr, 0, nullptr);
    emscripten_set_mouseup_callback(document, nullptr, 0, nullptr);
    emscripten_set_wheel_callback("#canvas", nullptr, 0, nullptr);
    emscripten_set_touchstart_callback("#canvas", nullptr, 0, nullptr);
    emscripten_set_touchend_callback("#canvas", nullptr, 0, nullptr);
    emscripten_set_touchmove_callback("#canvas", nullptr, 0, nullptr);
    emscripten_set_touchcancel_callback("#canvas", nullptr, 0, nullptr);
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
        LeaveEventsToPage();
    }
    return true;
}

// The canvas and the frame once; the pictures and the tables every show.
static bool PrepareShow(unsigned seed) {
    std::fflush(stdout);
    if (!OpenPageDisplay()) return false;
    bool loaded = LoadShow(seed, Timeline.calm); // its messages go to the page
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

// Loads a show and starts its music and visuals at `now`; 0 when a picture
// could not be loaded (its message is on the page). `keepSound` hands every
// block of music to the page as well.
EMSCRIPTEN_KEEPALIVE int StartShow(unsigned seed, int keepSound, double now) {
    bool loaded = ShowLoaded && LoadedSeed == seed;
    ShowLoaded = false;
    if (!(loaded ? OpenPageDisplay() : PrepareShow(seed))) return 0;
    MusicListener = keepSound ? KeepSound : nullptr;
    OpenMusic(TakeMusic); // without music the visuals run alone, as on the desktop
    std::fflush(stdout);
    StopRequested = 0; // a new show: the last one's stop is done with
    StartFrameLoop(PageFrame, PageDisplay, DefaultStepRate, BumpPicture, LogoPicture,
                   PageTime(now));
    MusicOpen = true;
    return 1;
}

// One display frame of the show at `now`: the music is topped up, then the
// show takes its turn. Returns the show's phase (ShowPhase) afterwards.
EMSCRIPTEN_KEEPALIVE int StepShow(double now) {
    bool playedOut = true;
    if (MusicOpen) {
        // A faded music is over whatever it had yet to hand over.
        bool more = StepMusic(TakeMusic);
        playedOut = MusicPlayedOut() && (!more || StopRequested);
    }
    ShowPhase phase = StepFrameLoop(PageTime(now), playedOut);
    if (MusicOpen && phase >= ShowPhase::Pause) {
        CloseMusic();
        MusicOpen = false;
    }
    std::fflush(stdout);
    return static_cast<int>(phase);
}

// Stops or resumes the show's clock and its music together (a hidden page, or
// the user's pause).
EMSCRIPTEN_KEEPALIVE void PauseShowAt(int paused, double now) {
    PauseShow(paused != 0, PageTime(now));
    if (MusicOpen) PauseMusic(paused != 0);
}

// The show time of the last step taken, in seconds.
EMSCRIPTEN_KEEPALIVE double ShowSeconds() {
    uint32_t steps = StepsTaken();
    return steps ? StepMilliseconds(steps - 1, DefaultStepRate) / 1000.0 : 0;
}

// Seconds of music the sound card has played in this show.
EMSCRIPTEN_KEEPALIVE double MusicPlayedSeconds() {
    return SoundSecondsPlayed();
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
    Timeline.calm = calm != 0;
}

// Loads the next show before its click, so that the click only starts it.
EMSCRIPTEN_KEEPALIVE int LoadShowAhead(unsigned seed) {
    ShowLoaded = LoadShow(seed, Timeline.calm);
    LoadedSeed = seed;
    std::fflush(stdout);
    return ShowLoaded;
}

enum FileKind { BumpFile, LogoFile, MusicFile };
constexpr const char* CheckFolder = "/check"; // where the page puts a file to check

// Whether the music has a stream the demo can play: the reader skips the
// others, each with a line saying why.
static int CheckMusic() {
    static char buffer[8192];
    long rate;
    int channels;
    if (!OpenMusicFile()) return 0;
    long bytes = ReadMusic(buffer, sizeof buffer, &rate, &channels);
    CloseMusicFile();
    return bytes > 0;
}

// Runs the demo's own loader over the file of `kind` the page put in
// CheckFolder, under the demo's name: 1 when a show can use it, else 0, with
// the loader's messages said as a show would say them.
EMSCRIPTEN_KEEPALIVE int CheckFile(int kind) {
    if (chdir(CheckFolder) != 0) return 0;
    int usable = 0;
    if (kind == MusicFile) {
        usable = CheckMusic();
    } else {
        uint32_t* picture = nullptr;
        usable = LoadPicture(kind == BumpFile ? BumpPictureName : LogoPictureName, &picture);
        std::free(picture);
    }
    std::fflush(stdout);
    return chdir("/") == 0 && usable;
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
    return PrepareShow(seed);
}

// With `keep`, the frame as drawn is kept in CapturedFrame's pixels: whatever
// the canvas shows, a capture is the frame itself.
EMSCRIPTEN_KEEPALIVE void DrawFrameAt(uint32_t elapsedMs, int keep) {
    AdvanceShow(elapsedMs, DrawShow(PageFrame, elapsedMs, BumpPicture, LogoPicture));
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
