// The shell's parts on their own: the timeline, the frame loop on a fake clock, the command line.
#include "effects/tables.h"
#include "platform/display.h"
#include "shell/frame_loop.h"
#include "shell/main_options.h"
#include "shell/pacing.h"
#include "shell/timeline.h"

#include <gtest/gtest.h>

TEST(Timeline, ScenesIncludeBothEndsOfTheirRanges) {
    const uint32_t ends[] = {13750, 20000, 31000, 32000, 38000, 39000};
    EXPECT_EQ(SceneAt(0), Scene::BumpLights);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(SceneAt(ends[i]), static_cast<Scene>(i)) << ends[i];
        EXPECT_EQ(SceneAt(ends[i] + 1), static_cast<Scene>(i + 1)) << ends[i];
    }
    EXPECT_EQ(SceneAt(UINT32_MAX), Scene::PlasmaFadeOut);
}

constexpr int64_t Second = 1'000'000'000, Ms = 1'000'000; // in nanoseconds

static uint64_t Hash(const Frame* frame) { // FNV-1a
    uint64_t hash = 1469598103934665603u;
    for (int y = 0; y < FrameHeight; ++y)
        for (int x = 0; x < FrameWidth; ++x)
            hash = (hash ^ frame->pixels[y * (frame->bytesPerRow / 4) + x]) * 1099511628211u;
    return hash;
}

struct ShowFixture : testing::Test {
    Display* display = OpenDisplay(false, false, "steps");
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    std::vector<uint32_t> bump = std::vector<uint32_t>(FrameWidth * FrameHeight),
                          logo = std::vector<uint32_t>(FrameWidth * FrameHeight, 0x00010203);

