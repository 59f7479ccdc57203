#include "effects/dot_grid.h"
#include "effects/tables.h"
#include "shell/frame_loop.h"
#include "shell/timeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint32_t Shown = 0x00010203; // an opaque logo word, unlike any plasma pixel

class Timeline : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InitEffects(9));
        ResetTimeline();
        frame = AllocateFrame(FrameWidth, FrameHeight);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override {
        FreeFrame(frame);
        FreeWaveTables();
    }
    void Render(uint32_t elapsedMs) { RenderScene(frame, elapsedMs, bump.data(), logo.data()); }
    bool PictureShown() const { return frame->pixels[300 * FrameWidth + 300] == Shown; }
    // Which renderers a frame at `elapsedMs` runs, told by the state each one moves.
    std::string Renderers(uint32_t elapsedMs) {
        Light red = redLight;
        PlasmaPhaseSet phases = PlasmaPhases;
        uint32_t dots = DotRowCounter;
        Render(elapsedMs);
        std::string ran;
        if (redLight.x != red.x) ran += "lights ";
        if (PlasmaPhases.redRowPhase != phases.redRowPhase) ran += "plasma ";
        if (DotRowCounter != dots) ran += "dots ";
        if (PictureShown()) ran += "picture ";
        return ran;
    }
    Frame* frame = nullptr;
    std::vector<uint32_t> bump = std::vector<uint32_t>(FrameWidth * FrameHeight, 0x00808080);
    std::vector<uint32_t> logo = std::vector<uint32_t>(FrameWidth * FrameHeight, Shown);
};

std::string FrameRateLine(uint32_t frames, uint32_t elapsedMs) {
    FramesPerSecond = ComputeFramesPerSecond(frames, elapsedMs);
    testing::internal::CaptureStdout();
    PrintFrameRate();
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(SceneChoice, RangesIncludeBothEnds) {
    EXPECT_EQ(SceneAt(0), Scene::BumpLights);
    EXPECT_EQ(SceneAt(13750), Scene::BumpLights);
    EXPECT_EQ(SceneAt(13751), Scene::PlasmaFadeIn);
    EXPECT_EQ(SceneAt(20000), Scene::PlasmaFadeIn);
    EXPECT_EQ(SceneAt(20001), Scene::PlasmaWithDots);
    EXPECT_EQ(SceneAt(31000), Scene::PlasmaWithDots);
    EXPECT_EQ(SceneAt(31001), Scene::FirstFlash);
    EXPECT_EQ(SceneAt(32000), Scene::FirstFlash);
    EXPECT_EQ(SceneAt(32001), Scene::PlasmaWithPicture);
    EXPECT_EQ(SceneAt(38000), Scene::PlasmaWithPicture);
    EXPECT_EQ(SceneAt(38001), Scene::SecondFlash);
    EXPECT_EQ(SceneAt(39000), Scene::SecondFlash);
    EXPECT_EQ(SceneAt(39001), Scene::PlasmaFadeOut);
    EXPECT_EQ(SceneAt(40999), Scene::PlasmaFadeOut);
    EXPECT_EQ(SceneAt(UINT32_MAX), Scene::PlasmaFadeOut);
}

TEST_F(Timeline, EachSceneRunsItsRenderers) {
    EXPECT_EQ(Renderers(0), "lights ");
    EXPECT_EQ(Renderers(13750), "lights ");
    EXPECT_EQ(Renderers(13751), "plasma ");
    EXPECT_EQ(Renderers(20001), "plasma dots ");
    EXPECT_EQ(Renderers(31000), "plasma dots ");
    EXPECT_EQ(Renderers(32001), "plasma picture ");
    EXPECT_EQ(Renderers(38000), "plasma picture ");
    EXPECT_EQ(Renderers(39001), "plasma ");
    EXPECT_EQ(Renderers(41000), "plasma "); // past the end the last scene holds
}

TEST_F(Timeline, AShortFadeInLeavesItsLastTablesToTheLaterScenes) {
    const int n = 50; // frames the fade-in gets, fewer than the 128 it needs
    Render(13751);
    EXPECT_EQ(PlasmaRowWave[0], 255.0f); // first frame: every entry 255
    EXPECT_EQ(PlasmaColumnWave[320], 255.0f);
    for (int k = 2; k <= n; ++k) Render(15000);
    EXPECT_EQ(FadeInAmplitude, n);
    EXPECT_EQ(FadeInOffset, 255 - n);
    // The tables were built with amplitude n − 1 and offset 256 − n ...
    EXPECT_EQ(PlasmaRowWave[120], 255.0f);
    EXPECT_EQ(PlasmaRowWave[360], static_cast<float>(256 - n - (n - 1)));
    // ... and the dots, flash and picture scenes draw with them unchanged.
    for (uint32_t t : {20001u, 31001u, 32001u, 38001u}) Render(t);
    EXPECT_EQ(PlasmaRowWave[360], static_cast<float>(257 - 2 * n));
}

TEST_F(Timeline, AFullFadeInSettlesOnTheStartUpWaves) {
    for (int k = 0; k < 200; ++k) Render(13751);
    EXPECT_EQ(FadeInAmplitude, 127);
    EXPECT_EQ(FadeInOffset, 128);
    EXPECT_EQ(PlasmaRowWave[120], 255.0f);
    EXPECT_EQ(PlasmaRowWave[360], 1.0f);
}

TEST_F(Timeline, FlashesRunSixFrameCyclesWithCountersOfTheirOwn) {
    std::string first, second;
    for (int k = 0; k < 8; ++k) {
        Render(31500);
        first += PictureShown() ? "on " : "off ";
    }
    EXPECT_EQ(first, "off off off on on on off off ");
    EXPECT_EQ(FirstFlashCounter, 2);
    for (int k = 0; k < 4; ++k) {
        Render(38500);
        second += PictureShown() ? "on " : "off ";
    }
    EXPECT_EQ(second, "off off off on ");
    EXPECT_EQ(FirstFlashCounter, 2);
}

TEST_F(Timeline, FadeOutStartsAt127And126AndSettlesAtZero) {
    Render(39001);
    EXPECT_EQ(PlasmaRowWave[120], 253.0f); // 127 + 126
    EXPECT_EQ(PlasmaRowWave[360], 1.0f);
    EXPECT_EQ(FadeOutAmplitude, 125);
    EXPECT_EQ(FadeOutOffset, 126);
    for (int k = 2; k <= 127; ++k) Render(40000);
    EXPECT_EQ(PlasmaRowWave[120], 1.0f); // frame 127: amplitude 0 and offset 1 ...
    EXPECT_EQ(PlasmaRowWave[360], 1.0f);
    Render(40000); // ... frame 128 on: all 0, a black plasma
    for (int i = 0; i < PlasmaRowCount; ++i) ASSERT_EQ(PlasmaRowWave[i], 0.0f);
    for (int i = 0; i < FrameWidth * FrameHeight; ++i) ASSERT_EQ(frame->pixels[i], 0u);
}

TEST(FrameRate, PrintsTheSinglePrecisionRate) {
    EXPECT_FLOAT_EQ(ComputeFramesPerSecond(2000, 41017), 48.76027f);
    EXPECT_EQ(FrameRateLine(2000, 41017), "\n640 * 480 * 32 @ 48.7603 FPS\n");
    EXPECT_EQ(FrameRateLine(1, 41000), "\n640 * 480 * 32 @ 0.0243902 FPS\n");
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
