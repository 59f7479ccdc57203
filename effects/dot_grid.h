// A rippling grid of 2 × 2 dots drawn over whatever the frame holds.
#pragma once

#include "platform/frame.h"

#include <cstdint>

constexpr int DotBandHeight = 160; // rows per colour band; at most 240
static_assert(DotBandHeight <= 240, "the first two bands must fit in 480 rows");

extern uint32_t DotColours[FrameHeight]; // colour of a dot by its grid row, built once
struct DotGridState {
    uint32_t dotRowCounter;    // 0..479, added to the DotRowWave index
    uint32_t dotColumnCounter; // 0..639, added to the DotColumnWave index
};
extern DotGridState DotGrid;

// Fills DotColours from DotBandHeight; InitEffects calls it.
void BuildDotColours();

// Draws the 95 × 135 grid displaced by the dot waves; nothing when the frame
// cannot be locked.
void RenderDotGrid(Frame* frame);

// Moves both counters on by one: after every draw, locked or not.
void StepDotGrid();
