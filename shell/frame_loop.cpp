#include "shell/frame_loop.h"

#include "assets/music.h"
#include "platform/files.h"
#include "shell/pacing.h"
#include "shell/timeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

uint32_t FrameCount;
float FramesPerSecond;
volatile std::sig_atomic_t StopRequested;

// The show in progress; zero before the first.
static struct {
    Frame* frame;
    Display* display;
    const uint32_t* bump;
    const uint32_t* logo;
    int stepRate; // 0: unpaced
    ShowPhase phase;
    int64_t start;    // the clock's time at show time 0, moved on by each pause and seek
    int64_t pausedAt; // while paused: when the clock stopped
    bool paused;
    uint32_t steps;   // steps taken, shown or not
    uint32_t dropped; // steps taken but not shown
    int64_t moved;    // how far seeks and the music have moved the show's time
    double music;     // the music's place at the last turn, negative when not known
    uint32_t shownMs; // the show time of the step on the screen
    bool stopped;     // the show ended on a stop: no pause
    int64_t pauseEnd; // the clock's time at which the pause is over
} Loop;

// Drift between picture and music that is left alone: less than a frame of
// most displays is never seen, and the music's place comes in the card's steps.
constexpr int64_t MusicDriftNs = 40 * NanosecondsPerMillisecond;

void StartFrameLoop(Frame* frame, Display* display, int stepRate, const uint32_t* bumpPicture,
                    const uint32_t* logoPicture, int64_t now) {
    Loop = {};
    Loop.frame = frame;
    Loop.display = display;
    Loop.bump = bumpPicture;
    Loop.logo = logoPicture;
    Loop.stepRate = stepRate;
    Loop.phase = ShowPhase::Visuals;
    Loop.start = now;
    Loop.music = -1;
    FrameCount = 0;
    FramesPerSecond = 0;
    PlaceShow(0, stepRate);
}

void PauseShow(bool paused, int64_t now) {
    if (paused == Loop.paused) return;
    if (paused)
        Loop.pausedAt = now;
    else
        Loop.start += now - Loop.pausedAt;
    Loop.paused = paused;
}

bool ShowPaused() {
    return Loop.paused;
}

uint32_t StepsTaken() {
    return Loop.steps;
}

static int64_t ShowTime(int64_t now) {
    return (Loop.paused ? Loop.pausedAt : now) - Loop.start;
}

// Moves the show's time by `shift` without a jump of the wall clock.
static void MoveShowTime(int64_t shift) {
    Loop.start -= shift;
    Loop.moved += shift;
}

static uint32_t Milliseconds(int64_t showTime) {
    return static_cast<uint32_t>(
        std::clamp<int64_t>(showTime / NanosecondsPerMillisecond, 0, UINT32_MAX));
}

uint32_t ShownMilliseconds() {
    return Loop.shownMs;
}

// Draws step `ms`, shows it and counts it.
static void DrawStep(uint32_t ms) {
    AdvanceShow(ms, DrawShow(Loop.frame, ms, Loop.bump, Loop.logo));
    Loop.shownMs = ms;
    ShowFrame(Loop.display, Loop.frame);
    if (TakeEvents(Loop.display)) StopRequested = 1;
    ++Loop.steps;
    ++FrameCount;
}

// The frame rate over the time the visuals ran, `showMs` less what seeks and
// the music moved; the line, and the steps that were not shown.
static void EndVisuals(uint32_t showMs) {
    const int64_t ranMs = int64_t{showMs} - Loop.moved / NanosecondsPerMillisecond;
    const auto ms = static_cast<uint32_t>(std::clamp<int64_t>(ranMs, 1, UINT32_MAX));
    // Single precision, as the line has always printed it; stopped before its
    // first frame, it showed none.
    FramesPerSecond =
        FrameCount ? static_cast<float>(FrameCount) / (static_cast<float>(ms) / 1000.0f) : 0;
    std::printf("\n%d * %d * 32 @ %g FPS\n", FrameWidth, FrameHeight,
                static_cast<double>(FramesPerSecond));
    std::fflush(stdout);
    // A few steps of a refresh's jitter, or of the music's moves, are not a
    // display that could not keep up.
    const uint32_t taken = FrameCount + Loop.dropped;
    const uint64_t showSteps = Loop.stepRate ? StepsBefore(DemoLengthMs, Loop.stepRate) : 0;
    if (uint64_t{Loop.dropped} * 100 > uint64_t{QuietDropPercent} * showSteps)
        Complain("%u of %u steps shown: the display could not keep up", FrameCount, taken);
    Loop.phase = ShowPhase::PlayOut;
}

