// The music thread on SDL's "disk" audio driver, which writes what the device
// plays to a file in real time, and on its ways to fail.
#include "assets/music.h"
#include "platform/thread.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

namespace {

// Tones that differ per channel and start loud, so the first byte is not silence.
void MakeOgg(const fs::path& path, int rate, int channels, double seconds) {
    vorbis_info info;
    vorbis_info_init(&info);
    ASSERT_EQ(vorbis_encode_init_vbr(&info, channels, rate, 0.3f), 0);
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 7);
    ogg_packet head[3];
    vorbis_analysis_headerout(&dsp, &comment, &head[0], &head[1], &head[2]);
    for (ogg_packet& packet : head) ogg_stream_packetin(&stream, &packet);
    std::ofstream out(path, std::ios::binary);
    ogg_page page;
    auto put = [&] {
        out.write(reinterpret_cast<char*>(page.header), page.header_len)
            .write(reinterpret_cast<char*>(page.body), page.body_len);
    };
    while (ogg_stream_flush(&stream, &page)) put();
    int frames = static_cast<int>(seconds * rate);
    for (int done = 0, count = 1; count > 0; done += count) {
        count = std::min(1024, frames - done);
        if (count > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, count);
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < count; ++i)
                    buffer[c][i] =
                        0.5f * static_cast<float>(std::cos((done + i) * (0.03 + 0.01 * c) +
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

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What libvorbisfile makes of the file, as the music thread asks for it.
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

TEST(MusicDevice, EveryDecodedByteReachesTheDeviceOnceInOrderAndInTime) {
    struct Case {
        int rate, channels;
    };
    // 44100 Hz stereo as it always was; mono and half rate at their own speed.
    for (Case c : {Case{44100, 2}, Case{44100, 1}, Case{22050, 2}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels");
        fs::path dir = NewDir();
        MakeOgg(dir / "testing.ogg", c.rate, c.channels, 3.0);
        Bytes payload = Decode(dir / "testing.ogg");
        ASSERT_EQ(payload.size(), 3u * c.rate * c.channels * 2);
        Playing run;
        testing::internal::CaptureStdout();
        Bytes output = PlayOnDisk(dir, &run);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(PlayedOnce(output, payload));
        EXPECT_GT(run.seconds, 2.7);
        EXPECT_LT(run.seconds, 3.9);
        fs::remove_all(dir);
    }
}

TEST(MusicDevice, TheDefaultMusicIsPlayedWhole) {
    fs::path dir = NewDir();
    fs::copy_file(BUMPWAVE_BUILD_DIR "/testing.ogg", dir / "testing.ogg");
    Bytes payload = Decode(dir / "testing.ogg");
    ASSERT_GT(payload.size(), 42u * 44100 * 4);
    ASSERT_LT(payload.size(), 50u * 44100 * 4);
    EXPECT_TRUE(PlayedOnce(PlayOnDisk(dir), payload));
    fs::remove_all(dir);
}

TEST(MusicFailure, ATruncatedFilePlaysItsWholePagesAndEnds) {
    fs::path dir = NewDir();
    MakeOgg(dir / "whole.ogg", 44100, 2, 3.0);
    Bytes whole = ReadFile(dir / "whole.ogg");
    std::ofstream(dir / "testing.ogg", std::ios::binary).write(whole.data(), whole.size() * 3 / 4);
    Bytes payload = Decode(dir / "testing.ogg");
    Bytes full = Decode(dir / "whole.ogg");
    ASSERT_GT(payload.size(), full.size() / 4);
    ASSERT_TRUE(std::equal(payload.begin(), payload.end(), full.begin()));
    EXPECT_TRUE(PlayedOnce(PlayOnDisk(dir), payload));
    fs::remove_all(dir);
}

TEST(MusicFailure, AFileThatCannotBePlayedIsNamedAndTheEndStillSignalled) {
    fs::path dir = NewDir();
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PlayIn(dir).started);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't open testing.ogg\n");

    std::ofstream(dir / "testing.ogg") << "a text file, not a stream of Vorbis pages\n";
    testing::internal::CaptureStdout();
    EXPECT_TRUE(PlayIn(dir).started);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't open testing.ogg as OGG file\n");
    fs::remove_all(dir);
}

TEST(MusicFailure, WithoutASoundCardOnlyStderrSaysWhy) {
    fs::path dir = NewDir(); // no testing.ogg either: the card is missed first
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(PlayIn(dir).started);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(err.rfind("bumpwave: no sound: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    fs::remove_all(dir);
}
