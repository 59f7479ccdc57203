// The demo's own random numbers: for a seed, the sequence that the GNU C
// library's rand() gives after srand(seed), so that a seed draws the same
// show under any C library (the browser's too).
#pragma once

#include <cstdint>

void SeedRandom(unsigned seed);

// 0 .. 2^31 − 1.
int32_t NextRandom();
