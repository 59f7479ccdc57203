// The three-channel plasma, with an optional colour-keyed picture over it.
#pragma once

#include "platform/frame.h"

#include <cstdint>

// Words at or above this are transparent in the overlay; any alpha but 0 is.
constexpr uint32_t OverlayKey = 0x00F0F0F0;
constexpr int OverlayWidth = 320, OverlayHeight = 200;
constexpr int OverlayLeft = 160, OverlayTop = 280;

// The 8-bit value a wave entry contributes: truncated toward zero, low 8 bits.
uint32_t WaveByte(float value);

// Fills the frame with the plasma of the current phases and pastes the
// top-left 320 × 200 words of `picture` (if not null) at (160, 280). False
// when the frame cannot be locked: nothing is drawn, and the phases must not
// move either.
bool RenderPlasma(Frame* frame, const uint32_t* picture);

// The same plasma with the picture's shown words blended over it, each
// channel weighted `weight` of FadeWeightFull (0: plasma only, FadeWeightFull:
// as RenderPlasma with the picture), so that the picture can appear steadily.
constexpr uint32_t FadeWeightFull = 256;
bool RenderPlasmaWithFade(Frame* frame, const uint32_t* picture, uint32_t weight);

// Moves the phases on one step: after each drawn frame, and for a step that
// was not drawn at all.
void StepPlasma();
