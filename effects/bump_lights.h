// Three coloured lights drifting over a bump-mapped picture.
#pragma once

#include "platform/frame.h"

#include <cstdint>

// The picture is always read as 640 words a row, whatever its own width.
constexpr int BumpPictureRowBytes = 2560;

// Clears the frame and draws the red, green and blue lights over the matching
// channel of `picture` (0xAARRGGBB words); nothing when the frame cannot be locked.
void RenderBumpLights(Frame* frame, const uint32_t* picture);

// Moves the lights one step, bouncing at the edges of their travel. A step
// follows every draw, also one whose frame could not be locked.
void StepBumpLights();
