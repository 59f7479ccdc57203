// The frame loop: one show of the 41-second timeline against the show's
// clock, then the music's play-out and the one-second pause. The desktop
// (RunFrameLoop, RunPlayOut) and the browser's animation callback drive the
// same StepFrameLoop, which holds every rule of a show: which step is due,
// how the clock follows the music, seeks, how a stop ends it, when the music
// has played out and how long the pause is.
#pragma once

#include "platform/display.h"
#include "platform/frame.h"
#include "shell/timeline.h"

#include <csignal>
#include <cstdint>

struct Signal;

constexpr uint32_t PauseAfterMusicMs = 1000;
// Steps lost to a refresh's jitter that are not worth a word: at most this
// share of the whole show's steps (24 of 2460 at 60 steps a second).
constexpr uint32_t QuietDropPercent = 1;

extern uint32_t FrameCount;   // frames presented
extern float FramesPerSecond; // set once, when the visuals end

// Ends the show at the next step: set by the display's stop keys and close
// request, the page's, and the stop signals' handler. A stopped show prints
// its frame-rate line, fades the music out and ends without the pause.
extern volatile std::sig_atomic_t StopRequested;

enum class ShowPhase {
    Idle,    // no show started
    Visuals, // the timeline runs
    PlayOut, // the visuals are over, the music plays to its end (or fades out)
    Pause,   // the second after the music
    Ended,
};

// Starts the loaded show (LoadShow) into `frame` on `display` at clock time
// `now`: paced at `stepRate` steps a second, or where it is 0 unpaced (a step
// per frame at the clock's time, as fast as it goes).
void StartFrameLoop(Frame* frame, Display* display, int stepRate, const uint32_t* bumpPicture,
                    const uint32_t* logoPicture, int64_t now);

// One turn of the show at clock time `now`: takes every step that is due and
// draws the last; as the visuals end prints the frame-rate line, and on
// stderr how many steps were shown where more than QuietDropPercent were
// dropped. While `musicSeconds`, where the music is heard (negative while not
// known), moves, a paced show's clock follows it. Returns the phase after it.
ShowPhase StepFrameLoop(int64_t now, bool musicPlayedOut, double musicSeconds = -1);

// When the next turn has something to do: the next step's due time, the
// pause's end, else `now`.
int64_t NextTurnAt(int64_t now);

// Stops and starts the show's clock: paused time counts neither in the show's
// time nor in its frame rate.
void PauseShow(bool paused, int64_t now);
bool ShowPaused();

// Puts a paced show at the step of show time `ms` at clock time `now`, drawn
// and shown; a moment past the visuals ends them at the next turn. Returns
// the show time of that step, where the music should be heard from.
uint32_t SeekShow(uint32_t ms, int64_t now);

// Where a key that moves in the show (TakeShowKey's) takes a paced show from
// the step on the screen: Left and Right 5 s back and forward, Home the
// start, 0 to 9 that tenth of the show, and while paused , and . one step.
// Negative for any other key, and for an unpaced show.
int64_t SeekTarget(char key);

// The show time of the step on the screen, in milliseconds.
uint32_t ShownMilliseconds();
// Where the show is, as a player says it: "0:12 / 0:41".
const char* ShowClock();

// Steps taken so far, shown or not.
uint32_t StepsTaken();

// The desktop's show: the visuals from show time `startMs`, the display's
// keys pausing and seeking picture and music together, the window's title
// saying the time; returns when they are over, the display still open.
void RunFrameLoop(Frame* frame, Display* display, int stepRate, const uint32_t* bumpPicture,
                  const uint32_t* logoPicture, uint32_t startMs = 0);

// The desktop's end of a show (also when no show could start): waits for the
// music thread's `musicEnded` (none when it never started), then the pause,
// reading the stop keys of `display` if it is still open meanwhile. False
// when the wait for the music was given up.
bool RunPlayOut(Signal* musicEnded, Display* display = nullptr);
