#include "shell/frame_loop.h"

#include "assets/music.h"
#include "platform/files.h"
#include "shell/pacing.h"
#include "shell/timeline.h"

#include <algorithm>
#include <cstdio>

uint32_t FrameCount;
float FramesPerSecond;
volatile std::sig_atomic_t StopRequested;

float ComputeFramesPerSecond(uint32_t frameCount, uint32_t elapsedMs) {
    return static_cast<float>(frameCount) / (static_cast<float>(elapsedMs) / 1000.0f);
}

void PrintFrameRate() {
    std::printf("\n%d * %d * 32 @ %g FPS\n", FrameWidth, FrameHeight,
                static_cast<double>(FramesPerSecond));
    std::fflush(stdout);
}

// The show in progress; zero before the first.
static struct {
    Frame* frame;
    Display* display;
    const uint32_t* bump;
    const uint32_t* logo;
    int stepRate; // 0: unpaced
    ShowPhase phase;
    int64_t start;    // the clock's time at show time 0, moved on by each pause
    int64_t pausedAt; // while paused: when the clock stopped
    bool paused;
    uint32_t steps;   // steps taken, shown or not
    bool stopped;     // the show ended on a stop: no pause
    int64_t pauseEnd; // the clock's time at which the pause is over
} Loop;

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
    FrameCount = 0;
    FramesPerSecond = 0;
    ResetTimeline();
}

void PauseShow(bool paused, int64_t now) {
    if (paused == Loop.paused) return;
    if (paused)
        Loop.pausedAt = now;
    else
        Loop.start += now - Loop.pausedAt;
    Loop.paused = paused;
}

uint32_t StepsTaken() {
    return Loop.steps;
}

static int64_t ShowTime(int64_t now) {
    return (Loop.paused ? Loop.pausedAt : now) - Loop.start;
}

static uint32_t Milliseconds(int64_t showTime) {
    int64_t ms = showTime / NanosecondsPerMillisecond;
    return ms < 0 ? 0 : ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

// Draws step `ms`, shows it and counts it.
static void DrawStep(uint32_t ms) {
    RenderScene(Loop.frame, ms, Loop.bump, Loop.logo);
    ShowFrame(Loop.display, Loop.frame);
    if (TakeEvents(Loop.display)) StopRequested = 1;
    ++Loop.steps;
    ++FrameCount;
}

// The frame rate over `showMs`, the line, and the steps that were not shown;
// on a stop the music fades out.
static void EndVisuals(uint32_t showMs) {
    // Stopped before its first frame, it showed none.
    FramesPerSecond = FrameCount ? ComputeFramesPerSecond(FrameCount, showMs) : 0;
    PrintFrameRate();
    if (FrameCount < Loop.steps)
        Complain("%u of %u steps shown: the display could not keep up", FrameCount, Loop.steps);
    Loop.phase = ShowPhase::PlayOut;
}

// One step per frame at the clock's time; the first frame is not timed: it
// is always the lights.
static void StepUnpaced(int64_t now) {
    const uint32_t ms = FrameCount ? Milliseconds(ShowTime(now)) : 0;
    if (ms >= DemoLengthMs || StopRequested) return EndVisuals(ms);
    if (!Loop.paused) DrawStep(ms); // paused, nothing moves
}

static void StepPaced(int64_t now) {
    const int rate = Loop.stepRate;
    // The first step at or past the end is the end of the show's time.
    const uint32_t last = StepsBefore(DemoLengthMs, rate);
    uint32_t due = StepsDue(ShowTime(now), rate);
    if (due > last || StopRequested) {
        // Steps that fell due in this late frame were not shown either.
        if (due > last) due = last;
        if (due > Loop.steps) Loop.steps = due;
        return EndVisuals(StepMilliseconds(Loop.steps, rate));
    }
    if (due <= Loop.steps) return; // nothing due yet
    while (Loop.steps + 1 < due) StepScene(StepMilliseconds(Loop.steps++, rate));
    DrawStep(StepMilliseconds(Loop.steps, rate));
}

ShowPhase StepFrameLoop(int64_t now, bool musicPlayedOut) {
    switch (Loop.phase) {
    case ShowPhase::Idle:
    case ShowPhase::Ended:
        break;
    case ShowPhase::Visuals:
        if (Loop.stepRate)
            StepPaced(now);
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

// The keys a drawn step has not read, since none is drawn while paused.
static void TakeKeys() {
    if (Loop.paused && TakeEvents(Loop.display)) StopRequested = 1;
    if (TakePauseKey(Loop.display)) PauseAll(!Loop.paused);
}

void RunFrameLoop(Frame* frame, Display* display, int stepRate, const uint32_t* bumpPicture,
                  const uint32_t* logoPicture) {
    StartFrameLoop(frame, display, stepRate, bumpPicture, logoPicture, ClockNanoseconds());
    TakePauseKey(display); // pressed before this show: not for it
    while (StepFrameLoop(ClockNanoseconds(), false) == ShowPhase::Visuals) {
        TakeKeys();
        SleepUntil(NextTurnAt(ClockNanoseconds()));
    }
    // Stopped while paused: the music goes on, to fade out.
    if (Loop.paused) PauseAll(false);
}

// Between the rounds of a looping show the display stays open: its stop keys
// still count.
static Display* OpenDuringPlayOut;
static void TakeStopKeys() {
    if (OpenDuringPlayOut && TakeEvents(OpenDuringPlayOut)) StopRequested = 1;
}

bool RunPlayOut(Signal* musicEnded, Display* display) {
    OpenDuringPlayOut = display;
    // The music thread plays on by itself; its end signal is the play-out's end.
    bool waited = !musicEnded || WaitForMusic(musicEnded, StopRequested, TakeStopKeys);
    if (Loop.phase == ShowPhase::Idle)
        Loop.phase = ShowPhase::PlayOut; // no show: the pause all the same
    constexpr int64_t KeyInterval = NanosecondsPerSecond / DefaultStepRate;
    while (StepFrameLoop(ClockNanoseconds(), true) != ShowPhase::Ended) {
        TakeStopKeys();
        const int64_t now = ClockNanoseconds();
        SleepUntil(display ? std::min(NextTurnAt(now), now + KeyInterval) : NextTurnAt(now));
    }
    OpenDuringPlayOut = nullptr;
    return waited;
}
