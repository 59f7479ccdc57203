// Which paths the renderers take. Set once from the processor; tests switch
// them off to hold every path, portable ones included, to the same bits. The
// vector paths are built only where the compiler targets x86-64; elsewhere both
// stay false and the portable paths run.
#pragma once

extern bool UseAvx512; // where the processor has it; before AVX2
extern bool UseAvx2;   // where the processor has it; before SSE2
extern bool UseSse2;   // every x86-64 has it; before the portable paths
