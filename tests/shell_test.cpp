// The shell's parts on their own: the timeline and the frame-rate line, the
// pacing clock against a fake clock, the command line and the display.
#include "effects/tables.h"
#include "platform/display.h"
#include "shell/frame_loop.h"
#include "shell/main_options.h"
#include "shell/pacing.h"
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

TEST(Timeline, ASecondShowInTheSameProcessDrawsWhatTheFirstDrew) {
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    ASSERT_NE(frame, nullptr);
    std::vector<uint32_t> bump(FrameWidth * FrameHeight, 0x00404040), shows[2];
    for (auto& show : shows) {
        ASSERT_TRUE(InitEffects(9));
        ResetTimeline();
        for (uint32_t ms : {0u, 0u, 13751u, 20001u, 20001u, 31001u, 39001u}) {
            RenderScene(frame, ms, bump.data(), bump.data());
            show.insert(show.end(), frame->pixels, frame->pixels + FrameWidth * FrameHeight);
        }
        FreeWaveTables();
    }
    EXPECT_TRUE(shows[0] == shows[1]);
    FreeFrame(frame);
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

constexpr int64_t Second = 1'000'000'000;

// Shows frames that take `work` each and return at once, sleeping as told.
static int64_t ShowFrames(Pacer& pacer, int64_t now, int frames, int64_t work) {
    for (int i = 0; i < frames; ++i) now = NextFrameStart(pacer, now + work);
    return now;
}

TEST(Pacing, DeadlinesDoNotDriftAndAMissedOneStartsTheNextPeriodWithoutCatchingUp) {
    for (int rate : {0, 60, 75, 144}) {
        SCOPED_TRACE(rate);
        const int hz = rate ? rate : 60;
        Pacer pacer;
        StartPacer(pacer, rate, 5 * Second);
        // Frame k starts exactly k periods after the first, to the nanosecond.
        EXPECT_EQ(ShowFrames(pacer, 5 * Second, 10'000, 1'000'000),
                  5 * Second + 10'000 * Second / hz);
    }
    Pacer pacer;
    StartPacer(pacer, 60, 0);
    int64_t start = ShowFrames(pacer, 0, 10, 1000);
    // One frame three periods late is shown as it comes...
    const int64_t late = start + Second / 20;
    auto after = [&](int periods) { return late + periods * Second / 60; };
    EXPECT_EQ(NextFrameStart(pacer, late), late);
    // ...and the next waits a whole period after it, and so on from there.
    EXPECT_EQ(NextFrameStart(pacer, late + 1000), after(1));
    EXPECT_EQ(NextFrameStart(pacer, after(1) + 1000), after(2));
    // A display that syncs hands frames back at or after their deadline: no sleep.
    EXPECT_EQ(NextFrameStart(pacer, after(3)), after(3));
}

// WINDOW and PACED, each once, in any case and order, by name or first letter;
// any other line runs the demo unpaced on its own screen.
TEST(Options, TheSwitchesAndNothingElse) {
    const struct {
        std::vector<const char*> words;
        Options asked;
        bool window, paced;
    } cases[] = {
        {{}, Options::Run, false, false},
        {{"WINDOW"}, Options::Run, true, false},
        {{"w"}, Options::Run, true, false},
        {{"Paced"}, Options::Run, false, true},
        {{"w", "p"}, Options::Run, true, true},
        {{"p", "pace"}, Options::Run, false, false},
        {{"window", "paced", "w"}, Options::Run, false, false},
        {{""}, Options::Run, false, false},
        {{"--help"}, Options::Help, false, false},
        {{"?"}, Options::Help, false, false},
        {{"--version"}, Options::Version, false, false},
        {{"--version", "--help"}, Options::Run, false, false},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"bumpwave"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        SCOPED_TRACE(testing::PrintToString(c.words));
        bool window = true, paced = true;
        EXPECT_EQ(ReadOptions(static_cast<int>(argv.size()), argv.data(), window, paced), c.asked);
        EXPECT_EQ(window, c.window);
        EXPECT_EQ(paced, c.paced);
    }
}

// A window lends the frame its own pixels until it closes: showing it copies nothing.
TEST(Display, AWindowLendsTheFrameItsOwnPixels) {
    Display* display = OpenDisplay(false, false, "lent");
    ASSERT_NE(display, nullptr);
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    LendPixels(display, frame);
    EXPECT_NE(frame->pixels, frame->ownPixels);
    CloseDisplay(display);
    EXPECT_EQ(frame->pixels, frame->ownPixels);
    FreeFrame(frame);
}