// One step per frame at the clock's time; the first frame is not timed: it
// is always the lights.
static void StepUnpaced(int64_t now) {
    const uint32_t ms = FrameCount ? Milliseconds(ShowTime(now)) : 0;
    if (ms >= DemoLengthMs || StopRequested) return EndVisuals(ms);
    if (!Loop.paused) DrawStep(ms); // paused, nothing moves
}

// While the music moves, the show's time is where the music is heard: a stall
// of either leaves them together.
static void FollowMusic(int64_t now, double musicSeconds) {
    const bool moving = musicSeconds >= 0 && Loop.music >= 0 && musicSeconds != Loop.music;
    Loop.music = Loop.paused ? -1 : musicSeconds;
    if (!moving || Loop.paused) return;
    const int64_t drift = static_cast<int64_t>(musicSeconds * NanosecondsPerSecond) - ShowTime(now);
    if (drift > MusicDriftNs || drift < -MusicDriftNs) MoveShowTime(drift);
}

static void StepPaced(int64_t now, double musicSeconds) {
    const int rate = Loop.stepRate;
    FollowMusic(now, musicSeconds);
    const int64_t showTime = ShowTime(now);
    // A step falling due as the show stops was never meant to be shown.
    if (StopRequested) return EndVisuals(std::min(Milliseconds(showTime), DemoLengthMs));
    // The first step at or past the end is the end of the show's time.
    const uint32_t last = StepsBefore(DemoLengthMs, rate);
    const uint32_t due = StepsDue(showTime, rate);
    if (due > last) {
        // Steps that fell due in this late frame were not shown either.
        if (last > Loop.steps) Loop.dropped += last - Loop.steps, Loop.steps = last;
        return EndVisuals(std::min(Milliseconds(showTime), DemoLengthMs));
    }
    if (due <= Loop.steps) return; // nothing due yet
    for (; Loop.steps + 1 < due; ++Loop.steps, ++Loop.dropped)
        AdvanceShow(StepMilliseconds(Loop.steps, rate));
    DrawStep(StepMilliseconds(Loop.steps, rate));
}

int64_t SeekTarget(char key) {
    const int64_t shown = Loop.shownMs, rate = Loop.stepRate;
    if (!rate) return -1;
    if (key >= '0' && key <= '9') return (key - '0') * int64_t{DemoLengthMs} / 10;
    if (key == 'H') return 0;
    if (key == 'L' || key == 'R') return std::max<int64_t>(0, shown + (key == 'L' ? -5000 : 5000));
    if (!Loop.paused || (key != ',' && key != '.')) return -1;
    const int64_t step =
        StepAt(static_cast<uint32_t>(shown), Loop.stepRate) + (key == '.' ? 1 : -1);
    return step < 0 ? 0 : StepMilliseconds(static_cast<uint32_t>(step), Loop.stepRate);
}

uint32_t SeekShow(uint32_t ms, int64_t now) {
    const int rate = Loop.stepRate ? Loop.stepRate : DefaultStepRate;
    const uint32_t last = StepsBefore(DemoLengthMs, rate);
    // The last step at or before the moment; past the visuals, their end.
    const uint32_t step = ms >= DemoLengthMs ? last : StepAt(ms, rate);
    const uint32_t at = step < last ? StepMilliseconds(step, rate) : ms;
    MoveShowTime(int64_t{at} * NanosecondsPerMillisecond - ShowTime(now));
    Loop.music = -1;
    if (step < last) {
        PlaceShow(step, rate);
        Loop.steps = step;
        DrawStep(at);
    }
    return at;
}

ShowPhase StepFrameLoop(int64_t now, bool musicPlayedOut, double musicSeconds) {
    switch (Loop.phase) {
    case ShowPhase::Idle:
    case ShowPhase::Ended:
        break;
    case ShowPhase::Visuals:
        if (Loop.stepRate)
            StepPaced(now, musicSeconds);
        else
            StepUnpaced(now);
        if (Loop.phase != ShowPhase::PlayOut) break;
        [[fallthrough]];
    case ShowPhase::PlayOut:
        if (StopRequested && !Loop.stopped) {
            StopMusic(); // a fade: played out within a few hundredths of a second
            Loop.stopped = true;
        }
        if (!musicPlayedOut) break;
        Loop.phase = Loop.stopped ? ShowPhase::Ended : ShowPhase::Pause;
        Loop.pauseEnd = now + int64_t{PauseAfterMusicMs} * NanosecondsPerMillisecond;
        break;
    case ShowPhase::Pause:
        if (StopRequested || now >= Loop.pauseEnd) Loop.phase = ShowPhase::Ended;
        break;
    }
    return Loop.phase;
}

