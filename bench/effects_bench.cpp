// Per-frame cost of the renderers on each path, each timed in turn with the
// plain, literal version of its loops over the same state, so that both meet the
// same load on a busy machine. `Time` is the renderer's processor time a frame,
// `literal` the literal version's, and `faster` how many times faster the
// renderer is. Take medians:
//   bumpwave-bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "effects/vector_path.h"
#include "platform/frame.h"
#include "shell/pacing.h"
#include "shell/timeline.h"
#include "tests/literal_effects.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <string>
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

// The thread's own processor time: on a machine that others share, time spent
// waiting for a core is not the renderer's.
double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

// `render` draws a frame; `literal` then draws the same frame from the state
// `render` started from, which `keep` copied for it beforehand.
template <typename Keep, typename Render, typename Literal>
void Compare(benchmark::State& state, Keep keep, Render render, Literal literal) {
    double renderSeconds = 0, literalSeconds = 0;
    for (auto _ : state) {
        keep();
        double start = ThreadSeconds();
        render();
        benchmark::ClobberMemory();
        double middle = ThreadSeconds();
        literal();
        benchmark::ClobberMemory();
        double seconds = middle - start;
        literalSeconds += ThreadSeconds() - middle;
        renderSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    using benchmark::Counter;
    state.counters["literal"] = Counter(literalSeconds, Counter::kAvgIterations);
    state.counters["faster"] = literalSeconds / renderSeconds;
}

void BM_BumpLights(benchmark::State& state) {
    Setup& s = Shared();
    Light lights[3];
    Compare(
        state,
        [&] {
            lights[0] = Lights.redLight, lights[1] = Lights.greenLight,
            lights[2] = Lights.blueLight;
        },
        [&] { RenderBumpLights(s.frame, s.picture.data()); },
        [&] { literal::BumpLights(s.frame->pixels, s.picture.data(), lights); });
}

void BM_Plasma(benchmark::State& state, bool withLogo) {
    Setup& s = Shared();
    const uint32_t* logo = withLogo ? s.logo.data() : nullptr;
    PlasmaPhaseSet phases;
    Compare(
        state, [&] { phases = PlasmaPhases; }, [&] { RenderPlasma(s.frame, logo); },
        [&] { literal::Plasma(s.frame->pixels, logo, phases); });
}

void BM_PlasmaAndDotGrid(benchmark::State& state) {
    Setup& s = Shared();
    PlasmaPhaseSet phases;
    uint32_t rowCounter, columnCounter;
    Compare(
        state,
        [&] {
            phases = PlasmaPhases;
            rowCounter = DotGrid.dotRowCounter, columnCounter = DotGrid.dotColumnCounter;
        },
        [&] {
            RenderPlasma(s.frame, nullptr);
            RenderDotGrid(s.frame);
        },
        [&] {
            literal::Plasma(s.frame->pixels, nullptr, phases);
            literal::Dots(s.frame->pixels, rowCounter, columnCounter);
        });
}

void BM_DotGrid(benchmark::State& state) {
    Setup& s = Shared();
    uint32_t rowCounter, columnCounter;
    Compare(
        state,
        [&] { rowCounter = DotGrid.dotRowCounter, columnCounter = DotGrid.dotColumnCounter; },
        [&] { RenderDotGrid(s.frame); },
        [&] { literal::Dots(s.frame->pixels, rowCounter, columnCounter); });
}

// The floor: clearing one frame.
void BM_MemsetFrame(benchmark::State& state) {
    Setup& s = Shared();
    for (auto _ : state) {
        std::memset(s.frame->pixels, 0, Pixels * 4);
        benchmark::ClobberMemory();
    }
}

// Putting the show at 40 s, as a seek or a link to that moment does: every
// step before it taken, none drawn.
void BM_PlaceShowAt40s(benchmark::State& state) {
    StartTimeline(1, false);
    for (auto _ : state) PlaceShow(StepAt(40000, DefaultStepRate), DefaultStepRate);
}

// Sets the path for one benchmark run, and puts the processor's choice back after it.
template <typename Run>
void OnPath(benchmark::State& state, Run run, bool sse2, bool avx2, bool avx512) {
    const bool keptSse2 = UseSse2, keptAvx2 = UseAvx2, keptAvx512 = UseAvx512;
    UseSse2 = sse2, UseAvx2 = avx2, UseAvx512 = avx512;
    run(state);
    UseSse2 = keptSse2, UseAvx2 = keptAvx2, UseAvx512 = keptAvx512;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    struct Path {
        const char* name;
        bool sse2, avx2, avx512;
    };
    std::vector<Path> paths = {{"portable", false, false, false}};
    if (UseSse2) paths.push_back({"sse2", true, false, false});
    if (UseAvx2) paths.push_back({"avx2", true, true, false});
    if (UseAvx512) paths.push_back({"avx512", true, true, true});
    benchmark::RegisterBenchmark("MemsetFrame", BM_MemsetFrame);
    benchmark::RegisterBenchmark("PlaceShowAt40s", BM_PlaceShowAt40s)
        ->Unit(benchmark::kMicrosecond);
    for (const Path& path : paths) {
        // Fixed counts, since the iterations are counted on the renderer's time
        // alone and the literal plasma takes 1.7 ms a frame: about 0.3 s a run.
        auto add = [&](const char* name, int frames, auto run) {
            auto onPath = [=](benchmark::State& state) {
                OnPath(state, run, path.sse2, path.avx2, path.avx512);
            };
            benchmark::RegisterBenchmark((std::string(name) + "/" + path.name).c_str(), onPath)
                ->UseManualTime()
                ->Iterations(frames);
        };
        add("BumpLights", 2000, BM_BumpLights);
        if (path.avx512) continue; // only the lights have an AVX-512 path
        add("Plasma", 200, [](benchmark::State& state) { BM_Plasma(state, false); });
        add("PlasmaWithLogo", 200, [](benchmark::State& state) { BM_Plasma(state, true); });
        add("PlasmaAndDotGrid", 200, BM_PlasmaAndDotGrid);
        add("DotGrid", 2000, BM_DotGrid);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
