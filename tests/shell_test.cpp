// The shell's parts on their own: the timeline and the frame-rate line, the
// pacing clock against a fake clock, the command line and the display.
#include "effects/tables.h"
#include "platform/display.h"
#include "shell/frame_loop.h"
#include "shell/main_options.h"
#include "shell/pacing.h"
#include "shell/timeline.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
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

// Run twice on one set of tables (the second after a reset alone, as from the start), then
// the whole show again on tables made anew in the same process, which draws what the first drew.
TEST(Timeline, TheFadeInSettlesFlashesCountSixFramesAndASecondShowDrawsTheSame) {
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    ASSERT_NE(frame, nullptr);
    const uint32_t shown = 0x00010203; // an opaque logo word, unlike any plasma pixel
    std::vector<uint32_t> logo(FrameWidth * FrameHeight, shown), bump(logo.size(), 0x00404040);
    std::vector<uint32_t> shows[2];
    for (auto& show : shows) {
        ASSERT_TRUE(InitEffects(9));
        for (int run = 0; run < 2; ++run) {
            ResetTimeline();
            RenderScene(frame, 13751, nullptr, nullptr);
            EXPECT_EQ(PlasmaRowWave[360], 255.0f); // flat at first
            for (int k = 1; k < 200; ++k) RenderScene(frame, 13751, nullptr, nullptr);
            EXPECT_EQ(std::pair(PlasmaRowWave[120], PlasmaRowWave[360]), std::pair(255.0f, 1.0f));
            std::string seen;
            for (int k = 0; k < 12; ++k) {
                RenderScene(frame, k < 8 ? 31500 : 38500, nullptr, logo.data());
                seen += frame->pixels[300 * FrameWidth + 300] == shown ? '+' : '-';
            }
            // Three frames without the picture, three with; the second flash counts on its own.
            EXPECT_EQ(seen, "---+++-----+");
        }
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
    // One frame three periods late is shown as it comes...
    const int64_t late = ShowFrames(pacer, 0, 10, 1000) + Second / 20;
    auto after = [&](int periods) { return late + periods * Second / 60; };
    EXPECT_EQ(NextFrameStart(pacer, late), late);
    // ...and the next waits a whole period after it, and so on from there.
    EXPECT_EQ(NextFrameStart(pacer, late + 1000), after(1));
    EXPECT_EQ(NextFrameStart(pacer, after(1) + 1000), after(2));
    // A display that syncs hands frames back at or after their deadline: no sleep.
    EXPECT_EQ(NextFrameStart(pacer, after(3)), after(3));
}

// Ten seconds on a display of `hz` that holds each frame shown until its next
// refresh (0: one that does not sync nor say its rate), each step drawn in 2 ms:
// the steps a second, and for how many refreshes each step stays on screen.
TEST(Pacing, StepsSixtyTimesASecondOnAnyDisplayOrAtTheRateAsked) {
    const struct {
        int hz, asked;
        double steps;
        std::set<int64_t> held;
    } displays[] = {
        {60, 60, 60, {1}},    {144, 60, 60, {2, 3}}, {75, 60, 60, {1, 2}},  {50, 60, 50, {1}},
        {0, 60, 60, {}},      {0, 240, 60, {}},      {144, 50, 50, {2, 3}}, {144, 144, 144, {1}},
        {144, 240, 144, {1}}, {240, 240, 240, {1}},  {50, 24, 24, {2, 3}},  {0, 24, 24, {}},
    };
    for (const auto& d : displays) {
        Pacer pacer;
        StartPacer(pacer, StepRate(d.hz, d.asked), 0);
        int64_t now = 0, steps = 0, refresh = 0;
        std::set<int64_t> held;
        for (; now < 10 * Second; ++steps) {
            now += 2'000'000;
            int64_t next = d.hz ? (now * d.hz + Second - 1) / Second : 0;
            if (d.hz && steps) held.insert(next - refresh);
            if (d.hz) now = (refresh = next) * Second / d.hz;
            now = NextFrameStart(pacer, now);
        }
        EXPECT_NEAR(steps / 10.0, d.steps, 0.15) << d.hz << " Hz, " << d.asked << " asked";
        EXPECT_EQ(held, d.held) << d.hz << " Hz, " << d.asked << " asked";
    }
}

// The long options and the keywords (whole or by first letter, any case), in any
// order and repeated; anything else is refused by name, and a rate must be a
// whole number from 24 to 240. --help and --version win where they come first.
TEST(Options, LongOptionsKeywordsAndNothingElse) {
    using enum ParseResult;
    const struct {
        std::vector<const char*> words;
        ParseResult result;
        bool window, paced, calm, loop;
        int rate;
        const char* refused;
    } cases[] = {
        {{}, Run, false, false, false, false, 60, nullptr},
        {{"WINDOW"}, Run, true, false, false, false, 60, nullptr},
        {{"--paced", "--window"}, Run, true, true, false, false, 60, nullptr},
        {{"-w", "-p", "w"}, Run, true, true, false, false, 60, nullptr},
        {{"Paced", "c", "LOOP", "--calm", "--loop"}, Run, false, true, true, true, 60, nullptr},
        {{"WINDOW", "--rate", "30"}, Run, true, true, false, false, 30, nullptr},
        {{"--rate=240", "r", "24"}, Run, false, true, false, false, 24, nullptr},
        {{"rate=50", "R=60"}, Run, false, true, false, false, 60, nullptr},
        {{"WINDOW", "foo"}, Unknown, true, false, false, false, 60, "foo"},
        {{"--hlep"}, Unknown, false, false, false, false, 60, "--hlep"},
        {{"pace"}, Unknown, false, false, false, false, 60, "pace"},
        {{""}, Unknown, false, false, false, false, 60, ""},
        {{"--rate", "241"}, BadRate, false, true, false, false, 0, "--rate"},
        {{"--rate=6O"}, BadRate, false, true, false, false, 0, "--rate"},
        {{"RATE", "99999999999999999999"}, BadRate, false, true, false, false, 0, "RATE"},
        {{"p", "RATE"}, BadRate, false, true, false, false, 0, "RATE"},
        {{"w", "--help"}, Help, true, false, false, false, 60, nullptr},
        {{"?"}, Help, false, false, false, false, 60, nullptr},
        {{"--version", "--help"}, Version, false, false, false, false, 60, nullptr},
        {{"--hlep", "--help"}, Unknown, false, false, false, false, 60, "--hlep"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"bumpwave"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        SCOPED_TRACE(testing::PrintToString(c.words));
        DemoOptions o{true, true, 0, true, true, "stale"};
        EXPECT_EQ(ReadOptions(static_cast<int>(argv.size()), argv.data(), o), c.result);
        EXPECT_EQ(std::tuple(o.window, o.paced, o.calm, o.loop, o.rate),
                  std::tuple(c.window, c.paced, c.calm, c.loop, c.rate));
        EXPECT_STREQ(o.refused, c.refused);
    }
}

// Whole-scale blocks where two frames fit each way, else the largest 4:3 that
// fits, larger or smaller than the frame, never cropped; always centred.
TEST(Display, TheFramePlacementRule) {
    const struct {
        int width, height;
        FrameArea area;
    } screens[] = {
        {640, 480, {0, 0, 640, 480, true}},       {1024, 768, {0, 0, 1024, 768, false}},
        {1366, 768, {171, 0, 1024, 768, false}},  {1280, 720, {160, 0, 960, 720, false}},
        {1280, 1024, {0, 32, 1280, 960, true}},   {1920, 1080, {320, 60, 1280, 960, true}},
        {2560, 1440, {320, 0, 1920, 1440, true}}, {3840, 2160, {640, 120, 2560, 1920, true}},
        {1000, 600, {100, 0, 800, 600, false}},   {641, 481, {0, 0, 640, 480, true}},
        {320, 200, {28, 1, 264, 198, false}},     {1279, 959, {1, 1, 1276, 957, false}},
    };
    auto box = [](FrameArea a) { return std::tuple(a.x, a.y, a.width, a.height, a.wholeScale); };
    for (const auto& s : screens)
        EXPECT_EQ(box(ScaledFrameArea(s.width, s.height)), box(s.area))
            << s.width << " x " << s.height;
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
