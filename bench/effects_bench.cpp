// Per-frame cost of the renderers, beside the floor of clearing one frame and
// beside the plain, literal version of each loop.
#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "platform/frame.h"
#include "tests/literal_effects.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int Pixels = FrameWidth * FrameHeight;

struct Setup {
    Setup() {
        InitEffects(1);
        frame = AllocateFrame(FrameWidth, FrameHeight);
        for (int i = 0; i < Pixels; ++i) picture[i] = (i * 2654435761u) >> 8;
        // A logo-like overlay: half keyed-out white, half opaque colour.
        for (int i = 0; i < Pixels; ++i) logo[i] = (i / 7) % 2 ? 0x00FFFFFF : 0x00203040;
    }
    Frame* frame;
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

void BM_LiteralBumpLights(benchmark::State& state) {
    Setup& s = Shared();
    Light lights[3] = {redLight, greenLight, blueLight};
    for (auto _ : state) {
        literal::BumpLights(s.frame->pixels, s.picture.data(), lights);
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

// The plasma as first written down: three look-ups and truncations per pixel.
void BM_LiteralPlasma(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        literal::Plasma(s.frame->pixels, nullptr, PlasmaPhases);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_LiteralPlasma);

} // namespace

BENCHMARK_MAIN();
