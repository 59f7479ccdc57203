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
// and StartFrames, ReadFrameList and DrawListedFrame for the frames that
// bumpwave-frames draws.
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
#include "tools/arguments.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

static struct {
    Display* display;
    Frame* frame;
    int placed[5]; // PlaceFrame's answer: x, y, width, height, whole scale
    uint8_t captured[FrameWidth * FrameHeight * 4]; // RGBA, as an ImageData holds them
    bool loaded;                                    // loaded ahead for loadedSeed, not yet started
    unsigned loadedSeed;
    std::vector<uint32_t> times; // the frames of ?times and ?save
    std::set<uint64_t> save;
    bool saveAll;
} P;

// The page's music is the worker's (music_worker.cpp) and the worklet's: the
// frame loop's stop fades it out there.
EM_JS(void, FadeMusic, (), { bumpwaveFadeMusic(); });

void StopMusic() {
    FadeMusic();
}

// The canvas and the frame, once.
static bool OpenPageDisplay() {
    if (!P.frame) P.frame = AllocateFrame(FrameWidth, FrameHeight);
    if (!P.frame) {
        std::printf("%s: not enough memory for the frame\n", ProgramName);
        return false;
    }
    if (!P.display) {
        P.display = OpenDisplay(false, false, ProgramName);
        if (!P.display) return false; // the display layer said why
        LendPixels(P.display, P.frame);
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
    if (!LockFrame(P.frame, &locked)) return;
    uint8_t* to = P.captured;
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
    UnlockFrame(P.frame);
}

extern "C" {

// Animation-frame times are milliseconds of the page's clock.
static int64_t PageTime(double ms) {
    return static_cast<int64_t>(ms * 1e6);
}

// Loads a show and starts its visuals at `now`; 0 when a picture could not be
// loaded (its message is on the page). The page starts its music.
EMSCRIPTEN_KEEPALIVE int StartShow(unsigned seed, double now) {
    bool loaded = P.loaded && P.loadedSeed == seed;
    P.loaded = false;
    if (!(loaded ? OpenPageDisplay() : PrepareShow(seed))) return 0;
    StopRequested = 0; // a new show: the last one's stop is done with
    StartFrameLoop(P.frame, P.display, DefaultStepRate, BumpPicture, LogoPicture, PageTime(now));
    return 1;
}

// One display frame of the show at `now`, `playedOut` once the music has
// played to its end or faded out, `musicSeconds` where the music is heard
// (negative while that is not known). Returns the show's phase (ShowPhase).
EMSCRIPTEN_KEEPALIVE int StepShow(double now, int playedOut, double musicSeconds) {
    ShowPhase phase = StepFrameLoop(PageTime(now), playedOut != 0, musicSeconds);
    std::fflush(stdout);
    return static_cast<int>(phase);
}

// The show put at `ms`, drawn: the show time of the step shown, where the
// page's music goes on from.
EMSCRIPTEN_KEEPALIVE uint32_t SeekShowTo(double ms, double now) {
    return SeekShow(static_cast<uint32_t>(std::clamp(ms, 0.0, double{DemoLengthMs})),
                    PageTime(now));
}

// Where a key that moves in the show (as the desktop's TakeShowKey names
// them) takes it, in ms; negative for any other key.
EMSCRIPTEN_KEEPALIVE double SeekTargetOf(int key) {
    return static_cast<double>(SeekTarget(static_cast<char>(key)));
}

// The scenes as the seek bar's chapters: "name first,name first,...".
EMSCRIPTEN_KEEPALIVE const char* SceneList() {
    static std::string list;
    for (const SceneSpan& scene : list.empty() ? Scenes : std::span<const SceneSpan>{})
        list += (list.empty() ? "" : ",") + std::string(scene.name) + " " +
                std::to_string(scene.firstMs);
    return list.c_str();
}

// Stops or resumes the show's clock (a hidden page, or the user's pause); the
// page stops its music.
EMSCRIPTEN_KEEPALIVE void PauseShowAt(int paused, double now) {
    PauseShow(paused != 0, PageTime(now));
}

// The show time of the step on the screen, in seconds.
EMSCRIPTEN_KEEPALIVE double ShowSeconds() {
    return ShownMilliseconds() / 1000.0;
}

// Where the frame goes on an area of `width` × `height` device pixels, by the
// desktop's own rule: the address of x, y, width, height and whole scale.
EMSCRIPTEN_KEEPALIVE int* PlaceFrame(int width, int height) {
    FrameArea area = ScaledFrameArea(width, height);
    P.placed[0] = area.x;
    P.placed[1] = area.y;
    P.placed[2] = area.width;
    P.placed[3] = area.height;
    P.placed[4] = area.wholeScale;
    return P.placed;
}

// The Calm checkbox: the shows and frames that follow flash nothing.
EMSCRIPTEN_KEEPALIVE void SetCalm(int calm) {
    Timeline.calm = calm != 0;
}

// Loads the next show before its click, so that the click only starts it.
EMSCRIPTEN_KEEPALIVE int LoadShowAhead(unsigned seed) {
    P.loaded = LoadShow(seed, Timeline.calm);
    P.loadedSeed = seed;
    std::fflush(stdout);
    return P.loaded;
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
    return PrepareShow(seed);
}

// With `keep`, the frame as drawn is kept in CapturedFrame's pixels: whatever
// the canvas shows, a capture is the frame itself.
EMSCRIPTEN_KEEPALIVE void DrawFrameAt(uint32_t elapsedMs, int keep) {
    AdvanceShow(elapsedMs, DrawShow(P.frame, elapsedMs, BumpPicture, LogoPicture));
    ShowFrame(P.display, P.frame); // before the capture's lock, which forgets the drawn areas
    if (keep) KeepFrame();
}

// ?times and ?save as bumpwave-frames reads --times and --save (`save` null
// to keep every frame): the count of frames to draw, 0 when either is refused.
EMSCRIPTEN_KEEPALIVE uint32_t ReadFrameList(const char* times, const char* save) {
    P.times.clear();
    P.save.clear();
    if (!ReadTimes(times, P.times) || (save && !ReadSave(save, P.save))) {
        std::printf("%s: ?times takes V or VxK items and ?save frame numbers, separated by "
                    "commas, as bumpwave-frames takes them\n",
                    ProgramName);
        P.times.clear();
    }
    P.saveAll = !save;
    std::fflush(stdout);
    return static_cast<uint32_t>(P.times.size());
}

// Frame `index` of the list drawn; 1 when it is kept, for a capture.
EMSCRIPTEN_KEEPALIVE int DrawListedFrame(uint32_t index) {
    const bool keep = P.saveAll || P.save.count(index);
    DrawFrameAt(P.times[index], keep);
    return keep;
}

EMSCRIPTEN_KEEPALIVE uint8_t* CapturedFrame() {
    return P.captured;
}

} // extern "C"

int main() {
    // The page drives everything from here on; the runtime stays.
    return 0;
}
