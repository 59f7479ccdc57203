#include "shell/timeline.h"

#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"

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
static void Flash(Frame* frame, int32_t& counter, const uint32_t* logoPicture) {
    if (counter <= 2) {
        RenderPlasma(frame, nullptr);
        ++counter;
        return;
    }
    RenderPlasma(frame, logoPicture);
    if (++counter > 5) counter = 0;
}

void RenderScene(Frame* frame, uint32_t elapsedMs, const uint32_t* bumpPicture,
                 const uint32_t* logoPicture) {
    switch (SceneAt(elapsedMs)) {
    case Scene::BumpLights:
        RenderBumpLights(frame, bumpPicture);
        break;
    case Scene::PlasmaFadeIn:
        // The tables take this frame's values; the step comes after drawing.
        BuildPlasmaWaves(FadeInOffset, FadeInAmplitude);
        RenderPlasma(frame, nullptr);
        if (FadeInOffset > 128) --FadeInOffset;
        if (FadeInAmplitude < 127) ++FadeInAmplitude;
        break;
    case Scene::PlasmaWithDots:
        RenderPlasma(frame, nullptr);
        RenderDotGrid(frame);
        break;
    case Scene::FirstFlash:
        Flash(frame, FirstFlashCounter, logoPicture);
        break;
    case Scene::PlasmaWithPicture:
        RenderPlasma(frame, logoPicture);
        break;
    case Scene::SecondFlash:
        Flash(frame, SecondFlashCounter, logoPicture);
        break;
    case Scene::PlasmaFadeOut:
        BuildPlasmaWaves(FadeOutOffset, FadeOutAmplitude);
        RenderPlasma(frame, nullptr);
        if (FadeOutOffset > 0) --FadeOutOffset;
        if (FadeOutAmplitude > 0) --FadeOutAmplitude;
        break;
    }
}
