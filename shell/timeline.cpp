#include "shell/timeline.h"

#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "shell/pacing.h"

#include <algorithm>

TimelineState Timeline;

void StartTimeline(unsigned seed, bool calm) {
    StartEffects(seed);
    // The fade-in starts flat at 255 and settles at 128 ± 127, the start-up
    // waves; the fade-out starts at 127 ± 126 and settles flat at 0.
    Timeline = {seed, calm, 0, 255, 126, 127, 0, 0, 128, 127};
}

Scene SceneAt(uint32_t elapsedMs) {
    const SceneSpan* span = Scenes;
    while (elapsedMs > span->lastMs) ++span;
    return span->scene;
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
    const uint32_t sinceStart = std::min(elapsedMs - Scenes[3].firstMs, CalmFadeMs);
    return sinceStart * FadeWeightFull / CalmFadeMs;
}

bool DrawShow(Frame* frame, uint32_t elapsedMs, const uint32_t* bumpPicture,
              const uint32_t* logoPicture) {
    const TimelineState& t = Timeline;
    const Scene scene = SceneAt(elapsedMs);
    switch (scene) {
    case Scene::BumpLights:
        RenderBumpLights(frame, bumpPicture);
        return true;
    case Scene::PlasmaFadeIn:
        BuildPlasmaWaves(t.fadeInOffset, t.fadeInAmplitude);
        break;
    case Scene::PlasmaFadeOut:
        BuildPlasmaWaves(t.fadeOutOffset, t.fadeOutAmplitude);
        break;
    default:
        BuildPlasmaWaves(t.waveOffset, t.waveAmplitude);
        break;
    }
    if (scene == Scene::PlasmaWithDots) {
        const bool drawn = RenderPlasma(frame, nullptr);
        RenderDotGrid(frame);
        return drawn;
    }
    if (scene == Scene::FirstFlash && t.calm)
        return RenderPlasmaWithFade(frame, logoPicture, CalmFadeWeight(elapsedMs));
    const uint32_t* picture = scene == Scene::PlasmaWithPicture ? logoPicture
                              : scene == Scene::FirstFlash
                                  ? FlashPicture(t.firstFlashCounter, logoPicture)
                              : scene != Scene::SecondFlash ? nullptr
                              : t.calm                      ? logoPicture
                                       : FlashPicture(t.secondFlashCounter, logoPicture);
    return RenderPlasma(frame, picture);
}

void AdvanceShow(uint32_t elapsedMs, bool drawn) {
    TimelineState& t = Timeline;
    const Scene scene = SceneAt(elapsedMs);
    if (scene == Scene::BumpLights) return StepBumpLights();
    if (drawn) StepPlasma();
    switch (scene) {
    case Scene::PlasmaFadeIn:
        // The waves keep this step's values for the scenes up to the fade-out.
        t.waveOffset = t.fadeInOffset;
        t.waveAmplitude = t.fadeInAmplitude;
        if (t.fadeInOffset > 128) --t.fadeInOffset;
        if (t.fadeInAmplitude < 127) ++t.fadeInAmplitude;
        break;
    case Scene::PlasmaWithDots:
        StepDotGrid();
        break;
    case Scene::FirstFlash:
        StepFlash(t.firstFlashCounter);
        break;
    case Scene::SecondFlash:
        StepFlash(t.secondFlashCounter);
        break;
    case Scene::PlasmaFadeOut:
        if (t.fadeOutOffset > 0) --t.fadeOutOffset;
        if (t.fadeOutAmplitude > 0) --t.fadeOutAmplitude;
        break;
    default:
        break;
    }
}

void PlaceShow(uint32_t steps, int rate) {
    StartTimeline(Timeline.seed, Timeline.calm);
    for (uint32_t k = 0; k < steps; ++k) AdvanceShow(StepMilliseconds(k, rate));
}
