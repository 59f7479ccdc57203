// The music thread on SDL's "disk" audio driver, which writes what the device
// plays to a file in real time, and on its ways to fail. The music files in
// tests/music were written once with libvorbisenc: a tone per channel that
// starts loud and never rests, so that any silence inside is a gap.
#include "assets/music.h"
#include "files.h"
#include "platform/audio.h"
#include "platform/thread.h"
#include "subprocess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <vector>

using Bytes = std::string;

namespace {

// Decoded samples moved from Vorbis's channel order to SDL's, as both name
// them; SDL has no centre at 3 and 5 channels and takes it in its third.
Bytes InSdlOrder(const Bytes& vorbis, int channels) {
    using Order = std::vector<std::string>;
    const std::map<int, std::pair<Order, Order>> orders = {
        {3, {{"L", "C", "R"}, {"L", "R", "C"}}},
        {5, {{"L", "C", "R", "BL", "BR"}, {"L", "R", "C", "BL", "BR"}}},
        {7, {{"L", "C", "R", "SL", "SR", "BC", "LFE"}, {"L", "R", "C", "LFE", "BC", "SL", "SR"}}},
        {6, {{"L", "C", "R", "BL", "BR", "LFE"}, {"L", "R", "C", "LFE", "BL", "BR"}}},
        {8,
         {{"L", "C", "R", "SL", "SR", "BL", "BR", "LFE"},
          {"L", "R", "C", "LFE", "BL", "BR", "SL", "SR"}}}};
    if (!orders.contains(channels)) return vorbis;
    const auto& [from, to] = orders.at(channels);
    Bytes sdl(vorbis.size(), 0);
    for (size_t frame = 0; frame < vorbis.size(); frame += 2 * channels)
        for (int c = 0; c < channels; ++c) {
            size_t v = std::find(from.begin(), from.end(), to[c]) - from.begin();
            std::copy_n(&vorbis[frame + 2 * v], 2, &sdl[frame + 2 * c]);
        }
    return sdl;
}

// The first and last frames of sound in the output, and the longest silence
// between them.
struct Sound {
    size_t first = SIZE_MAX, last = 0, longestSilence = 0;
};
Sound Measure(const Bytes& output, size_t frameBytes) {
    Sound s;
    for (size_t f = 0; f < output.size() / frameBytes; ++f) {
        const char* frame = output.data() + f * frameBytes;
        if (std::all_of(frame, frame + frameBytes, [](char c) { return c == 0; })) continue;
        if (s.first == SIZE_MAX)
            s.first = f;
        else
            s.longestSilence = std::max(s.longestSilence, f - s.last - 1);
        s.last = f;
    }
    return s;
}

struct Playing {
    bool started;
    double seconds; // from StartMusic to the end signal
};

// Runs the music thread in `dir` and waits for its end; a hang is the test's
// timeout.
Playing PlayIn(const fs::path& dir) {
    fs::path home = fs::current_path();
    fs::current_path(dir);
    Signal* ended = CreateSignal();
    auto start = std::chrono::steady_clock::now();
    Playing run{StartMusic(ended), 0};
    if (run.started) WaitForSignal(ended);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DestroySignal(ended);
    fs::current_path(home);
    return run;
}

// Plays `dir`/testing.ogg on the disk driver; what the device was given.
Bytes PlayOnDisk(const fs::path& dir) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    EXPECT_TRUE(PlayIn(dir).started);
    return Slurp(dir / "played.raw");
}

} // namespace

