// The music thread on SDL's "disk" driver, which writes what it plays to a file in real time.
// The music in tests/music is a tone per channel that never rests: any silence is a gap.
#include "assets/music.h"
#include "files.h"
#include "platform/audio.h"
#include "platform/thread.h"

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

const fs::path Music = SourceDir / "tests/music";

// The music thread in `dir` on SDL's `driver`, to its end signal (a hang is the test's timeout),
// paused its first `pausedMs`, calling `meanwhile` every 20 ms.
static void PlayIn(const fs::path& dir, const char* driver, int pausedMs = 0,
                   const std::function<void()>& meanwhile = {}) {
    setenv("SDL_AUDIODRIVER", driver, 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    fs::path home = fs::current_path();
    fs::current_path(dir);
    Signal* ended = CreateSignal();
    if (StartMusic(ended)) {
        PauseMusic(pausedMs > 0);
        EXPECT_FALSE(pausedMs && WaitForSignalMilliseconds(ended, pausedMs)) << "ended paused";
        PauseMusic(false);
        while (!WaitForSignalMilliseconds(ended, 20))
            if (meanwhile) meanwhile();
    }
    DestroySignal(ended);
    fs::current_path(home);
}

static uintmax_t Played(const fs::path& dir) { // 0 before the driver starts
    return fs::exists(dir / "played.raw") ? fs::file_size(dir / "played.raw") : 0;
}

using MusicFailure = InFolder;

struct MusicDevice : InFolder {
    void Chain(const std::vector<std::string>& files) { // into testing.ogg
        std::ofstream chained(dir_ / "testing.ogg", std::ios::binary);
        for (const std::string& file : files) chained << Slurp(Music / file);
    }

    // Plays `files` chained, the first of `rate`, padded with zeros to `size` bytes if given:
    // the sound starts within 200 ms and lasts `seconds` without a gap; one file is played as
    // decoded, channel k from Vorbis's channel from[k].
    void Play(const std::vector<std::string>& files, int rate, double seconds,
              std::vector<int> from, uintmax_t size = 0) {
        SCOPED_TRACE(files[0]);
        Chain(files);
        if (size) fs::resize_file(dir_ / "testing.ogg", size);
        PlayIn(dir_, "disk");

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

static long PeakKilobytes() { // of the process's resident memory so far
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Converted whole, a block of 1 Hz music would be half an hour of the card's sound.
TEST_F(MusicDevice, MusicAtOneHertzPlaysAfterAnyFirstLinkWithinAFewMegabytes) {
    const struct {
        std::vector<std::string> chain;
        long bytesPerSecond; // the card's, opened for the first link
        double first;        // seconds of the first link
    } cases[] = {{{"stereo-3s.ogg", "rate-1.ogg", "stereo-3s.ogg"}, 44100 * 4, 3},
                 {{"eight-channels-192000.ogg", "rate-1.ogg"}, 192000 * 16, 0.25}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chain[0]);
        Chain(c.chain);
        const long before = PeakKilobytes();
        // A second and a half of the slow link is enough.
        const uintmax_t enough = static_cast<uintmax_t>((c.first + 1.5) * c.bytesPerSecond);
        testing::internal::CaptureStderr();
        PlayIn(dir_, "disk", 0, [&] {
            if (Played(dir_) >= enough) StopMusic();
        });
        EXPECT_NE(testing::internal::GetCapturedStderr().find("1 Hz music"), std::string::npos);
        EXPECT_LT(PeakKilobytes() - before, 64 << 10);
        const std::string output = Slurp(dir_ / "played.raw");
        const size_t start = output.find_first_not_of('\0'),
                     slow = start + static_cast<size_t>((c.first + 0.2) * c.bytesPerSecond);
        ASSERT_GE(output.size(), enough);
        EXPECT_FALSE(Silent(output.substr(slow))) << "the 1 Hz link was not heard";
    }
}

TEST_F(MusicDevice, AMusicThreadWokenLateIsNotHeard) {
    // Two seconds of stereo, 100 ms late every half second.
    static constexpr long half = 44100 * 2; // bytes
    static long made;
    made = 0;
    auto read = [](void*, char* buffer, int length, long* rate, int* channels) -> long {
        if (made == 4 * half) return 0;
        if (made > 0 && made % half == 0) PauseMilliseconds(100);
        length = static_cast<int>(std::min<long>(length, half - made % half));
        std::memset(buffer, 0x11, static_cast<size_t>(length));
        *rate = 44100, *channels = 2;
        return made += length, length;
    };
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir_ / "played.raw").c_str(), 1);
    ASSERT_TRUE(OpenSound(44100, 2));
    BeginReading();
    PumpMusic(read, nullptr, PutSound, true);
    CloseSound();
    EXPECT_TRUE(PlayedOnce(Slurp(dir_ / "played.raw"), std::string(4 * half, 0x11)));
}

TEST_F(MusicFailure, WhatCannotBePlayedIsSaidAndTheEndStillSignalled) {
    const std::string missing = "Couldn't open testing.ogg\n", why = "bumpwave: testing.ogg: ";
    const std::string m = Music.string() + "/", link = "ln -s " + m;
    const struct {
        std::string made;     // testing.ogg, by a shell in the test's folder
        std::string out, err; // stdout; stderr's one line starts so
    } cases[] = {
        {"rm -f testing.ogg", missing, why + "not found in "},
        {"cp " + m + "stereo-3s.ogg testing.ogg; chmod 0 testing.ogg", missing,
         why + "permission denied"},
        {"mkfifo testing.ogg", missing, why + "not a regular file"}, // it would block
        {link + "not-vorbis.ogg testing.ogg", "Couldn't open testing.ogg as OGG file\n",
         why + "not an Ogg Vorbis file; to make one: oggenc in.wav -o testing.ogg, or "
               "ffmpeg -i in.wav -c:a libvorbis testing.ogg\n"},
        {link + "rate-too-high.ogg testing.ogg", "",
         why + "a stream of 2 channels at 4294967295 Hz: skipped"},
        {"", "", "bumpwave: no sound: "}}; // no card, and no music: the card is missed first
    for (const auto& c : cases) {
        SCOPED_TRACE(c.made);
        if (c.made.ends_with("chmod 0 testing.ogg") && geteuid() == 0) continue; // root reads all
        ASSERT_EQ(std::system(("cd " + dir_.string() + "; " + c.made).c_str()), 0);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        PlayIn(dir_, c.made.empty() ? "no-such-driver" : "dummy");
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_TRUE(err.starts_with(c.err)) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.err.empty() ? 0 : 1) << err;
        fs::remove(dir_ / "testing.ogg");
    }
}

