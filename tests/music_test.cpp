// The reader on scripted streams, and the music thread on SDL's "disk" driver, which writes what
// it plays to a file in real time. tests/music's tones never rest: any silence is a gap.
#include "assets/music.h"
#include "files.h"
#include "platform/audio.h"
#include "platform/thread.h"

#include <array>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

const fs::path Music = SourceDir / "tests/music";

static constexpr long Forever = -1000, Late = -2000; // steps: endless holes; 100 ms late

struct Step {
    long bytes; // > 0: that many bytes, handed out 840 at a time; <= 0: that result
    int channels = 2;
    long rate = 44100;
};

static struct {
    size_t at, reads, puts;                // at: the step being read
    std::string decoded, played;           // played: all that was taken, of playable streams
    std::vector<std::array<long, 3>> runs; // rate, channels, bytes of each run taken
} R;

// Reads a script of steps in whole frames, as vorbisfile does.
static long Read(void* script, char* buffer, int length, long* rate, int* channels) {
    auto& steps = *static_cast<std::vector<Step>*>(script);
    ++R.reads;
    if (R.at == steps.size()) return 0;
    Step& step = steps[R.at];
    if (step.bytes == Forever) return OV_HOLE;
    if (step.bytes == Late) {
        PauseMilliseconds(100);
        step.bytes = OV_HOLE;
    }
    if (step.bytes <= 0) return steps[R.at++].bytes;
    const int frame = 2 * step.channels;
    if (length < frame) return OV_EINVAL; // as ov_read says it
    long count = std::min<long>({step.bytes, 840, length / frame * frame});
    for (long i = 0; i < count; ++i) buffer[i] = static_cast<char>((R.decoded.size() + i) * 97);
    if (step.rate >= 1 && step.rate <= 384000 && step.channels <= 8)
        R.decoded.append(buffer, static_cast<size_t>(count));
    *rate = step.rate;
    *channels = step.channels;
    if ((step.bytes -= count) == 0) ++R.at;
    return count;
}

// A card that refuses every other put that does not wait: what it refused must come again.
static bool Put(const void* data, long bytes, long rate, int channels, bool wait) {
    if (!wait && R.puts++ % 2 == 0) return false;
    EXPECT_EQ(bytes % (2 * channels), 0);
    EXPECT_LE(bytes, std::max(1L, rate / 20) * 2 * channels) << "more than 50 ms at once";
    if (R.runs.empty() || R.runs.back()[0] != rate || R.runs.back()[1] != channels)
        R.runs.push_back({rate, channels, 0});
    R.runs.back()[2] += bytes;
    R.played.append(static_cast<const char*>(data), static_cast<size_t>(bytes));
    return true;
}

TEST(MusicStream, PlaysEveryPlayableStreamWholeUntilItsEndAnErrorOrTooManyHoles) {
    std::vector<Step> holes(3 * 65, {OV_HOLE}); // 64 in a row are not yet too many
    holes[0] = holes[65] = holes[130] = {1000};
    const std::string skipped = "bumpwave: testing.ogg: a stream of ";
    struct {
        std::vector<Step> script;              // read, and so used up
        std::vector<std::array<long, 3>> runs; // as played
        std::string said = {};                 // on stderr
    } cases[] = {
        {{{5000, 2}, {7200, 6, 48000}, {3000, 1, 22050}, {4094, 1, 22050}, {12, 6}},
         {{44100, 2, 5000}, {48000, 6, 7200}, {22050, 1, 7094}, {44100, 6, 12}}},
        // skipped, with a line, and the music plays on
        {{{1000, 2}, {6000, 2, 700000}, {900, 10}, {5000, 2, 0}, {1000, 1}},
         {{44100, 2, 1000}, {44100, 1, 1000}},
         skipped + "2 channels at 700000 Hz: skipped\n" + skipped +
             "10 channels at 44100 Hz: skipped\n" + skipped + "2 channels at 0 Hz: skipped\n"},
        {{{4000, 1, 2000}},
         {{8000, 1, 16000}},
         "bumpwave: testing.ogg: 2000 Hz music plays 4 times slower than at 8000 Hz: what lasts "
         "1 s at 8000 Hz lasts 4.0 s\n"},
        {{}, {}},                                            // the end,
        {{{5000}, {OV_EREAD}, {3000}}, {{44100, 2, 5000}}},  // an error,
        {holes, {{44100, 2, 3000}}},                         // not 64 holes,
        {{{100}, {OV_HOLE}, {Forever}}, {{44100, 2, 100}}}}; // but 65 end the music
    for (auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        R = {};
        BeginReading();
        testing::internal::CaptureStderr();
        while (PumpMusic(Read, &c.script, Put, false)) {
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.said);
        std::string repeated; // slow sound's frames each given as often as it is slower
        const size_t repeats = R.played.size() / std::max<size_t>(R.decoded.size(), 1);
        for (size_t at = 0; at < R.decoded.size(); at += 2)
            for (size_t i = 0; i < repeats; ++i) repeated.append(R.decoded, at, 2);
        EXPECT_EQ(R.played, repeated);
        EXPECT_EQ(R.runs, c.runs);
        EXPECT_FALSE(PumpMusic(Read, &c.script, Put, true)) << "ended for good";
        EXPECT_LT(R.reads, 1000u);
    }
}