TEST(MusicDevice, PlaysAnyChannelCountAndChainedStreamsWholeInTimeAndInSdlOrder) {
    struct Case {
        const char* file;
        int rate, channels; // of the first stream, which the device plays
        double seconds;
        bool busy; // every core kept busy by other processes meanwhile
    };
    const Case cases[] = {{"stereo-3s.ogg", 44100, 2, 3.0, true},
                          {"three-channels.ogg", 44100, 3, 1.0, false},
                          {"five-channels.ogg", 44100, 5, 1.0, false},
                          {"seven-channels.ogg", 44100, 7, 1.0, false},
                          {"six-channels-22050.ogg", 22050, 6, 1.0, false},
                          {"eight-channels-48000.ogg", 48000, 8, 1.0, false},
                          // 1.5 s of stereo at 44100 Hz, then 1 s of mono at 22050 Hz
                          {"chained.ogg", 44100, 2, 2.5, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        fs::path dir = NewFolder();
        fs::copy(SourceDir / "tests/music" / c.file, dir / "testing.ogg");
        std::vector<std::unique_ptr<Process>> loops;
        // Bounded, in case this test dies before it can stop them.
        for (unsigned i = 0; c.busy && i < std::thread::hardware_concurrency(); ++i)
            loops.push_back(std::make_unique<Process>(
                std::vector<std::string>{"timeout", "60", "sh", "-c", "while :; do :; done"}, ""));
        testing::internal::CaptureStdout();
        Bytes output = PlayOnDisk(dir);
        loops.clear();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

        Sound sound = Measure(output, 2u * c.channels);
        EXPECT_LT(sound.first, c.rate / 5u) << "started later than 200 ms";
        EXPECT_NEAR(static_cast<double>(sound.last + 1 - sound.first) / c.rate, c.seconds, 0.01);
        EXPECT_LT(sound.longestSilence, c.rate / 1000u) << "a gap";
        if (std::strcmp(c.file, "chained.ogg") != 0) { // one stream: as decoded, reordered
            EXPECT_TRUE(PlayedOnce(output, InSdlOrder(DecodeOgg(dir / "testing.ogg"), c.channels)));
        }
        fs::remove_all(dir);
    }
}

long LateMade;

// Two seconds of sound from a decoder that is 100 ms late every half second.
long ReadLate(void*, char* buffer, int length, long* rate, int* channels) {
    const int half = 44100 * 2;
    if (LateMade == 4 * half) return 0;
    if (LateMade % half == 0 && LateMade > 0) PauseMilliseconds(100);
    length = std::min<int>(length, half - static_cast<int>(LateMade % half));
    std::memset(buffer, 0x11, static_cast<size_t>(length));
    *rate = 44100;
    *channels = 2;
    LateMade += length;
    return length;
}

TEST(MusicDevice, AMusicThreadWokenLateIsNotHeard) {
    fs::path dir = NewFolder();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    ASSERT_TRUE(OpenSound(44100, 2));
    LateMade = 0;
    SoundBlock first{}, second{};
    StreamMusic({ReadLate, QueueSoundBlock, WaitForSoundBlock, SoundBlockPlayed}, nullptr, &first,
                &second);
    CloseSound();
    Sound sound = Measure(Slurp(dir / "played.raw"), 4);
    EXPECT_EQ(sound.longestSilence, 0u);
    EXPECT_EQ(sound.last + 1 - sound.first, 2u * 44100);
    fs::remove_all(dir);
}

TEST(MusicFailure, ATruncatedFilePlaysItsWholePagesAndEnds) {
    fs::path dir = NewFolder();
    Bytes whole = Slurp(SourceDir / "tests/music/stereo-3s.ogg");
    std::ofstream(dir / "testing.ogg", std::ios::binary) << whole.substr(0, whole.size() * 3 / 4);
    Bytes payload = DecodeOgg(dir / "testing.ogg");
    Bytes full = DecodeOgg(SourceDir / "tests/music/stereo-3s.ogg");
    ASSERT_GT(payload.size(), full.size() / 4);
    ASSERT_TRUE(std::equal(payload.begin(), payload.end(), full.begin()));
    EXPECT_TRUE(PlayedOnce(PlayOnDisk(dir), payload));
    fs::remove_all(dir);
}

TEST(MusicFailure, WhatCannotBePlayedIsSaidAndTheEndStillSignalled) {
    const std::string missing = "Couldn't open testing.ogg\n", noSound = "bumpwave: no sound: ";
    const struct {
        const char* what;
        std::function<void(const fs::path&)> make; // testing.ogg
        std::string out, err;                      // stdout; stderr's one line starts so
    } cases[] = {
        {"missing", [](const fs::path&) {}, missing, ""},
        // these would block the open, or never end
        {"FIFO", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, missing, ""},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }, missing, ""},
        {"device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, missing, ""},
        {"text", [](const fs::path& p) { std::ofstream(p) << "not a stream of Vorbis pages\n"; },
         "Couldn't open testing.ogg as OGG file\n", ""},
        {"2^32 - 1 Hz",
         [](const fs::path& p) { fs::copy(SourceDir / "tests/music/rate-too-high.ogg", p); }, "",
         noSound + "cannot play 4294967295 Hz with 2 channels"},
        // no testing.ogg either: the card is missed first
        {"no sound card", [](const fs::path&) {}, "", noSound}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path dir = NewFolder();
        c.make(dir / "testing.ogg");
        setenv("SDL_AUDIODRIVER",
               std::string(c.what) == "no sound card" ? "no-such-driver" : "dummy", 1);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_TRUE(PlayIn(dir).started);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(err.rfind(c.err, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.err.empty() ? 0 : 1) << err;
        fs::remove_all(dir);
    }
}

// Last: the device it gives up stays open in this process.
TEST(MusicFailure, ADeviceThatStopsTakingSoundIsGivenUp) {
    fs::path dir = NewFolder();
    fs::copy(SourceDir / "tests/music/stereo-3s.ogg", dir / "testing.ogg");
    // The disk driver writes into a pipe that nobody reads: once it is full,
    // the device's thread waits for ever.
    ASSERT_EQ(mkfifo((dir / "played.raw").c_str(), 0600), 0);
    ASSERT_GE(open((dir / "played.raw").c_str(), O_RDONLY | O_NONBLOCK), 0); // kept to the end
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    Playing run = PlayIn(dir);
    EXPECT_TRUE(run.started);
    EXPECT_LT(run.seconds, 10);
    fs::remove_all(dir);
}
