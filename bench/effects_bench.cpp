// Per-frame cost of the renderers on each path, and of whole frames of the show
// as the tools draw them (scene, drawing and step), each timed in turn with its
// literal version over the same state, so that both meet the same load on a
// busy machine. `Time` is the renderer's processor time a frame, `literal` the
// literal version's, and `faster` how many times faster the renderer is. Take
// medians:
//   bumpwave-bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "effects/vector_path.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "shell/timeline.h"
#include "tests/literal_effects.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int Pixels = FrameWidth * FrameHeight;

// The one frame drawn into, of the show main loads as the demo does.
Frame* TheFrame;

// The thread's own processor time: on a machine that others share, time spent
// waiting for a core is not the renderer's.
double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

// `render` draws a frame; `literal` then draws the same frame from the state
// `render` started from, which `keep` copied for it beforehand. `between`, if
// any, runs untimed before each.
template <typename Keep, typename Render, typename Literal>
void Compare(benchmark::State& state, Keep keep, Render render, Literal literal,
             void (*between)() = nullptr) {
    double renderSeconds = 0, literalSeconds = 0;
    for (auto _ : state) {
        keep();
        if (between) between();
        double start = ThreadSeconds();
        render();
        benchmark::ClobberMemory();
        const double seconds = ThreadSeconds() - start;
        if (between) between();
        double middle = ThreadSeconds();
        literal();
        benchmark::ClobberMemory();
        literalSeconds += ThreadSeconds() - middle;
        renderSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    using benchmark::Counter;
    state.counters["literal"] = Counter(literalSeconds, Counter::kAvgIterations);
    state.counters["faster"] = literalSeconds / renderSeconds;
}

void BM_BumpLights(benchmark::State& state) {
    Light lights[3];
    Compare(
        state,
        [&] {
            lights[0] = Lights.redLight, lights[1] = Lights.greenLight,
            lights[2] = Lights.blueLight;
        },
        [&] { RenderBumpLights(TheFrame, BumpPicture); },
        [&] { literal::BumpLights(TheFrame->pixels, BumpPicture, lights); });
}

void BM_Plasma(benchmark::State& state, bool withLogo) {
    const uint32_t* logo = withLogo ? LogoPicture : nullptr;
    PlasmaPhaseSet phases;
    Compare(
        state, [&] { phases = PlasmaPhases; }, [&] { RenderPlasma(TheFrame, logo); },
        [&] { literal::Plasma(TheFrame->pixels, logo, phases); });
}

void BM_DotGrid(benchmark::State& state) {
    uint32_t rowCounter, columnCounter;
    Compare(
        state,
        [&] { rowCounter = DotGrid.dotRowCounter, columnCounter = DotGrid.dotColumnCounter; },
        [&] { RenderDotGrid(TheFrame); },
        [&] { literal::Dots(TheFrame->pixels, rowCounter, columnCounter); });
}

// The literal renderers of the scene of `ms`, over copies of the state that
// they move, then the show's own step.
void LiteralFrame(uint32_t* pixels, uint32_t ms) {
    const TimelineState& t = Timeline;
    const Scene scene = SceneAt(ms);
    if (scene == Scene::BumpLights) {
        Light lights[3] = {Lights.redLight, Lights.greenLight, Lights.blueLight};
        literal::BumpLights(pixels, BumpPicture, lights);
    } else {
        int32_t offset = t.waveOffset, amplitude = t.waveAmplitude;
        if (scene == Scene::PlasmaFadeIn) offset = t.fadeInOffset, amplitude = t.fadeInAmplitude;
        if (scene == Scene::PlasmaFadeOut) offset = t.fadeOutOffset, amplitude = t.fadeOutAmplitude;
        BuildPlasmaWaves(offset, amplitude);
        PlasmaPhaseSet phases = PlasmaPhases;
        literal::Plasma(pixels, scene == Scene::PlasmaWithPicture ? LogoPicture : nullptr, phases);
        DotGridState dots = DotGrid;
        if (scene == Scene::PlasmaWithDots)
            literal::Dots(pixels, dots.dotRowCounter, dots.dotColumnCounter);
    }
    AdvanceShow(ms);
}

// Reads the frame out, as a display or the frames tool does after each frame,
// so that the next one meets the caches that a user's frame meets.
void ShowFrame() {
    static std::vector<uint32_t> shown(Pixels);
    std::memcpy(shown.data(), TheFrame->pixels, Pixels * 4);
}

// Whole frames from the start of the scene at `ms`, drawn and literal in turn.
void BM_WholeFrame(benchmark::State& state, uint32_t ms) {
    PlaceShow(StepAt(ms, DefaultStepRate), DefaultStepRate);
    Compare(
        state, [] {}, [&] { AdvanceShow(ms, DrawShow(TheFrame, ms, BumpPicture, LogoPicture)); },
        [&] { LiteralFrame(TheFrame->pixels, ms); }, ShowFrame);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ProgramName = "bumpwave-bench";
    if (!LoadShow(1, false)) return 1; // the loader says what is missing
    TheFrame = AllocateFrame(FrameWidth, FrameHeight);
    // Whole frames of the scenes but the flashes, on the path the processor
    // takes; they run first, before the renderers' runs set other paths.
    for (const SceneSpan& span : Scenes)
        if (span.scene != Scene::FirstFlash && span.scene != Scene::SecondFlash)
            benchmark::RegisterBenchmark((std::string("WholeFrame/") + span.name).c_str(),
                                         BM_WholeFrame, span.firstMs)
                ->UseManualTime()
                ->Iterations(span.scene == Scene::BumpLights ? 2000 : 200);
    struct Path {
        const char* name;
        bool taken, sse2, avx2, avx512;
    };
    const Path paths[] = {{"portable", true, false, false, false},
                          {"sse2", UseSse2, true, false, false},
                          {"avx2", UseAvx2, true, true, false},
                          {"avx512", UseAvx512, true, true, true}};
    for (const Path& path : paths) {
        if (!path.taken) continue;
        // Fixed counts, since the iterations are counted on the renderer's time
        // alone and the literal plasma takes 1.7 ms a frame: about 0.3 s a run.
        auto add = [&](const char* name, int frames, void (*run)(benchmark::State&)) {
            auto onPath = [=](benchmark::State& state) {
                UseSse2 = path.sse2, UseAvx2 = path.avx2, UseAvx512 = path.avx512;
                run(state);
            };
            benchmark::RegisterBenchmark((std::string(name) + "/" + path.name).c_str(), onPath)
                ->UseManualTime()
                ->Iterations(frames);
        };
        add("BumpLights", 2000, BM_BumpLights);
        if (path.avx512) continue; // only the lights have an AVX-512 path
        add("Plasma", 200, [](benchmark::State& state) { BM_Plasma(state, false); });
        add("PlasmaWithLogo", 200, [](benchmark::State& state) { BM_Plasma(state, true); });
        add("DotGrid", 2000, BM_DotGrid);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
