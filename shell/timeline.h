// What one frame of the demo draws for a given time since the loop started,
// and the fade and flash state the scenes step. Kept apart from the clock and
// the display, so the demo, the frame-capture tool and the tests share it.
#pragma once

#include "platform/frame.h"

#include <cstdint>

enum class Scene {
    BumpLights,        // 0 .. 13750 ms
    PlasmaFadeIn,      // 13751 .. 20000
    PlasmaWithDots,    // 20001 .. 31000
    FirstFlash,        // 31001 .. 32000
    PlasmaWithPicture, // 32001 .. 38000
    SecondFlash,       // 38001 .. 39000
    PlasmaFadeOut,     // 39001 and above
};

// The scene of a moment; both ends of every range belong to it.
Scene SceneAt(uint32_t elapsedMs);

// Fade and flash state, from program start on; stepped once per frame of its scene.
extern int32_t FadeInAmplitude;    // 0..127
extern int32_t FadeInOffset;       // 255..128
extern int32_t FadeOutAmplitude;   // 126..0
extern int32_t FadeOutOffset;      // 127..0
extern int32_t FirstFlashCounter;  // 0..5
extern int32_t SecondFlashCounter; // 0..5

// A calm show (set before it starts; kept by ResetTimeline): nothing flashes.
// The first flash scene fades the logo in over CalmFadeMs of show time and
// keeps it, the second shows it steadily.
extern bool CalmShow;
constexpr uint32_t CalmFadeMs = 500;

// Puts the state back to its start values (a fresh run of the timeline).
void ResetTimeline();

// One step of the show at `elapsedMs`: draws its frame into `frame`, then
// steps the state of its scene.
void RenderScene(Frame* frame, uint32_t elapsedMs, const uint32_t* bumpPicture,
                 const uint32_t* logoPicture);

// The same step without drawing, for a step whose frame is dropped: the state
// ends exactly where RenderScene would have left it.
void StepScene(uint32_t elapsedMs);
