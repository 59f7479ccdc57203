// Per-frame cost of the renderers, beside the floor of clearing one frame and
// beside the plain, literal version of each loop.
#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "platform/frame.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int Pixels = FrameWidth * FrameHeight;

struct Setup {
    Setup() {
        InitEffects(1);
        frame = p96AllocBitMap(FrameWidth, FrameHeight);
        for (int i = 0; i < Pixels; ++i) picture[i] = (i * 2654435761u) >> 8;
        // A logo-like overlay: half keyed-out white, half opaque colour.
        for (int i = 0; i < Pixels; ++i) logo[i] = (i / 7) % 2 ? 0x00FFFFFF : 0x00203040;
    }
    BitMap* frame;
    std::vector<uint32_t> picture = std::vector<uint32_t>(Pixels);
    std::vector<uint32_t> logo = std::vector<uint32_t>(Pixels);
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

void BM_MemsetFrame(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        std::memset(s.frame->pixels, 0, Pixels * 4);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemsetFrame);

void BM_RenderBumpLights(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        RenderBumpLights(s.frame, s.picture.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderBumpLights);

// The loop as first written down: remainders by subtraction, branches per pixel.
void LiteralLight(uint32_t* frame, const uint32_t* picture, const Light& light, int shift) {
    for (int j = 1; j <= 127; ++j) {
        for (int i = 1; i <= 127; ++i) {
            int px = light.x + i, py = light.y + j;
            int c = (picture[py * 640 + px] >> shift) & 255;
            int l = (picture[py * 640 + px - 1] >> shift) & 255;
            int up = (picture[(py - 1) * 640 + px] >> shift) & 255;
            int u = light.x + (c - l) + 64, v = light.y + (c - up) + 64;
            while (u > 127) u -= 128;
            while (v > 127) v -= 128;
            while (u < 0) u += 128;
            while (v < 0) v += 128;
            int level = static_cast<int>(SpotWeight[i * 128 + j] * SpotTable[u * 128 + v]);
            if (level <= 0) continue;
            uint32_t& pixel = frame[py * FrameWidth + px];
            pixel = shift == 16 ? static_cast<uint32_t>(level) << 16
                                : pixel | static_cast<uint32_t>(level) << shift;
        }
    }
}

void BM_LiteralBumpLights(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        std::memset(s.frame->pixels, 0, Pixels * 4);
        LiteralLight(s.frame->pixels, s.picture.data(), redLight, 16);
        LiteralLight(s.frame->pixels, s.picture.data(), greenLight, 8);
        LiteralLight(s.frame->pixels, s.picture.data(), blueLight, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LiteralBumpLights);

void BM_RenderPlasma(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        RenderPlasma(s.frame, nullptr);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderPlasma);

void BM_RenderPlasmaWithPicture(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        RenderPlasma(s.frame, s.logo.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderPlasmaWithPicture);

void BM_RenderPlasmaAndDotGrid(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        RenderPlasma(s.frame, nullptr);
        RenderDotGrid(s.frame);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderPlasmaAndDotGrid);

void BM_RenderDotGrid(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        RenderDotGrid(s.frame);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderDotGrid);

int Byte(float value) {
    return static_cast<int>(value) & 255;
}

// The plasma as first written down: three look-ups and truncations per pixel.
void BM_LiteralPlasma(benchmark::State& state) {
    Setup& s = Shared();
    uint32_t* frame = s.frame->pixels;
    for (auto _ : state) {
        PlasmaPhaseSet& p = PlasmaPhases;
        for (int y = 0; y < FrameHeight; ++y) {
            int iR = p.redRowPhase + y, iG = p.greenRowPhase + y, iB = p.blueRowPhase + y;
            if (iR > 479) iR -= 480;
            if (iG > 479) iG -= 480;
            if (iB > 479) iB -= 480;
            for (int x = 0; x < FrameWidth; ++x) {
                int jR = p.redColumnPhase + x, jG = p.greenColumnPhase + x;
                int jB = p.blueColumnPhase + x;
                if (jR > 639) jR -= 640;
                if (jG > 639) jG -= 640;
                if (jB > 639) jB -= 640;
                uint32_t red = (Byte(PlasmaRowWave[iR]) + Byte(PlasmaColumnWave[jR])) / 2;
                uint32_t green = (Byte(PlasmaRowWave[iG]) + Byte(PlasmaColumnWave[jG])) / 2;
                uint32_t blue = (Byte(PlasmaRowWave[iB]) + Byte(PlasmaColumnWave[jB])) / 2;
                frame[y * FrameWidth + x] = red << 16 | green << 8 | blue;
            }
        }
        p = {(p.redRowPhase + 1) % 480,      (p.greenRowPhase + 2) % 480,
             (p.blueRowPhase + 3) % 480,     (p.redColumnPhase + 1) % 640,
             (p.greenColumnPhase + 2) % 640, (p.blueColumnPhase + 3) % 640};
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LiteralPlasma);

} // namespace

BENCHMARK_MAIN();
