// Per-frame cost of the renderers, beside the floor of clearing one frame and
// beside the plain, literal version of each loop.
#include "effects/bump_lights.h"
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
    }
    BitMap* frame;
    std::vector<uint32_t> picture = std::vector<uint32_t>(Pixels);
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

} // namespace

BENCHMARK_MAIN();
