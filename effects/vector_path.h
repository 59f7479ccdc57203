// Whether the renderers take their AVX2 paths. Set once from the processor;
// tests turn it off to check the portable paths give the same bits. The vector
// paths are built only where the compiler targets x86-64; elsewhere it stays false.
#pragma once

extern bool UseAvx2;
