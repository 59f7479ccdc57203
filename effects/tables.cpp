#include "effects/tables.h"

#include "effects/dot_grid.h"
#include "effects/random.h"

#include <cmath>
#include <initializer_list>
#include <numbers>

float SpotTable[SpotSize * SpotSize];
float SpotWeight[SpotSize * SpotSize];
float* PlasmaRowWave;
float* PlasmaColumnWave;
float* DotColumnWave;
float* DotRowWave;
PlasmaPhaseSet PlasmaPhases;
LightSet Lights;
// What the plasma waves hold, so that a frame that draws them again costs
// nothing; and the sine and cosine they scale, so that the fades' new waves
// every step cost no trigonometry.
static struct {
    int32_t offset, amplitude;
    const float* table;
    double rowSine[PlasmaRowCount], columnCosine[PlasmaColumnCount];
} WaveShape;

// Formulas run in double and are stored as float; angles are formed in float
// first (the products are exact) and turned into radians by π first, then 180.
static double Radians(float degrees) {
    return degrees * std::numbers::pi / 180.0;
}
static double RowDegrees(int i) {
    return Radians(static_cast<float>(i) * 0.75f);
}
static double ColumnDegrees(int i) {
    return Radians(static_cast<float>(i) * 0.5625f);
}

void BuildSpotTables() {
    // One quadrant, mirrored four ways: every entry is written exactly once.
    for (int i = 0; i < SpotSize / 2; ++i) {
        for (int j = 0; j < SpotSize / 2; ++j) {
            double s = std::sqrt(static_cast<double>((65 - i) * (65 - i) + (65 - j) * (65 - j)));
            float v = static_cast<float>(255.0 - (s - 1.0) * 4.0);
            if (v < 0.0f) v = 0.0f;
            int mi = SpotSize - 1 - i, mj = SpotSize - 1 - j;
            SpotTable[j * SpotSize + i] = v;
            SpotTable[mj * SpotSize + i] = v;
            SpotTable[j * SpotSize + mi] = v;
            SpotTable[mj * SpotSize + mi] = v;
        }
    }
    for (int k = 0; k < SpotSize * SpotSize; ++k) SpotWeight[k] = SpotTable[k] / 255.0f;
}

void BuildPlasmaWaves(int32_t offset, int32_t amplitude) {
    if (WaveShape.table == PlasmaRowWave && WaveShape.offset == offset &&
        WaveShape.amplitude == amplitude)
        return;
    WaveShape.offset = offset, WaveShape.amplitude = amplitude, WaveShape.table = PlasmaRowWave;
    for (int i = 0; i < PlasmaRowCount; ++i)
        PlasmaRowWave[i] = static_cast<float>(offset + amplitude * WaveShape.rowSine[i]);
    for (int i = 0; i < PlasmaColumnCount; ++i)
        PlasmaColumnWave[i] = static_cast<float>(offset + amplitude * WaveShape.columnCosine[i]);
}

void BuildDotWaves() {
    for (int i = 0; i < PlasmaColumnCount; ++i)
        DotColumnWave[i] = static_cast<float>(std::sin(ColumnDegrees(i)) * 25.0);
    for (int i = 0; i < PlasmaRowCount; ++i)
        DotRowWave[i] = static_cast<float>(std::cos(RowDegrees(i)) * 25.0);
}

void StartEffects(unsigned seed) {
    SeedRandom(seed);
    // Exactly twelve draws, in this order: the whole random state of the demo.
    PlasmaPhases.redRowPhase = NextRandom() % PlasmaRowCount;
    PlasmaPhases.greenRowPhase = NextRandom() % PlasmaRowCount;
    PlasmaPhases.blueRowPhase = NextRandom() % PlasmaRowCount;
    PlasmaPhases.redColumnPhase = NextRandom() % PlasmaColumnCount;
    PlasmaPhases.greenColumnPhase = NextRandom() % PlasmaColumnCount;
    PlasmaPhases.blueColumnPhase = NextRandom() % PlasmaColumnCount;
    for (Light* light : {&Lights.redLight, &Lights.greenLight, &Lights.blueLight}) {
        light->dx = NextRandom() % 3 + 1;
        light->dy = NextRandom() % 3 + 1;
    }
    Lights.redLight.x = Lights.redLight.y = 100;
    Lights.greenLight.x = Lights.greenLight.y = 200;
    Lights.blueLight.x = Lights.blueLight.y = 300;
    DotGrid = {};
}

static float* AllocateWave(void* (*allocate)(size_t), int count) {
    return static_cast<float*>(allocate(sizeof(float) * count));
}

bool InitEffects(unsigned seed, void* (*allocate)(size_t)) {
    BuildSpotTables();
    BuildDotColours();
    // Both of a pair are attempted before either is tested.
    PlasmaRowWave = AllocateWave(allocate, PlasmaRowCount);
    PlasmaColumnWave = AllocateWave(allocate, PlasmaColumnCount);
    if (!PlasmaRowWave || !PlasmaColumnWave) return false;
    for (int i = 0; i < PlasmaRowCount; ++i) WaveShape.rowSine[i] = std::sin(RowDegrees(i));
    for (int i = 0; i < PlasmaColumnCount; ++i)
        WaveShape.columnCosine[i] = std::cos(ColumnDegrees(i));
    BuildPlasmaWaves(128, 127);
    DotColumnWave = AllocateWave(allocate, PlasmaColumnCount);
    DotRowWave = AllocateWave(allocate, PlasmaRowCount);
    if (!DotColumnWave || !DotRowWave) return false;
    BuildDotWaves();
    StartEffects(seed);
    return true;
}

void FreeWaveTables() {
    for (float** table : {&PlasmaRowWave, &PlasmaColumnWave, &DotColumnWave, &DotRowWave}) {
        std::free(*table);
        *table = nullptr;
    }
    WaveShape = {};
}
