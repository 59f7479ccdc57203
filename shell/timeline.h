// The show's timeline: which scene a moment belongs to, the fade and flash
// state the scenes step, and the one start of everything in the show that
// moves. A step is taken apart from its drawing, so that a show can be put
// at any step without drawing the ones before it. Kept apart from the clock
// and the display, so the demo, the tools, the page and the tests share it.
#pragma once

#include "platform/frame.h"

#include <cstdint>

constexpr uint32_t DemoLengthMs = 41000;

enum class Scene {
    BumpLights,
    PlasmaFadeIn,
    PlasmaWithDots,
    FirstFlash,
    PlasmaWithPicture,
    SecondFlash,
    PlasmaFadeOut,
};

// The scenes in order, each with its name and the first and last millisecond
// it owns; both ends belong to it, and the last scene owns every later moment.
struct SceneSpan {
    Scene scene;
    const char* name;
    uint32_t firstMs, lastMs;
};
constexpr SceneSpan Scenes[] = {
    {Scene::BumpLights, "lights", 0, 13750},
    {Scene::PlasmaFadeIn, "plasma", 13751, 20000},
    {Scene::PlasmaWithDots, "dots", 20001, 31000},
    {Scene::FirstFlash, "flash", 31001, 32000},
    {Scene::PlasmaWithPicture, "overlay", 32001, 38000},
    {Scene::SecondFlash, "flash-again", 38001, 39000},
    {Scene::PlasmaFadeOut, "fade-out", 39001, UINT32_MAX},
};

Scene SceneAt(uint32_t elapsedMs);

// Everything of the timeline that moves; the effects keep theirs (Lights,
// PlasmaPhases, DotGrid).
struct TimelineState {
    unsigned seed;
    bool calm;                  // nothing flashes: the first flash scene fades the
                                // logo in over CalmFadeMs of show time and keeps it
    int32_t fadeInAmplitude;    // 0..127
    int32_t fadeInOffset;       // 255..128
    int32_t fadeOutAmplitude;   // 126..0
    int32_t fadeOutOffset;      // 127..0
    int32_t firstFlashCounter;  // 0..5
    int32_t secondFlashCounter; // 0..5
    int32_t waveOffset;         // what the plasma waves hold between the fades:
    int32_t waveAmplitude;      // the last fade step's values
};
extern TimelineState Timeline;
constexpr uint32_t CalmFadeMs = 500;

// Starts everything in the show that moves, for `seed`, calm or not.
void StartTimeline(unsigned seed, bool calm);

// Draws the show as it stands into `frame`, as the scene of `elapsedMs`
// shows it; nothing moves. False when the frame could not be locked.
bool DrawShow(Frame* frame, uint32_t elapsedMs, const uint32_t* bumpPicture,
              const uint32_t* logoPicture);

// One step of the show at `elapsedMs`, nothing drawn. A frame that could not
// be drawn leaves the plasma where it was (`drawn` false).
void AdvanceShow(uint32_t elapsedMs, bool drawn = true);

// Starts the show again from its seed and takes its first `steps` steps at
// `rate` steps a second: the state a show of that rate has at that step.
void PlaceShow(uint32_t steps, int rate);