    void SetUp() override {
        ASSERT_TRUE(display && frame);
        LendPixels(display, frame);
        EXPECT_NE(frame->pixels, frame->ownPixels) << "a window lends the frame its own pixels";
        for (size_t i = 0; i < bump.size(); ++i) bump[i] = static_cast<uint32_t>(i * 2654435761u);
    }
    void TearDown() override {
        FreeWaveTables();
        CloseDisplay(display);
        EXPECT_EQ(frame->pixels, frame->ownPixels) << "until it closes";
        FreeFrame(frame);
    }
    void NewShow() {
        FreeWaveTables();
        ASSERT_TRUE(InitEffects(5));
        StartTimeline(5, false);
    }
    void Start(int rate, int64_t now) {
        StopRequested = 0;
        NewShow();
        StartFrameLoop(frame, display, rate, bump.data(), logo.data(), now);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    std::string Said() {
        return testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    }
    // What the recorder draws at these times, then at the first `steps` steps' times.
    std::vector<uint64_t> Recorded(std::vector<uint32_t> times, int rate = 0, uint32_t steps = 0) {
        for (uint32_t k = 0; k < steps; ++k) times.push_back(StepMilliseconds(k, rate));
        NewShow();
        std::vector<uint64_t> hashes;
        for (uint32_t ms : times) {
            AdvanceShow(ms, DrawShow(frame, ms, bump.data(), logo.data()));
            hashes.push_back(Hash(frame));
        }
        return hashes;
    }
};

TEST_F(ShowFixture, TheFadeInSettlesAndEachFlashCountsItsOwnSixFrames) {
    NewShow();
    auto render = [&](uint32_t ms, const uint32_t* picture) {
        AdvanceShow(ms, DrawShow(frame, ms, nullptr, picture));
    };
    render(13751, nullptr);
    EXPECT_EQ(PlasmaRowWave[360], 255.0f);
    for (int k = 1; k < 200; ++k) render(13751, nullptr);
    EXPECT_EQ(std::pair(PlasmaRowWave[120], PlasmaRowWave[360]), std::pair(255.0f, 1.0f));
    std::string seen;
    for (int k = 0; k < 12; ++k) {
        render(k < 8 ? 31500 : 38500, logo.data());
        seen += frame->pixels[300 * frame->bytesPerRow / 4 + 300] == logo[0] ? '+' : '-';
    }
    EXPECT_EQ(seen, "---+++-----+");
}

// Step k is due half a period before floor(k × 1000 / rate) ms, not a nanosecond earlier.
TEST_F(ShowFixture, APacedShowDrawsTheRecordersFrames) {
    const int rate = 24;
    const std::vector<uint64_t> recorded = Recorded({}, rate, 984);
    const int64_t start = 77 * Second;
    Start(rate, start);
    for (uint32_t k = 0; k < recorded.size(); ++k) {
        const int64_t due = start + int64_t{k} * 1000 / rate * Ms - Second / (2 * rate);
        ASSERT_EQ(StepFrameLoop(due - 1, false), ShowPhase::Visuals);
        ASSERT_EQ(FrameCount, k) << "drawn before its time";
        ASSERT_EQ(NextTurnAt(due - 1), due);
        StepFrameLoop(due, false);
        ASSERT_EQ(Hash(frame), recorded[k]) << "step " << k;
    }
    EXPECT_EQ(StepFrameLoop(start + 41 * Second, false), ShowPhase::PlayOut);
    EXPECT_EQ(Said(), "\n640 * 480 * 32 @ 24 FPS\n"); // every step shown
}

// Paused time is no show time.
TEST_F(ShowFixture, ALateFrameTakesEveryStepDueAndDrawsTheLast) {
    const int rate = 60;
    const std::vector<uint64_t> recorded = Recorded({}, rate, 2460);
    const int64_t start = 3 * Second, pause = 500 * Second;
    const uint32_t drawn[] = {0, 1, 2, 7, 8, 824, 830, 1300, 1800, 2350, 2459}; // 830: fade-in
    Start(rate, start);
    for (uint32_t i = 0; i < std::size(drawn); ++i) {
        // Half a period late: a millisecond before the step's own time.
        const int64_t late =
            start + StepDueAt(drawn[i], rate) + Second / 120 - Ms + pause * (i > 5);
        ASSERT_EQ(StepFrameLoop(late, false), ShowPhase::Visuals);
        EXPECT_EQ(std::pair(FrameCount, StepsTaken()), std::pair(i + 1, drawn[i] + 1));
        EXPECT_EQ(Hash(frame), recorded[drawn[i]]) << "step " << drawn[i];
        if (i != 5) continue;
        PauseShow(true, late);
        EXPECT_EQ(StepFrameLoop(late + pause / 2, false), ShowPhase::Visuals);
        EXPECT_EQ(FrameCount, i + 1) << "a step taken while paused";
        PauseShow(false, late + pause);
    }
    EXPECT_EQ(StepFrameLoop(start + pause + 41 * Second, false), ShowPhase::PlayOut);
    EXPECT_EQ(Said(), "\n640 * 480 * 32 @ 0.268293 FPS\n"
                      "bumpwave: 11 of 2460 steps shown: the display could not keep up\n");
}

// Back or forth, paused or not.
TEST_F(ShowFixture, ASeekShowsTheFrameOfTheShowPlacedThere) {
    const std::vector<uint64_t> recorded = Recorded({}, 60, 2460);
    Start(60, 0);
    const uint32_t moments[] = {33000, 5000, 20000, 40999, 16, 13751, 31016, 0, 38500};
    int64_t now = 0;
    for (uint32_t ms : moments) {
        if (ms == 16) PauseShow(true, now);
        EXPECT_EQ(SeekShow(ms, now), StepMilliseconds(StepAt(ms, 60), 60));
        EXPECT_EQ(Hash(frame), recorded[StepAt(ms, 60)]) << "at " << ms << " ms";
        EXPECT_EQ(ShownMilliseconds(), StepMilliseconds(StepAt(ms, 60), 60));
        if (ShowPaused()) now += 3 * Second; // paused from the fifth seek on: nothing moves
        StepFrameLoop(now, false);
    }
    PauseShow(false, now);
    StepFrameLoop(now + Second, false); // a second on from 38500 ms: the fade-out
    EXPECT_EQ(Hash(frame), recorded[StepAt(39500, 60)]);
    SeekShow(41000, now + Second); // past the visuals: their end
    EXPECT_EQ(StepFrameLoop(now + Second, false), ShowPhase::PlayOut);
    Said();
}

// After a stall of the whole program or of its picture alone, within a tenth of a second.
TEST_F(ShowFixture, TheShowsClockFollowsTheMusicAcrossStalls) {
    for (bool musicStalls : {true, false}) {
        Start(60, 0);
        double music = -0.2; // the card starts a fifth of a second late
        int64_t now = 0, turn = Second / 60;
        for (int k = 0; k < 600; ++k, now += turn, music += 1.0 / 60) {
            if (k == 200) now += Second, music += musicStalls ? 0 : 1; // the stall
            StepFrameLoop(now, false, music < 0 ? 0 : music);
            if (k > 20 && k != 200) {
                EXPECT_NEAR(ShownMilliseconds(), music * 1000, 100) << "turn " << k;
            }
        }
        Said();
    }
    // Without the music's place the show's clock goes on by itself.
    Start(60, 0);
    StepFrameLoop(10 * Second, false, 3.0);
    StepFrameLoop(20 * Second, false, -1);
    EXPECT_EQ(ShownMilliseconds(), StepMilliseconds(StepAt(20000, 60), 60));
    Said();
}

TEST_F(ShowFixture, AStopOrAFewLateRefreshesAreNoDisplayThatCouldNotKeepUp) {
    Start(60, 0);
    for (int64_t k = 0; k < 180; ++k)
        StepFrameLoop(k * Second / 60 + (k % 50 ? 0 : 20 * Ms), false);
    StopRequested = 1;
    EXPECT_EQ(StepFrameLoop(3 * Second + Ms, false), ShowPhase::PlayOut);
    EXPECT_EQ(Said().find("steps shown"), std::string::npos);
}

// The first at 0; the rate over unpaused time.
TEST_F(ShowFixture, AnUnpacedShowStepsOncePerFrameAtTheClocksTime) {
    // Frames at these clock times, paused from 13 s to 20 s: these times of the show.
    const int64_t clock[] = {9 * Second, 13758 * Ms, 20751 * Ms, 27001 * Ms};
    const uint32_t show[] = {0, 13758, 13751, 20001};
    const std::vector<uint64_t> recorded = Recorded({show, show + 4});
    Start(0, 0);
    for (int i = 0; i < 4; ++i) {
        if (i == 2) PauseShow(false, 20 * Second);
        StepFrameLoop(clock[i], false);
        EXPECT_EQ(Hash(frame), recorded[i]) << "at " << show[i] << " ms";
        if (i != 1) continue;
        PauseShow(true, 13 * Second);
        StepFrameLoop(14 * Second, false); // paused: nothing drawn, and no turn at once
        EXPECT_EQ(std::pair(FrameCount, NextTurnAt(14 * Second) > 14 * Second),
                  std::pair(2u, true));
    }
    EXPECT_EQ(StepFrameLoop(48017 * Ms, false), ShowPhase::PlayOut);
    EXPECT_EQ(FrameCount, 4u);
    EXPECT_EQ(Said(), "\n640 * 480 * 32 @ 0.0975205 FPS\n");
}

TEST_F(ShowFixture, TheMusicPlaysOutThenTheSecondsPauseAndAStopSkipsThePause) {
    // Turns at these times, the music played out from the fourth on.
    const int64_t turns[] = {0,           41 * Second,     42 * Second,
                             43 * Second, 44 * Second - 1, 44 * Second};
    // The turn a stop comes before, or -1, and the phases.
    const std::pair<int, std::string> cases[] = {
        {-1, "VPPSSE"}, {1, "VPPEEE"}, {2, "VPPEEE"}, {4, "VPPSEE"}};
    for (const auto& [stopBefore, expected] : cases) {
        Start(60, 0);
        std::string phases;
        for (int i = 0; i < 6; ++i) {
            if (i == stopBefore) StopRequested = 1;
            phases += "IVPSE"[static_cast<int>(StepFrameLoop(turns[i], i >= 3))];
        }
        EXPECT_EQ(phases, expected) << "stopped before turn " << stopBefore;
        const std::string late = "bumpwave: 1 of 2460 steps shown: the display could not keep up\n";
        EXPECT_EQ(Said(), "\n640 * 480 * 32 @ 0.0243902 FPS\n" + (stopBefore == 1 ? "" : late));
    }
}

// Keywords whole or by first letter, in any case, order and number; what comes first wins.
TEST(Options, LongOptionsKeywordsAndNothingElse) {
    using enum ParseResult;
    const struct {
        std::vector<const char*> words;
        ParseResult result;
        std::string set; // of window, paced, calm, loop
        int rate;
        std::string refused; // and the value refused after a space, if one is given
    } cases[] = {
        {{}, Run, "", 60, ""},
        {{"--paced", "--window"}, Run, "wp", 60, ""},
        {{"-w", "-p", "w"}, Run, "wp", 60, ""},
        {{"Paced", "c", "LOOP", "--calm", "--loop"}, Run, "pcl", 60, ""},
        {{"WINDOW", "--rate", "30"}, Run, "wp", 30, ""},
        {{"--rate=240", "r", "24"}, Run, "p", 24, ""},
        {{"rate=50", "R=60"}, Run, "p", 60, ""},
        {{"pace"}, Unknown, "", 60, "pace"},
        {{""}, Unknown, "", 60, ""},
        {{"--rate", "241"}, BadNumber, "", 60, "--rate 241"},
        {{"--rate=6O"}, BadNumber, "", 60, "--rate 6O"},
        {{"RATE", "99999999999999999999"}, BadNumber, "", 60, "RATE 99999999999999999999"},
        {{"p", "RATE"}, BadNumber, "p", 60, "RATE"},
        {{"--seed", "4294967296"}, BadNumber, "", 60, "--seed 4294967296"},
        {{"--seed=-1"}, BadNumber, "", 60, "--seed -1"},
        {{"--start", "41.001"}, BadNumber, "", 60, "--start 41.001"},
        {{"--start", "nan"}, BadNumber, "", 60, "--start nan"},
        {{"--seed", "4294967295", "--start=31.5"}, Run, "p", 60, ""},
        {{"w", "--help"}, Help, "w", 60, ""},
        {{"?"}, Help, "", 60, ""},
        {{"--version", "--help"}, Version, "", 60, ""},
        {{"--hlep", "--help"}, Unknown, "", 60, "--hlep"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"bumpwave"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        SCOPED_TRACE(testing::PrintToString(c.words));
        DemoOptions o{true, true, 0, true, true, 1, 2, "stale", "stale", "stale"};
        EXPECT_EQ(ReadOptions(static_cast<int>(argv.size()), argv.data(), o), c.result);
        if (c.words.size() == 3 && c.words[0][2] == 's') {
            EXPECT_EQ(std::pair(o.seed, o.startMs), std::pair(std::optional(4294967295u), 31500u));
        }
        const std::string set = std::string(o.window ? "w" : "") + (o.paced ? "p" : "") +
                                (o.calm ? "c" : "") + (o.loop ? "l" : "");
        EXPECT_EQ(std::pair(set, o.rate), std::pair(c.set, c.rate));
        EXPECT_EQ(o.refused ? o.refused + (o.value ? " " + std::string(o.value) : "") : "",
                  c.refused);
    }
}

// Whole-scale blocks where two frames fit each way, else the largest 4:3 that fits; centred.
TEST(Display, TheFramePlacementRule) {
    const struct {
        int width, height;
        FrameArea area;
    } screens[] = {
        {641, 481, {0, 0, 640, 480, true}},         {1366, 768, {171, 0, 1024, 768, false}},
        {1280, 720, {160, 0, 960, 720, false}},     {1920, 1080, {320, 60, 1280, 960, true}},
        {3840, 2160, {640, 120, 2560, 1920, true}}, {320, 200, {28, 1, 264, 198, false}},
        {1279, 959, {1, 1, 1276, 957, false}},      {800, 900, {0, 150, 800, 600, false}},
    };
    auto box = [](FrameArea a) { return std::tuple(a.x, a.y, a.width, a.height, a.wholeScale); };
    for (const auto& s : screens)
        EXPECT_EQ(box(ScaledFrameArea(s.width, s.height)), box(s.area))
            << s.width << " x " << s.height;
}