struct MusicDevice : InFolder {
    MusicDevice() {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (dir_ / "played.raw").c_str(), 1);
    }

    uintmax_t Played() { // 0 before the driver starts
        return fs::exists(dir_ / "played.raw") ? fs::file_size(dir_ / "played.raw") : 0;
    }

    void Chain(const std::vector<std::string>& files) { // into testing.ogg
        std::ofstream chained(dir_ / "testing.ogg", std::ios::binary);
        for (const std::string& file : files) chained << Slurp(Music / file);
    }

    // The music thread to its end signal (a hang is the test's timeout), `meanwhile` every 20 ms.
    void RunMusic(const std::function<void()>& meanwhile = [] {}) {
        fs::path home = fs::current_path();
        fs::current_path(dir_);
        Signal* ended = CreateSignal();
        for (bool on = StartMusic(ended); on; on = !WaitForSignalMilliseconds(ended, 20))
            meanwhile();
        DestroySignal(ended);
        fs::current_path(home);
    }

    // `files` chained, the first of `rate`, zero-padded to `size` bytes: sound within 200 ms for
    // `seconds` without a gap; one file as decoded, channel k from Vorbis's channel from[k].
    void Play(const std::vector<std::string>& files, int rate, double seconds,
              std::vector<int> from, uintmax_t size = 0) {
        SCOPED_TRACE(files[0]);
        Chain(files);
        if (size) fs::resize_file(dir_ / "testing.ogg", size);
        RunMusic();

        const std::string output = Slurp(dir_ / "played.raw");
        const size_t frame = 2 * from.size(), first = output.find_first_not_of('\0'),
                     last = output.find_last_not_of('\0');
        EXPECT_LT(first / frame, rate / 5u) << "started later than 200 ms";
        EXPECT_NEAR(static_cast<double>(last + 1 - first) / frame / rate, seconds, 0.01);
        EXPECT_GT(output.find(std::string(rate / 1000 * frame, '\0'), first), last);
        if (from.size() > 1 && files.size() == 1) {
            std::string vorbis = DecodeOgg(Music / files[0]), sdl = vorbis;
            for (size_t at = 0; at < sdl.size(); at += frame)
                for (size_t i = 0; i < from.size(); ++i)
                    sdl.replace(at + 2 * i, 2, vorbis, at + 2 * from[i], 2);
            EXPECT_TRUE(PlayedOnce(output, sdl));
        }
    }
};

TEST_F(MusicDevice, PlaysEveryChannelCountAndRateInSdlOrder) {
    Play({"three-channels.ogg"}, 44100, 1.0, {0, 2, 1});
    Play({"five-channels.ogg"}, 44100, 1.0, {0, 2, 1, 3, 4});
    Play({"six-channels-22050.ogg"}, 22050, 1.0, {0, 2, 1, 5, 3, 4});
    Play({"seven-channels.ogg"}, 44100, 1.0, {0, 2, 1, 6, 5, 3, 4});
    Play({"eight-channels-48000.ogg"}, 48000, 1.0, {0, 2, 1, 7, 5, 6, 3, 4});
}

// Before 128 MB of nothing it starts at once: libvorbisfile's index would take half a minute.
TEST_F(MusicDevice, PlaysWholeCutShortChainedOrBeforeAHundredMegabytesOfNothing) {
    Play({"truncated.ogg"}, 44100, 1.406, {0, 1}); // stereo-3s.ogg cut by head -c 9885
    // 3 s, then 2 s at 44100 Hz; then a stream at 700000 Hz, skipped
    Play({"mono-8000-then-stereo.ogg", "rate-700000.ogg"}, 8000, 5.0, {0});
    Play({"stereo-3s.ogg"}, 44100, 3.0, {0, 1}, 128u << 20);
}

// Converted whole, a block of 1 Hz music would be half an hour of the card's sound.
TEST_F(MusicDevice, MusicAtOneHertzPlaysAfterAnyFirstLinkWithinAFewMegabytes) {
    const std::tuple<std::vector<std::string>, long, double> cases[] = {
        {{"stereo-3s.ogg", "rate-1.ogg", "stereo-3s.ogg"}, 44100 * 4, 3},
        {{"eight-channels-192000.ogg", "rate-1.ogg"}, 192000 * 16, 0.25}};
    for (const auto& [chain, bytesPerSecond, firstSeconds] : cases) {
        SCOPED_TRACE(chain[0]);
        Chain(chain);
        rusage usage{}; // its ru_maxrss: the peak resident kilobytes so far
        getrusage(RUSAGE_SELF, &usage);
        const long before = usage.ru_maxrss;
        const uintmax_t enough = static_cast<uintmax_t>((firstSeconds + 1.5) * bytesPerSecond);
        testing::internal::CaptureStderr();
        RunMusic([&] {
            if (Played() >= enough) StopMusic();
        });
        EXPECT_NE(testing::internal::GetCapturedStderr().find("1 Hz music"), std::string::npos);
        getrusage(RUSAGE_SELF, &usage);
        EXPECT_LT(usage.ru_maxrss - before, 64 << 10);
        const std::string output = Slurp(dir_ / "played.raw");
        const size_t start = output.find_first_not_of('\0'),
                     slow = start + static_cast<size_t>((firstSeconds + 0.2) * bytesPerSecond);
        ASSERT_GE(output.size(), enough);
        EXPECT_FALSE(Silent(output.substr(slow))) << "the 1 Hz link was not heard";
    }
}