// Paused longer than a silent card is given.
TEST_F(MusicDevice, APausedCardLosesNothingAndIsNotGivenUp) {
    fs::copy(Music / "truncated.ogg", dir_ / "testing.ogg");
    PlayIn(dir_, "disk", 5500);
    EXPECT_TRUE(PlayedOnce(Slurp(dir_ / "played.raw"), DecodeOgg(Music / "truncated.ogg")));
}

// A fade after the pause would be heard.
TEST_F(MusicDevice, MusicStoppedWhilePausedEndsInSilence) {
    fs::copy(Music / "stereo-3s.ogg", dir_ / "testing.ogg");
    constexpr uintmax_t second = 44100 * 4;
    uintmax_t pausedAt = 0;
    PlayIn(dir_, "disk", 0, [&] {
        if (!pausedAt && Played(dir_) >= second * 7 / 10) PauseMusic(true), pausedAt = Played(dir_);
        if (pausedAt && Played(dir_) >= pausedAt + second * 3 / 10) StopMusic(), PauseMusic(false);
    });
    // Paused, the card ends its callback (20 ms), and the file its buffer (23 ms).
    const std::string output = Slurp(dir_ / "played.raw");
    ASSERT_GE(output.size(), pausedAt + second * 3 / 10);
    EXPECT_FALSE(Silent(output.substr(0, pausedAt)));
    EXPECT_TRUE(Silent(output.substr(pausedAt + second / 10))) << "heard after the pause";
}

// Sound given a step at a time without waiting, as a caller without threads gives it.
TEST_F(MusicDevice, GivenSoundWithoutWaitingTheCardStaysFull) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir_ / "played.raw").c_str(), 1);
    ASSERT_TRUE(OpenSound(44100, 2));
    static const std::string block(4096, '\x11');
    double given = 0, least = 1; // the least sound held ahead of the card once it plays
    for (double played = 0; played < 2.5; PauseMilliseconds(16)) {
        while (PutSound(block.data(), 4096, 44100, 2, false)) given += 4096 / (44100.0 * 4);
        played = SoundSecondsPlayed();
        if (played > 1) least = std::min(least, given - played);
    }
    EXPECT_GT(least, 0.5);
    FadeOutSound();
    CloseSound();
}

// Last: the device it gives up stays open in this process.
TEST_F(MusicFailure, ADeviceThatStopsTakingSoundIsGivenUp) {
    fs::copy(Music / "stereo-3s.ogg", dir_ / "testing.ogg");
    // Once the pipe nobody reads is full, the device's thread waits for ever.
    ASSERT_EQ(mkfifo((dir_ / "played.raw").c_str(), 0600), 0);
    ASSERT_GE(open((dir_ / "played.raw").c_str(), O_RDONLY | O_NONBLOCK), 0); // kept to the end
    auto start = std::chrono::steady_clock::now();
    PlayIn(dir_, "disk");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}
