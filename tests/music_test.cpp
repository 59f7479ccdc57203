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
#include <map>
#include <memory>
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

// Decoded samples moved from Vorbis's channel order to SDL's, as both name
// them; SDL has no centre at 3 channels and takes it in its third.
Bytes InSdlOrder(const Bytes& vorbis, int channels) {
    using Order = std::vector<std::string>;
    const std::map<int, std::pair<Order, Order>> orders = {
        {3, {{"L", "C", "R"}, {"L", "R", "C"}}},
        {6, {{"L", "C", "R", "BL", "BR", "LFE"}, {"L", "R", "C", "LFE", "BL", "BR"}}},
        {8,
         {{"L", "C", "R", "SL", "SR", "BL", "BR", "LFE"},
          {"L", "R", "C", "LFE", "BL", "BR", "SL", "SR"}}}};
    if (!orders.contains(channels)) return vorbis;
    const auto& [from, to] = orders.at(channels);
    Bytes sdl(vorbis.size());
    for (size_t frame = 0; frame < vorbis.size(); frame += 2 * channels)
        for (int c = 0; c < channels; ++c) {
            size_t v = std::find(from.begin(), from.end(), to[c]) - from.begin();
            std::copy_n(&vorbis[frame + 2 * v], 2, &sdl[frame + 2 * c]);
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

fs::path NewDir() {
    std::string name = (fs::temp_directory_path() / "bumpwave-music-XXXXXX").string();
    return mkdtemp(name.data());
}

// Plays `dir`/testing.ogg on the disk driver; what the device was given.
Bytes PlayOnDisk(const fs::path& dir) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    EXPECT_TRUE(PlayIn(dir).started);
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
                          // a first stream of one page is skipped by libvorbisfile itself
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
        double seconds = 0;
        for (const Link& link : c.links) seconds += link.seconds;
        Sound sound = Measure(output, 2u * first.channels);
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
    fs::path dir = NewDir();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", (dir / "played.raw").c_str(), 1);
    ASSERT_TRUE(OpenSound(44100, 2));
    LateMade = 0;
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
         [](const fs::path& p) {
             MakeOgg(p, {{44100, 2, 0.1}}, 4294967295u);
         },
         "", noSound + "cannot play 4294967295 Hz with 2 channels"},
        // no testing.ogg either: the card is missed first
        {"no sound card", [](const fs::path&) {}, "", noSound}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path dir = NewDir();
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