TEST_F(MusicDevice, AMusicThreadWokenLateIsNotHeard) {
    std::vector<Step> script = {{88200}, {Late}, {88200}, {Late}, {88200}, {Late}, {88200}};
    R = {};
    ASSERT_TRUE(OpenSound(44100, 2));
    BeginReading();
    PumpMusic(Read, &script, PutSound, true);
    CloseSound();
    EXPECT_TRUE(PlayedOnce(Slurp(dir_ / "played.raw"), R.decoded));
}

TEST_F(MusicDevice, WhatCannotBePlayedIsSaidAndTheEndStillSignalled) {
    const std::string missing = "Couldn't open testing.ogg\n", why = "bumpwave: testing.ogg: ";
    // testing.ogg made by a shell in the test's folder ($M: tests/music); stdout; stderr's start.
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"rm -f testing.ogg", missing, why + "not found in "},
        {"install -m 0 $M/stereo-3s.ogg testing.ogg", missing, why + "permission denied"},
        {"mkfifo testing.ogg", missing, why + "not a regular file"}, // it would block
        {"ln -s $M/not-vorbis.ogg testing.ogg", "Couldn't open testing.ogg as OGG file\n",
         why + "not an Ogg Vorbis file; to make one: oggenc in.wav -o testing.ogg, or "
               "ffmpeg -i in.wav -c:a libvorbis testing.ogg\n"},
        {"ln -s $M/rate-too-high.ogg testing.ogg", "",
         why + "a stream of 2 channels at 4294967295 Hz: skipped"},
        {"", "", "bumpwave: no sound: "}}; // no card, and no music: the card is missed first
    for (const auto& [made, out, err] : cases) {
        SCOPED_TRACE(made);
        if (made.starts_with("install") && geteuid() == 0) continue; // root reads all
        const std::string shell = "cd " + dir_.string() + "; M=" + Music.string() + "; " + made;
        ASSERT_EQ(std::system(shell.c_str()), 0);
        setenv("SDL_AUDIODRIVER", made.empty() ? "no-such-driver" : "dummy", 1);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        RunMusic();
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), out);
        EXPECT_TRUE(said.starts_with(err)) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        fs::remove(dir_ / "testing.ogg");
    }
}

// Paused longer than a silent card is given.
TEST_F(MusicDevice, APausedCardLosesNothingAndIsNotGivenUp) {
    Chain({"truncated.ogg"});
    int calls = 0;
    RunMusic([&] { PauseMusic(++calls <= 275); }); // from the start, for 5.5 s at least
    EXPECT_TRUE(PlayedOnce(Slurp(dir_ / "played.raw"), DecodeOgg(Music / "truncated.ogg")));
}

// A fade after the pause would be heard.
TEST_F(MusicDevice, MusicStoppedWhilePausedEndsInSilence) {
    Chain({"stereo-3s.ogg"});
    constexpr uintmax_t second = 44100 * 4;
    uintmax_t pausedAt = 0;
    RunMusic([&] {
        if (!pausedAt && Played() >= second * 7 / 10) PauseMusic(true), pausedAt = Played();
        if (pausedAt && Played() >= pausedAt + second * 3 / 10) StopMusic(), PauseMusic(false);
    });
    // Paused, the card ends its callback (20 ms), and the file its buffer (23 ms).
    const std::string output = Slurp(dir_ / "played.raw");
    ASSERT_GE(output.size(), pausedAt + second * 3 / 10);
    EXPECT_FALSE(Silent(output.substr(0, pausedAt)));
    EXPECT_TRUE(Silent(output.substr(pausedAt + second / 10))) << "heard after the pause";
}

// Last: the device it gives up stays open in this process.
TEST_F(MusicDevice, ADeviceThatStopsTakingSoundIsGivenUp) {
    Chain({"stereo-3s.ogg"});
    // Once the pipe nobody reads is full, the device's thread waits for ever.
    ASSERT_EQ(mkfifo((dir_ / "played.raw").c_str(), 0600), 0);
    ASSERT_GE(open((dir_ / "played.raw").c_str(), O_RDONLY | O_NONBLOCK), 0); // kept to the end
    auto start = std::chrono::steady_clock::now();
    RunMusic();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}
