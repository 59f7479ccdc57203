#include "shell/timeline.h"

#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"

#include <algorithm>

// The fade-in starts flat at 255 and settles at 128 ± 127, the start-up waves;
// the fade-out starts at 127 ± 126 and settles flat at 0.
constexpr int32_t FadeInStartAmplitude = 0, FadeInStartOffset = 255;
constexpr int32_t FadeOutStartAmplitude = 126, FadeOutStartOffset = 127;

int32_t FadeInAmplitude = FadeInStartAmplitude;
int32_t FadeInOffset = FadeInStartOffset;
int32_t FadeOutAmplitude = FadeOutStartAmplitude;
int32_t FadeOutOffset = FadeOutStartOffset;
int32_t FirstFlashCounter = 0;
int32_t SecondFlashCounter = 0;
bool CalmShow;

void ResetTimeline() {
    FadeInAmplitude = FadeInStartAmplitude;
    FadeInOffset = FadeInStartOffset;
    FadeOutAmplitude = FadeOutStartAmplitude;
    FadeOutOffset = FadeOutStartOffset;
    FirstFlashCounter = SecondFlashCounter = 0;
}

Scene SceneAt(uint32_t elapsedMs) {
    if (elapsedMs <= 13750) return Scene::BumpLights;
    if (elapsedMs <= 20000) return Scene::PlasmaFadeIn;
    if (elapsedMs <= 31000) return Scene::PlasmaWithDots;
    if (elapsedMs <= 32000) return Scene::FirstFlash;
    if (elapsedMs <= 38000) return Scene::PlasmaWithPicture;
    if (elapsedMs <= 39000) return Scene::SecondFlash;
    return Scene::PlasmaFadeOut;
}

// Three frames without the picture, then three with it, over and over.
static const uint32_t* FlashPicture(int32_t counter, const uint32_t* logoPicture) {
    return counter <= 2 ? nullptr : logoPicture;
}

static void StepFlash(int32_t& counter) {
    if (++counter > 5) counter = 0;
}

// The calm logo's weight: rising with the show's time, not with frames, so
// that every frame rate fades it in alike.
static uint32_t CalmFadeWeight(uint32_t elapsedMs) {
    constexpr uint32_t FirstFlashStart = 31001;
    const uint32_t sinceStart = std::min(elapsedMs - FirstFlashStart, CalmFadeMs);
    return sinceStart * FadeWeightFull / CalmFadeMs;
}

// Draws the scene's frame; false when the plasma could not lock it.
static bool DrawScene(Frame* frame, Scene scene, uint32_t elapsedMs, const uint32_t* bumpPicture,
                      const uint32_t* logoPicture) {
    switch (scene) {
    case Scene::BumpLights:
        RenderBumpLights(frame, bumpPicture);
        return true;
    case Scene::PlasmaFadeIn:
        // The tables take this step's values; the step comes after drawing.
        BuildPlasmaWaves(FadeInOffset, FadeInAmplitude);
        return RenderPlasma(frame, nullptr);
    case Scene::PlasmaWithDots: {
        bool drawn = RenderPlasma(frame, nullptr);
        RenderDotGrid(frame);
        return drawn;
    }
    case Scene::FirstFlash:
        if (CalmShow) return RenderPlasmaWithFade(frame, logoPicture, CalmFadeWeight(elapsedMs));
        return RenderPlasma(frame, FlashPicture(FirstFlashCounter, logoPicture));
    case Scene::PlasmaWithPicture:
        return RenderPlasma(frame, logoPicture);
    case Scene::SecondFlash:
        return RenderPlasma(frame,
                            CalmShow ? logoPicture : FlashPicture(SecondFlashCounter, logoPicture));
    case Scene::PlasmaFadeOut:
        BuildPlasmaWaves(FadeOutOffset, FadeOutAmplitude);
        return RenderPlasma(frame, nullptr);
    }
    return true;
}

// What moves in the scene moves one step; the plasma only if `plasmaMoves`.
static void AdvanceScene(Scene scene, bool plasmaMoves) {
    if (scene == Scene::BumpLights) return StepBumpLights();
    if (plasmaMoves) StepPlasma();
    switch (scene) {
    case Scene::PlasmaFadeIn:
        if (FadeInOffset > 128) --FadeInOffset;
        if (FadeInAmplitude < 127) ++FadeInAmplitude;
        break;
    case Scene::PlasmaWithDots:
        StepDotGrid();
        break;
    case Scene::FirstFlash:
        StepFlash(FirstFlashCounter);
        break;
    case Scene::SecondFlash:
        StepFlash(SecondFlashCounter);
        break;
    case Scene::PlasmaFadeOut:
        if (FadeOutOffset > 0) --FadeOutOffset;
        if (FadeOutAmplitude > 0) --FadeOutAmplitude;
        break;
    default:
        break;
    }
}

void RenderScene(Frame* frame, uint32_t elapsedMs, const uint32_t* bumpPicture,
                 const uint32_t* logoPicture) {
    const Scene scene = SceneAt(elapsedMs);
    // A plasma that could not lock its frame does not move, as if never called.
    AdvanceScene(scene, DrawScene(frame, scene, elapsedMs, bumpPicture, logoPicture));
}

void StepScene(uint32_t elapsedMs) {
    const Scene scene = SceneAt(elapsedMs);
    // The waves as this step's draw would have left them, for the scenes
    // after a fade whose last steps were not drawn.
    if (scene == Scene::PlasmaFadeIn) BuildPlasmaWaves(FadeInOffset, FadeInAmplitude);
    if (scene == Scene::PlasmaFadeOut) BuildPlasmaWaves(FadeOutOffset, FadeOutAmplitude);
    AdvanceScene(scene, true);
}