int64_t NextTurnAt(int64_t now) {
    if (Loop.phase == ShowPhase::Pause) return Loop.pauseEnd;
    if (Loop.phase != ShowPhase::Visuals) return now;
    // Paused, a turn a step period apart reads the keys without spinning.
    if (Loop.paused)
        return now + NanosecondsPerSecond / (Loop.stepRate ? Loop.stepRate : DefaultStepRate);
    if (!Loop.stepRate) return now;
    return Loop.start + StepDueAt(Loop.steps, Loop.stepRate);
}

// Picture and music stop and go on together.
static void PauseAll(bool paused) {
    PauseShow(paused, ClockNanoseconds());
    PauseMusic(paused);
}

// Picture and music to show time `ms` together.
static void SeekAll(int64_t ms) {
    ms = std::clamp<int64_t>(ms, 0, DemoLengthMs);
    SeekMusic(SeekShow(static_cast<uint32_t>(ms), ClockNanoseconds()) / 1000.0);
}

// The keys that move in the show; seeking is for a paced show.
static void TakeKeys() {
    if (Loop.paused && TakeEvents(Loop.display)) StopRequested = 1;
    for (char key; (key = TakeShowKey(Loop.display));) {
        if (key == ' ') PauseAll(!Loop.paused);
        if (const int64_t to = SeekTarget(key); to >= 0) SeekAll(to);
    }
}

const char* ShowClock() {
    static char clock[32];
    const uint32_t s = ShownMilliseconds() / 1000;
    std::snprintf(clock, sizeof clock, "%u:%02u / %u:%02u", s / 60, s % 60, DemoLengthMs / 60000,
                  DemoLengthMs / 1000 % 60);
    return clock;
}

// "bumpwave 0:12 / 0:41", and "paused" while it is: said again when it changes.
static void SayTime(char (&said)[64]) {
    char title[64];
    std::snprintf(title, sizeof title, "%s %s%s", ProgramName, ShowClock(),
                  Loop.paused ? " paused" : "");
    if (std::strcmp(title, said) == 0) return;
    std::memcpy(said, title, sizeof title);
    SetTitle(Loop.display, title);
}

void RunFrameLoop(Frame* frame, Display* display, int stepRate, const uint32_t* bumpPicture,
                  const uint32_t* logoPicture, uint32_t startMs) {
    StartFrameLoop(frame, display, stepRate, bumpPicture, logoPicture, ClockNanoseconds());
    while (TakeShowKey(display)) {
    } // pressed before this show: not for it
    if (startMs) SeekAll(startMs);
    char said[64] = "";
    while (StepFrameLoop(ClockNanoseconds(), false, MusicPlace()) == ShowPhase::Visuals) {
        TakeKeys();
        SayTime(said);
        SleepUntil(NextTurnAt(ClockNanoseconds()));
    }
    // Stopped while paused: the music goes on, to fade out.
    if (Loop.paused) PauseAll(false);
}

// Between the rounds of a looping show the display stays open: its stop keys
// still count.
static void TakeStopKeys() {
    if (Loop.display && TakeEvents(Loop.display)) StopRequested = 1;
}

bool RunPlayOut(Signal* musicEnded, Display* display) {
    Loop.display = display;
    // The music thread plays on by itself; its end signal is the play-out's end.
    bool waited = !musicEnded || WaitForMusic(musicEnded, StopRequested, TakeStopKeys);
    if (Loop.phase == ShowPhase::Idle)
        Loop.phase = ShowPhase::PlayOut; // no show: the pause all the same
    // Short turns, so that a key or a signal ends the pause at once.
    constexpr int64_t KeyInterval = NanosecondsPerSecond / DefaultStepRate;
    while (StepFrameLoop(ClockNanoseconds(), true) != ShowPhase::Ended) {
        TakeStopKeys();
        const int64_t now = ClockNanoseconds();
        SleepUntil(std::min(NextTurnAt(now), now + KeyInterval));
    }
    Loop.display = nullptr;
    return waited;
}
