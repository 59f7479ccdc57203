// bumpwave in the browser: the demo's own frame loop, a step per animation
// frame of the page (page.js), so that nothing blocks the browser's only
// thread; and the frames bumpwave-frames draws, for ?times. The music is the
// worker's (music_worker.cpp).
#include "assets/picture.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/layout.h"
#include "shell/frame_loop.h"
#include "shell/main_options.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "tools/arguments.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

static struct {
    Display* display;
    Frame* frame;
    int placed[5];                // PlaceFrame's answer: x, y, width, height, whole scale
    bool loaded;                  // the next show, loaded before its click
    std::optional<unsigned> seed; // ?seed; the clock's without one
    uint32_t startMs;             // ?t, for the first show only
    std::vector<uint32_t> times;  // the frames of ?times and ?save
    std::set<uint64_t> save;
} P;

// The page's music is the worker's and the worklet's: a stop fades it there,
// and the worker reads no more.
void StopMusic() {
    EM_ASM({
        if (page.node) page.node.port.postMessage("fade");
        page.worker.postMessage({stop : true});
    });
}

// The user's pictures (/user/bump and /user/logo) where the loaders look, else
// the demo's own; the canvas and the frame once; the show's pictures and tables.
static bool LoadPageShow() {
    for (auto [kind, name] : {std::pair{"bump", BumpPictureName}, {"logo", LogoPictureName}}) {
        const std::string user = std::string("/user/") + kind;
        const std::string own = std::string("/defaults/") + name;
        unlink(name);
        if (symlink(access(user.c_str(), F_OK) == 0 ? user.c_str() : own.c_str(), name) != 0)
            Complain("cannot place %s", name);
    }
    if (!P.frame && !(P.frame = AllocateFrame(FrameWidth, FrameHeight)))
        Complain("not enough memory for the frame");
    if (P.frame && !P.display) P.display = OpenDisplay(false, false, ProgramName);
    const bool loaded = P.display && LoadShow(P.seed, Timeline.calm);
    std::fflush(stdout);
    return loaded;
}

// Animation-frame times are milliseconds of the page's clock.
static int64_t PageTime(double ms) {
    return static_cast<int64_t>(ms * 1e6);
}

extern "C" {

// ?seed and ?t as the demo takes --seed and --start, each refused value said;
// false when the seed is refused.
EMSCRIPTEN_KEEPALIVE int ReadAddress(const char* seed, const char* start) {
    DemoOptions read[2] = {};
    const char* const keys[] = {"seed", "t"};
    const char* const values[] = {seed, start};
    bool taken[2];
    for (int i = 0; i < 2; ++i) {
        const char* const words[] = {ProgramName, i ? "--start" : "--seed", values[i]};
        taken[i] = !values[i] || ReadOptions(3, words, read[i]) == ParseResult::Run;
        if (!taken[i])
            std::printf("?%s=%s is refused: it takes %s\n", keys[i], values[i], read[i].takes);
    }
    P.seed = read[0].seed;
    P.startMs = read[1].startMs;
    std::fflush(stdout);
    return taken[0];
}

// Loads the next show before its click, so that the click only starts it.
EMSCRIPTEN_KEEPALIVE void LoadShowAhead() {
    P.loaded = LoadPageShow();
}

// Starts a show at `now`, calm or not, from ?t the first time: its seed, or -1
// when a picture could not be loaded (its message is on the page). The page
// starts its music where the show is (ShowSeconds).
EMSCRIPTEN_KEEPALIVE double StartShow(int calm, double now) {
    if (!std::exchange(P.loaded, false) && !LoadPageShow()) return -1;
    Timeline.calm = calm != 0;
    StopRequested = 0; // a new show: the last one's stop is done with
    StartFrameLoop(P.frame, P.display, DefaultStepRate, BumpPicture, LogoPicture, PageTime(now));
    if (P.startMs) SeekShow(std::exchange(P.startMs, 0), PageTime(now));
    return Timeline.seed;
}

// One display frame of the show at `now`, `playedOut` once the music has
// played to its end or faded out, `musicSeconds` where the music is heard
// (negative while that is not known). Returns the show's phase as the page
// names it (window.bumpwave.state).
EMSCRIPTEN_KEEPALIVE const char* StepShow(double now, int playedOut, double musicSeconds) {
    static const char* const States[] = {"start", "running", "music", "music", "ended"};
    const ShowPhase phase = StepFrameLoop(PageTime(now), playedOut != 0, musicSeconds);
    std::fflush(stdout);
    return States[static_cast<int>(phase)];
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

// The same as the time beside the seek bar ("0:12 / 0:41"), and the bar's end.
EMSCRIPTEN_KEEPALIVE const char* ShowClockText() {
    return ShowClock();
}
EMSCRIPTEN_KEEPALIVE int ShowLengthMs() {
    return static_cast<int>(DemoLengthMs);
}

// Where the frame goes on an area of `width` × `height` device pixels, by the
// desktop's own rule: the address of x, y, width, height and whole scale.
EMSCRIPTEN_KEEPALIVE int* PlaceFrame(int width, int height) {
    const FrameArea area = ScaledFrameArea(width, height);
    const int placed[] = {area.x, area.y, area.width, area.height, area.wholeScale};
    std::copy_n(placed, 5, P.placed);
    return P.placed;
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

// ?times and ?save as bumpwave-frames reads --times and --save (`save` null to
// keep every frame): the count of frames to draw, 0 when either is refused or
// the pictures could not be loaded.
EMSCRIPTEN_KEEPALIVE uint32_t StartFrames(const char* times, const char* save) {
    P.times.clear();
    P.save.clear();
    if (!ReadTimes(times, P.times) || (save && !ReadSave(save, P.save))) {
        std::printf("?times takes V or VxK items and ?save frame numbers, separated by commas, "
                    "as bumpwave-frames takes them\n");
        P.times.clear();
    }
    return !P.times.empty() && LoadPageShow() ? static_cast<uint32_t>(P.times.size()) : 0;
}

// Frame `index` of the list drawn and shown, one that persists from one time
// to the next as bumpwave-frames draws; 1 when it is to be kept (every frame
// without ?save, which is never empty).
EMSCRIPTEN_KEEPALIVE int DrawListedFrame(uint32_t index) {
    const uint32_t ms = P.times[index];
    AdvanceShow(ms, DrawShow(P.frame, ms, BumpPicture, LogoPicture));
    ShowFrame(P.display, P.frame);
    return P.save.empty() || P.save.count(index);
}

} // extern "C"

int main() {
    return 0; // the page drives everything from here on; the runtime stays
}
