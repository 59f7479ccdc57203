// The lookup tables and the moving state that the renderers share. Everything
// curved on screen comes from these tables, so the renderers need no
// trigonometry; everything that moves is a handful of integers below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

constexpr int SpotSize = 128;          // spot tables are SpotSize × SpotSize, row-major
constexpr int PlasmaRowCount = 480;    // PlasmaRowWave and DotRowWave entries
constexpr int PlasmaColumnCount = 640; // PlasmaColumnWave and DotColumnWave entries

// Radial spot, 0 .. 247.68629, symmetric in both indices and mirrored about the middle.
extern float SpotTable[SpotSize * SpotSize];
// SpotTable / 255 in single precision, 0 .. 0.97131878.
extern float SpotWeight[SpotSize * SpotSize];

// One full period each; heap tables owned by whoever called InitEffects.
extern float* PlasmaRowWave;    // 480: offset + amplitude × sine
extern float* PlasmaColumnWave; // 640: offset + amplitude × cosine
extern float* DotColumnWave;    // 640: 25 × sine, pixels of sideways push
extern float* DotRowWave;       // 480: 25 × cosine, pixels of vertical push

// Where each channel's row and column waves start; rows 0..479, columns 0..639.
struct PlasmaPhaseSet {
    int32_t redRowPhase, greenRowPhase, blueRowPhase;
    int32_t redColumnPhase, greenColumnPhase, blueColumnPhase;
};
extern PlasmaPhaseSet PlasmaPhases;

// A light's 127 × 127 window covers (x + 1, y + 1) .. (x + 127, y + 127).
struct Light {
    int32_t x, y;   // window origin in the frame
    int32_t dx, dy; // step per frame: magnitude 1..3, only the sign changes
};
struct LightSet {
    Light redLight, greenLight, blueLight;
};
extern LightSet Lights;

// Builds every table and starts the effects from `seed` (StartEffects).
// Returns false when a wave table cannot be allocated; whatever was allocated
// stays for FreeWaveTables. `allocate` lets tests make an allocation fail.
bool InitEffects(unsigned seed, void* (*allocate)(size_t) = std::malloc);

// Puts everything of the effects that moves at its start for `seed`: the
// twelve random draws, the lights' places and the dot counters.
void StartEffects(unsigned seed);

void BuildSpotTables();
// Rebuilds the plasma waves, unless they already hold this offset and amplitude.
void BuildPlasmaWaves(int32_t offset, int32_t amplitude);
void BuildDotWaves();

// Frees the four wave tables (those that exist) and forgets them.
void FreeWaveTables();
