// The renderers against their literal versions, frame after frame, on every path.
#include "effects/bump_lights.h"
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/random.h"
#include "effects/vector_path.h"
#include "tests/literal_effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>

using namespace literal;

static std::vector<uint32_t> Words(const Frame* frame) {
    return {frame->pixels, frame->pixels + frame->bytesPerRow / 4 * H};
}

TEST(Effects, RenderersDrawTheLiteralFrames) {
    std::mt19937 random(11);
    // Steep relief sends u and v far outside 0..127; as a logo, a quarter is transparent.
    std::vector<uint32_t> picture(W * H);
    for (uint32_t& word : picture) word = random() % 4 ? random() & 0x00FFFFFF : random();
    picture[0] = OverlayKey;
    picture[1] = OverlayKey - 1;
    const bool avx512 = UseAvx512, avx2 = UseAvx2, sse2 = UseSse2;
    // Each path the processor has on packed and padded rows; AVX-512 every other lights' frame.
    for (int run = 0; run < 6; ++run) {
        if (run % 3 == 2 && !avx2) continue;
        UseSse2 = run % 3 > 0 && sse2;
        UseAvx2 = run % 3 == 2;
        const int pitch = run < 3 ? W : W + 18;
        SCOPED_TRACE(testing::Message() << "sse2, avx2, pitch: " << UseSse2 << UseAvx2 << pitch);
        Frame* frame = AllocateFrame(W, H, pitch * 4);
        ASSERT_NE(frame, nullptr);
        std::vector<uint32_t> expected(pitch * H);
        ASSERT_EQ(Words(frame), expected); // allocated cleared
        ASSERT_TRUE(InitEffects(run + 1));
        // No renderer but the lights may write the padding.
        for (int i = 0; i < pitch * H; ++i)
            if (i % pitch >= W) frame->pixels[i] = expected[i] = 0x00ABCDEF;
        PlasmaPhaseSet phases = PlasmaPhases;
        uint32_t dotRow = DotGrid.dotRowCounter = 470, dotColumn = DotGrid.dotColumnCounter = 630;
        for (int step = 0; step < 40; ++step) {
            if (step % 10 == 5) BuildPlasmaWaves(255 - step, step); // as the fades do
            if (step == 30) // negative and wrapping bytes, pushes that wrap
                for (auto [wave, count, range] : {std::tuple{PlasmaRowWave, PlasmaRowCount, 1000},
                                                  {PlasmaColumnWave, PlasmaColumnCount, 1000},
                                                  {DotRowWave, PlasmaRowCount, 500},
                                                  {DotColumnWave, PlasmaColumnCount, 600}})
                    for (float& value : std::span(wave, count))
                        value = std::uniform_real_distribution<float>(-range, range)(random);
            const uint32_t* overlay = step % 3 ? nullptr : picture.data();
            if (step % 7 == 3)
                FailNextLock(frame);
            else
                literal::Plasma(expected.data(), overlay, phases, pitch);
            if (RenderPlasma(frame, overlay)) StepPlasma(); // a failed lock: no move
            if (step % 2) {
                if (step % 10 == 9) FailNextLock(frame);
                literal::Dots(step % 10 == 9 ? nullptr : expected.data(), dotRow, dotColumn, pitch);
                RenderDotGrid(frame);
                StepDotGrid();
            }
            ASSERT_EQ(Words(frame), expected) << "plasma, frame " << step;
        }
        // Red and green reach each end of their travel one step at a time; blue crosses red.
        Light lights[3] = {{495, 335, 1, 1}, {14, 14, -1, -1}, {400, 250, 3, 2}};
        Lights.redLight = lights[0], Lights.greenLight = lights[1], Lights.blueLight = lights[2];
        std::vector<uint32_t> lent(pitch * H, 0x00FFFFFF); // a display's pixels, never cleared
        for (int step = 0; step < 40; ++step) {
            UseAvx512 = UseAvx2 && avx512 && step % 2;
            if (step % 9 == 4) FailNextLock(frame);
            if (step == 20) frame->pixels = lent.data();
            if (step == 30) UseOwnPixels(frame); // holding the lights of frame 19
            if (step == 35) { // a lock may draw anywhere: the lights then clear it all
                literal::Plasma(expected.data(), nullptr, phases, pitch);
                if (RenderPlasma(frame, nullptr)) StepPlasma();
            }
            literal::BumpLights(step % 9 == 4 ? nullptr : expected.data(), picture.data(), lights,
                                pitch);
            RenderBumpLights(frame, picture.data());
            StepBumpLights();
            ASSERT_EQ(Words(frame), expected) << "lights, frame " << step;
            ASSERT_EQ(frame->drawnCount, 3) << "a display need send only the lights' windows";
            std::vector<uint32_t> outside = Words(frame); // lit only in the areas said drawn
            for (const FrameRect& a : std::span(frame->drawn, frame->drawnCount))
                for (int y = a.y; y < a.y + a.height; ++y)
                    std::fill_n(&outside[y * pitch + a.x], a.width, 0);
            ASSERT_EQ(outside, std::vector<uint32_t>(outside.size())) << "frame " << step;
        }
        FreeWaveTables();
        FreeFrame(frame);
    }
}

static int allocationsLeft;

TEST(Effects, AFailedAllocationStopsTheBuildAndLeavesTheRestToFreeAndBadFramesAreRefused) {
    // Each allocation in turn fails: those before it are kept, and freed (leak-checked).
    float** waves[] = {&PlasmaRowWave, &PlasmaColumnWave, &DotColumnWave, &DotRowWave};
    for (int left = 0; left < 4; ++left) {
        allocationsLeft = left;
        EXPECT_FALSE(InitEffects(
            1, [](size_t size) { return allocationsLeft-- > 0 ? std::malloc(size) : nullptr; }));
        FreeWaveTables();
        for (float** wave : waves) EXPECT_EQ(*wave, nullptr);
    }
    // Nor is a frame made whose rows cannot hold 640 words or whose stride needs 17 bits.
    for (auto [width, bytesPerRow] : {std::pair{W, 2556}, {W, 40000}, {0, 0}})
        EXPECT_EQ(AllocateFrame(width, H, bytesPerRow), nullptr) << width << " " << bytesPerRow;
}

#ifdef __GLIBC__
TEST(Effects, TheDemosOwnRandomNumbersAreTheCLibrarysForEverySeed) {
    for (unsigned seed : {0u, 1u, 2026u, 127773u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        SeedRandom(seed);
        std::srand(seed);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(NextRandom(), std::rand()) << seed << ", " << i;
    }
}
#endif
