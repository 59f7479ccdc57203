#include "effects/tables.h"
#include "shell/frame_loop.h"
#include "shell/timeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Timeline, ScenesIncludeBothEndsOfTheirRanges) {
    const uint32_t ends[] = {13750, 20000, 31000, 32000, 38000, 39000};
    EXPECT_EQ(SceneAt(0), Scene::BumpLights);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(SceneAt(ends[i]), static_cast<Scene>(i)) << ends[i];
        EXPECT_EQ(SceneAt(ends[i] + 1), static_cast<Scene>(i + 1)) << ends[i];
    }
    EXPECT_EQ(SceneAt(UINT32_MAX), Scene::PlasmaFadeOut);
}

TEST(Timeline, TheFadeInSettlesOnTheStartUpWavesAndFlashesCountSixFrames) {
    ASSERT_TRUE(InitEffects(9));
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    ASSERT_NE(frame, nullptr);
    const uint32_t shown = 0x00010203; // an opaque logo word, unlike any plasma pixel
    std::vector<uint32_t> logo(FrameWidth * FrameHeight, shown);
    for (int run = 0; run < 2; ++run) { // the second after a reset, as from the start
        ResetTimeline();
        RenderScene(frame, 13751, nullptr, nullptr);
        EXPECT_EQ(PlasmaRowWave[360], 255.0f); // flat at first
        for (int k = 1; k < 200; ++k) RenderScene(frame, 13751, nullptr, nullptr);
        EXPECT_EQ(PlasmaRowWave[120], 255.0f); // 128 + 127
        EXPECT_EQ(PlasmaRowWave[360], 1.0f);   // 128 − 127
        std::string seen;
        for (int k = 0; k < 12; ++k) {
            RenderScene(frame, k < 8 ? 31500 : 38500, nullptr, logo.data());
            seen += frame->pixels[300 * FrameWidth + 300] == shown ? '+' : '-';
        }
        // Three frames without the picture, three with; the second flash counts on its own.
        EXPECT_EQ(seen, "---+++-----+");
    }
    FreeFrame(frame);
    FreeWaveTables();
}

TEST(FrameRate, PrintsTheSinglePrecisionRate) {
    for (auto [frames, ms, line] :
         {std::tuple{2000u, 41017u, "48.7603"}, {1u, 41000u, "0.0243902"}}) {
        FramesPerSecond = ComputeFramesPerSecond(frames, ms);
        testing::internal::CaptureStdout();
        PrintFrameRate();
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "\n640 * 480 * 32 @ " + std::string(line) + " FPS\n");
    }
}

TEST(Clock, MillisecondsWrapAroundInThirtyTwoBits) {
    EXPECT_EQ(MillisecondsBetween({10, 999999}, {11, 0}), 1u); // whole milliseconds, truncated
    EXPECT_EQ(MillisecondsBetween({5, 0}, {46, 17000}), 41017u);
    // Seconds × 1000 overflows here; only the difference counts.
    EXPECT_EQ(MillisecondsBetween({4294967, 295000}, {4294968, 0}), 705u);
    EXPECT_EQ(MillisecondsBetween({4000000000u, 0}, {4000000041u, 500000}), 41500u);
    ClockReading a = ReadClock(), b = ReadClock();
    EXPECT_LT(MillisecondsBetween(a, b), 1000u);
}
