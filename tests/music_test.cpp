// The music thread on SDL's "disk" audio driver, which writes what the device
// plays to a file in real time, and on its ways to fail.
#include "assets/music.h"
#include "platform/audio.h"
#include "platform/thread.h"
#include "subprocess.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

namespace {

struct Link {
    int rate, channels;
    double seconds;
};

// One stream after another in one file, each a tone per channel that starts
// loud and never rests, so that any silence inside is a gap. `statedRate`, if
// given, replaces the rate the first header states.
void MakeOgg(const fs::path& path, const std::vector<Link>& links, uint32_t statedRate = 0) {
    std::ofstream out(path, std::ios::binary);
    for (size_t serial = 0; serial < links.size(); ++serial) {
        const Link& link = links[serial];
        vorbis_info info;
        vorbis_info_init(&info);
        ASSERT_EQ(vorbis_encode_init_vbr(&info, link.channels, link.rate, 0.3f), 0);
        vorbis_comment comment;
        vorbis_comment_init(&comment);
        vorbis_dsp_state dsp;
        vorbis_block block;
        vorbis_analysis_init(&dsp, &info);
        vorbis_block_init(&dsp, &block);
        ogg_stream_state stream;
        ogg_stream_init(&stream, static_cast<int>(serial) + 1);
        ogg_packet head[3];
        vorbis_analysis_headerout(&dsp, &comment, &head[0], &head[1], &head[2]);
        if (statedRate) std::memcpy(head[0].packet + 12, &statedRate, 4); // little-endian
        for (ogg_packet& packet : head) ogg_stream_packetin(&stream, &packet);
        ogg_page page;
        auto put = [&] {
            out.write(reinterpret_cast<char*>(page.header), page.header_len)
                .write(reinterpret_cast<char*>(page.body), page.body_len);
        };
        while (ogg_stream_flush(&stream, &page)) put();
        int frames = static_cast<int>(link.seconds * link.rate);
        for (int done = 0, count = 1; count > 0; done += count) {
            count = std::min(1024, frames - done);
            if (count > 0) {
                float** buffer = vorbis_analysis_buffer(&dsp, count);
                for (int c = 0; c < link.channels; ++c)
                    for (int i = 0; i < count; ++i)
                        buffer[c][i] = 0.5f * static_cast<float>(
                                                  std::cos((done + i) * (0.03 + 0.01 * c) +
                                                           0.3 * std::sin((done + i) * 0.0007)));
            }
            vorbis_analysis_wrote(&dsp, count);
            while (vorbis_analysis_blockout(&dsp, &block) == 1) {
                vorbis_analysis(&block, nullptr);
                vorbis_bitrate_addblock(&block);
                ogg_packet packet;
                while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                    ogg_stream_packetin(&stream, &packet);
                    while (ogg_stream_pageout(&stream, &page)) put();
                }
            }
        }
        while (ogg_stream_flush(&stream, &page)) put();
        ogg_stream_clear(&stream);
        vorbis_block_clear(&block);
        vorbis_dsp_clear(&dsp);
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
    }
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What libvorbisfile makes of the file, in its own channel order.
Bytes Decode(const fs::path& path) {
    OggVorbis_File stream;
    Bytes bytes;
    if (ov_fopen(path.c_str(), &stream) < 0) return bytes;
    char buffer[4096];
    int bitstream = 0;
    for (long count; (count = ov_read(&stream, buffer, sizeof buffer, 1, 2, 1, &bitstream)) != 0;)
        if (count > 0) bytes.insert(bytes.end(), buffer, buffer + count);
    ov_clear(&stream);
    return bytes;
}

// Vorbis's channel order and SDL's, by name; SDL's third channel carries the
// centre where SDL has none.
std::vector<std::string> Names(const char* list) {
    std::istringstream words(list);
    return {std::istream_iterator<std::string>(words), {}};
}
const std::vector<std::string> VorbisOrder[9] = {{},
                                                 {},
                                                 {},
                                                 Names("L C R"),
                                                 {},
                                                 {},
                                                 Names("L C R BL BR LFE"),
                                                 {},
                                                 Names("L C R SL SR BL BR LFE")};
const std::vector<std::string> SdlOrder[9] = {{},
                                              {},
                                              {},
                                              Names("L R C"),
                                              {},
                                              {},
                                              Names("L R C LFE BL BR"),
                                              {},
                                              Names("L R C LFE BL BR SL SR")};

Bytes InSdlOrder(const Bytes& vorbis, int channels) {
    if (VorbisOrder[channels].empty()) return vorbis;
    Bytes sdl(vorbis.size());
    for (size_t frame = 0; frame < vorbis.size(); frame += 2 * channels)
        for (int c = 0; c < channels; ++c) {
            auto from = std::find(VorbisOrder[channels].begin(), VorbisOrder[channels].end(),
                                  SdlOrder[channels][c]) -
                        VorbisOrder[channels].begin();
            sdl[frame + 2 * c] = vorbis[frame + 2 * from];
            sdl[frame + 2 * c + 1] = vorbis[frame + 2 * from + 1];
        }
    return sdl;
}

// The device's output must be silence, the payload in one piece, silence.
testing::AssertionResult PlayedOnce(const Bytes& output, const Bytes& payload) {
    auto firstSound = [](const Bytes& b) {
        return std::find_if(b.begin(), b.end(), [](char c) { return c != 0; }) - b.begin();
    };
    if (payload.empty()) return testing::AssertionFailure() << "nothing to look for";
    long start = firstSound(output) - firstSound(payload);
    if (start < 0 || start + payload.size() > output.size())
        return testing::AssertionFailure()
               << "payload of " << payload.size() << " bytes not in " << output.size();
    auto at = output.begin() + start;
    auto differ = std::mismatch(payload.begin(), payload.end(), at);
    if (differ.first != payload.end())
        return testing::AssertionFailure()
               << "differs at byte " << differ.first - payload.begin() << " of " << payload.size();
    if (std::any_of(at + payload.size(), output.end(), [](char c) { return c != 0; }))
        return testing::AssertionFailure() << "sound after the payload";
    return testing::AssertionSuccess();
}

// Where the sound starts and ends in the output, and its longest silence, in frames.
struct Sound {
    size_t first = 0, last = 0, longestSilence = 0;
};
Sound Measure(const Bytes& output, size_t frameBytes) {
    Sound s;
    size_t silence = 0, frames = output.size() / frameBytes;
    bool started = false;
    for (size_t f = 0; f < frames; ++f) {
        bool quiet = std::all_of(&output[f * frameBytes], &output[f * frameBytes] + frameBytes,
                                 [](char c) { return c == 0; });
        if (quiet) {
            ++silence;
            continue;
        }
        if (!started) s.first = f;
        if (started) s.longestSilence = std::max(s.longestSilence, silence);
        started = true;
        s.last = f;
        silence = 0;
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

fs::path NewDir() {
    std::string name = (fs::temp_directory_path() / "bumpwave-music-XXXXXX").string();
    return mkdtemp(name.data());
}

// Plays `dir`/testing.ogg on the disk driver; what the device was given.
Bytes PlayOnDisk(const fs::path& dir, Playing* run = nullptr) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    Playing result = PlayIn(dir);
    EXPECT_TRUE(result.started);
    if (run) *run = result;
    return ReadFile(dir / "played.raw");
}

} // namespace

TEST(MusicDevice, PlaysAnyChannelCountAndChainedStreamsWholeInTimeAndInSdlOrder) {
    struct Case {
        std::vector<Link> links;
        bool busy; // every core kept busy by other processes meanwhile
    };
    const Case cases[] = {{{{44100, 2, 2.0}}, true},
                          {{{44100, 3, 1.0}}, false},
                          {{{22050, 6, 1.0}}, false},
                          {{{48000, 8, 1.0}}, false},
                          {{{44100, 2, 1.5}, {22050, 1, 1.0}}, false}};
    for (const Case& c : cases) {
        const Link& first = c.links[0];
        SCOPED_TRACE(testing::Message() << c.links.size() << " streams, first " << first.rate
                                        << " Hz " << first.channels << " channels");
        fs::path dir = NewDir();
        MakeOgg(dir / "testing.ogg", c.links);
        std::vector<std::unique_ptr<Process>> loops;
        for (unsigned i = 0; c.busy && i < std::thread::hardware_concurrency(); ++i)
            loops.push_back(std::make_unique<Process>(
                std::vector<std::string>{"sh", "-c", "while :; do :; done"}, ""));
        testing::internal::CaptureStdout();
        Bytes output = PlayOnDisk(dir);
        loops.clear();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

        // The device plays the first stream's format; the others are converted.
        const size_t frameBytes = 2u * first.channels;
        const double seconds =
            std::accumulate(c.links.begin(), c.links.end(), 0.0,
                            [](double s, const Link& l) { return s + l.seconds; });
        Sound sound = Measure(output, frameBytes);
        std::printf("start after %.1f ms, %zu frames of sound for %g s, longest silence %zu\n",
                    1000.0 * sound.first / first.rate, sound.last + 1 - sound.first, seconds,
                    sound.longestSilence);
        EXPECT_LT(sound.first, first.rate / 5u) << "started later than 200 ms";
        EXPECT_NEAR(static_cast<double>(sound.last + 1 - sound.first) / first.rate, seconds, 0.01);
        EXPECT_LT(sound.longestSilence, first.rate / 1000u) << "a gap";
        if (c.links.size() == 1) {
            EXPECT_TRUE(
                PlayedOnce(output, InSdlOrder(Decode(dir / "testing.ogg"), first.channels)));
        }
        fs::remove_all(dir);
    }
}

long LateMade;

// Two seconds of sound from a decoder that is 100 ms late every half second.
long ReadLate(void*, char* buffer, int length, long* rate, int* channels) {
    if (LateMade == 2 * 44100 * 4) return 0;
    if (LateMade % (44100 * 2) == 0 && LateMade > 0) PauseMilliseconds(100);
    length = std::min<int>(length, 44100 * 2 - static_cast<int>(LateMade % (44100 * 2)));
    std::memset(buffer, 0x11, static_cast<size_t>(length));
    *rate = 44100;
    *channels = 2;
    LateMade += length;
    return length;
}

TEST(MusicDevice, AMusicThreadWokenLateIsNotHeard) {
    fs::path dir = NewDir();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    ASSERT_TRUE(OpenSound(44100, 2));
    SoundBlock first{}, second{};
    StreamMusic({ReadLate, QueueSoundBlock, WaitForSoundBlock, SoundBlockPlayed}, nullptr, &first,
                &second);
    CloseSound();
    Sound sound = Measure(ReadFile(dir / "played.raw"), 4);
    EXPECT_EQ(sound.longestSilence, 0u);
    EXPECT_EQ(sound.last + 1 - sound.first, 2u * 44100);
    fs::remove_all(dir);
}

TEST(MusicFailure, ATruncatedFilePlaysItsWholePagesAndEnds) {
    fs::path dir = NewDir();
    MakeOgg(dir / "whole.ogg", {{44100, 2, 3.0}});
    Bytes whole = ReadFile(dir / "whole.ogg");
    std::ofstream(dir / "testing.ogg", std::ios::binary).write(whole.data(), whole.size() * 3 / 4);
    Bytes payload = Decode(dir / "testing.ogg");
    Bytes full = Decode(dir / "whole.ogg");
    ASSERT_GT(payload.size(), full.size() / 4);
    ASSERT_TRUE(std::equal(payload.begin(), payload.end(), full.begin()));
    EXPECT_TRUE(PlayedOnce(PlayOnDisk(dir), payload));
    fs::remove_all(dir);
}

TEST(MusicFailure, AnythingButAnOggFileIsNamedAndTheEndStillSignalled) {
    const std::string missing = "Couldn't open testing.ogg\n";
    const struct {
        const char* what;
        std::function<void(const fs::path&)> make;
        std::string message;
    } cases[] = {
        {"missing", [](const fs::path&) {}, missing},
        // these would block the open, or never end
        {"FIFO", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, missing},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }, missing},
        {"device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, missing},
        {"text", [](const fs::path& p) { std::ofstream(p) << "not a stream of Vorbis pages\n"; },
         "Couldn't open testing.ogg as OGG file\n"}};
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path dir = NewDir();
        c.make(dir / "testing.ogg");
        testing::internal::CaptureStdout();
        EXPECT_TRUE(PlayIn(dir).started);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
        fs::remove_all(dir);
    }
}

TEST(MusicFailure, WhatCannotBePlayedIsSaidOnStderrAlone) {
    const std::string noCard = "bumpwave: no sound: ";
    const struct {
        const char* driver;
        uint32_t statedRate;                    // of a testing.ogg, if not 0
        std::string err;                        // what stderr starts with, in one line
    } cases[] = {{"no-such-driver", 0, noCard}, // no testing.ogg either: the card is missed first
                 {"dummy", 4294967295u, noCard + "cannot play 4294967295 Hz with 2 channels"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.driver);
        fs::path dir = NewDir();
        if (c.statedRate) MakeOgg(dir / "testing.ogg", {{44100, 2, 0.1}}, c.statedRate);
        setenv("SDL_AUDIODRIVER", c.driver, 1);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_TRUE(PlayIn(dir).started);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(err.rfind(c.err, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
        fs::remove_all(dir);
    }
}

// Last: the device it gives up stays open in this process.
TEST(MusicFailure, ADeviceThatStopsTakingSoundIsGivenUp) {
    fs::path dir = NewDir();
    MakeOgg(dir / "testing.ogg", {{44100, 2, 3.0}});
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
