// Whether the renderers take their AVX2 paths. Set once from the processor;
// tests turn it off to check the portable paths give the same bits.
#pragma once

extern bool UseAvx2;
