// bumpwave-record, run as a program: its videos decoded with FFmpeg's
// libraries and held against bumpwave-frames and the music, its ways to fail,
// and runs stopped half way.
#include "files.h"
#include "subprocess.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

const fs::path SixChannels = SourceDir / "tests/fuzz/corpus/music_fuzz/six-channels.ogg";
constexpr int Rate = 44100; // of the default music
constexpr int RowBytes = 640 * 4;

// The music as the demo decodes it, interleaved in Vorbis order.
std::vector<int16_t> DecodeSamples(const fs::path& path) {
    const std::string bytes = DecodeOgg(path, false);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

struct Video {
    std::string picture, sound, pixels; // codec and pixel format names
    double seconds = 0;
    int frames = 0;
    int channels = 0;
    int64_t soundFrames = 0;
    std::vector<int16_t> samples; // when the sound decodes to 16-bit words
};

// Decodes every frame of `path`, handing the pictures to `look`.
Video Decode(const fs::path& path, const std::function<void(int, const AVFrame*)>& look) {
    Video video;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return video;
    avformat_find_stream_info(format, nullptr);
    video.seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
    std::vector<AVCodecContext*> decoders;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* stream = format->streams[i]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(stream->codec_id);
        decoders.push_back(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decoders.back(), stream);
        avcodec_open2(decoders.back(), codec, nullptr);
        bool picture = stream->codec_type == AVMEDIA_TYPE_VIDEO;
        (picture ? video.picture : video.sound) = avcodec_get_name(stream->codec_id);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto decode = [&](AVCodecContext* decoder, const AVPacket* packet) {
        avcodec_send_packet(decoder, packet);
        while (avcodec_receive_frame(decoder, frame) == 0) {
            if (decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
                video.pixels = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
                look(video.frames++, frame);
                continue;
            }
            video.channels = frame->ch_layout.nb_channels;
            video.soundFrames += frame->nb_samples;
            auto* words = reinterpret_cast<const int16_t*>(frame->data[0]);
            if (frame->format == AV_SAMPLE_FMT_S16)
                video.samples.insert(video.samples.end(), words,
                                     words + frame->nb_samples * video.channels);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        decode(decoders[packet->stream_index], packet);
        av_packet_unref(packet);
    }
    for (AVCodecContext* decoder : decoders) {
        decode(decoder, nullptr);
        avcodec_free_context(&decoder);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return video;
}

bool Black(const AVFrame* frame) {
    for (int y = 0; y < 480; ++y) {
        const uint8_t* row = frame->data[0] + y * frame->linesize[0];
        if (std::any_of(row, row + RowBytes, [](uint8_t byte) { return byte != 0; })) return false;
    }
    return true;
}

class Record : public testing::Test {
  protected:
    void SetUp() override { dir_ = NewFolder(); }
    void TearDown() override { fs::remove_all(dir_); }

    void Provide(std::initializer_list<const char*> names) {
        for (const char* name : names) fs::create_symlink(BuildDir / name, dir_ / name);
    }

    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), (BuildDir / "bumpwave-record").string());
        return RunProgram(args, dir_.string(), {}, 300s);
    }

    // The files left in the folder, besides those provided.
    std::vector<std::string> Left() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (!entry.is_symlink()) names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
};

TEST_F(Record, LosslessVideoIsTheDemoFrameForFrameWithItsMusic) {
    struct Case {
        int fps, untilMs;
        fs::path music;
        std::vector<int> speakers; // where each decoded channel is in the Vorbis order
    };
    const Case cases[] = {
        {30, 1500, BuildDir / "testing.ogg", {0, 1}},
        {3, 14100, BuildDir / "testing.ogg", {0, 1}}, // across the end of the lights
        {30, 300, SixChannels, {0, 2, 1, 5, 3, 4}},
    };
    Provide({"bumpmap.png", "boys.jpg"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.music.filename().string() + " until " + std::to_string(c.untilMs));
        fs::remove(dir_ / "testing.ogg");
        fs::create_symlink(c.music, dir_ / "testing.ogg");
        RunResult run = Run({"--fps", std::to_string(c.fps), "--seed", "5", "--until",
                             std::to_string(c.untilMs), "v.mkv"});
        ASSERT_EQ(run.exitCode, 0) << run.err;

        const int frames = (c.untilMs * c.fps + 999) / 1000;
        std::string times;
        for (int i = 0; i < frames; ++i) times += std::to_string(i * 1000 / c.fps) + ",";
        times.pop_back();
        RunResult drawn = RunProgram({(BuildDir / "bumpwave-frames").string(), "--seed", "5",
                                      "--times", times, "--out", (dir_ / "ppm").string()},
                                     BuildDir.string(), {}, 300s);
        ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
        int differing = 0;
        Video video = Decode(dir_ / "v.mkv", [&](int index, const AVFrame* frame) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%05d.ppm", index);
            const std::string ppm =
                Slurp(dir_ / "ppm" / name).substr(15); // after "P6\n640 480\n255\n"
            bool same = ppm.size() == 640 * 480 * 3;
            for (int p = 0; p < 640 * 480 && same; ++p) { // bytes B, G, R, 0
                const uint8_t* bgr = frame->data[0] + p / 640 * frame->linesize[0] + p % 640 * 4;
                same = bgr[0] == static_cast<uint8_t>(ppm[3 * p + 2]) &&
                       bgr[1] == static_cast<uint8_t>(ppm[3 * p + 1]) &&
                       bgr[2] == static_cast<uint8_t>(ppm[3 * p]);
            }
            differing += !same;
        });
        EXPECT_EQ(video.picture, "ffv1");
        EXPECT_EQ(video.pixels, "bgr0");
        EXPECT_EQ(video.frames, frames);
        EXPECT_EQ(differing, 0);

        // The music from its start, then silence, to the end of the video.
        EXPECT_EQ(video.sound, "flac");
        const std::vector<int16_t> music = DecodeSamples(c.music);
        const int channels = static_cast<int>(c.speakers.size());
        ASSERT_EQ(video.channels, channels);
        const size_t length = static_cast<size_t>(c.untilMs) * Rate / 1000 * channels;
        ASSERT_EQ(video.samples.size(), length);
        size_t wrong = 0;
        for (size_t i = 0; i < length; ++i) {
            size_t from = i - i % channels + c.speakers[i % channels];
            wrong += video.samples[i] != (from < music.size() ? music[from] : 0);
        }
        EXPECT_EQ(wrong, 0u);
        fs::remove_all(dir_ / "ppm");
    }
}

TEST_F(Record, WebVideoIsH264AndAacWithTheIndexInFront) {
    Provide({"bumpmap.png", "boys.jpg", "testing.ogg"});
    RunResult run = Run({"--until", "2000", "--crf", "30", "v.mp4"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("v.mp4: 120 frames, 2.00 s, ")) << run.out;
    EXPECT_EQ(run.err, "");
    Video video = Decode(dir_ / "v.mp4", [](int, const AVFrame*) {});
    EXPECT_EQ(video.picture, "h264");
    EXPECT_EQ(video.pixels, "yuv420p");
    EXPECT_EQ(video.frames, 120);
    EXPECT_EQ(video.sound, "aac");
    EXPECT_NEAR(video.seconds, 2.0, 0.05);
    const std::string bytes = Slurp(dir_ / "v.mp4");
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

TEST_F(Record, WholeDemoEndsASecondAfterTheVisualsOrTheMusic) {
    Provide({"bumpmap.png", "boys.jpg", "testing.ogg"});
    RunResult run = Run({"--fps", "5", "v.mkv"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<int16_t> music = DecodeSamples(BuildDir / "testing.ogg");
    const size_t end = std::max<size_t>(41 * Rate, music.size() / 2) + Rate;
    int blackVisuals = 0, lit = 0;
    Video video = Decode(dir_ / "v.mkv", [&](int index, const AVFrame* frame) {
        if (index < 41 * 5)
            blackVisuals += Black(frame);
        else
            lit += !Black(frame);
    });
    EXPECT_EQ(static_cast<size_t>(video.frames), (end * 5 + Rate - 1) / Rate);
    EXPECT_EQ(blackVisuals, 0);
    EXPECT_EQ(lit, 0) << "frames after the visuals are not black";
    EXPECT_NEAR(video.seconds, static_cast<double>(end) / Rate, 0.2);
    ASSERT_EQ(video.samples.size(), 2 * end);
    EXPECT_TRUE(std::equal(music.begin(), music.end(), video.samples.begin()));
    EXPECT_TRUE(std::all_of(video.samples.begin() + static_cast<long>(music.size()),
                            video.samples.end(), [](int16_t s) { return s == 0; }));
}

TEST_F(Record, TurnsLaterStreamsOfAChainedFileIntoTheFirstOnesFormat) {
    Provide({"bumpmap.png", "boys.jpg"});
    const fs::path corpus = SixChannels.parent_path();
    std::ofstream(dir_ / "testing.ogg", std::ios::binary)
        << Slurp(BuildDir / "testing.ogg") << Slurp(SixChannels)
        << Slurp(corpus / "mono-22050.ogg");
    RunResult run = Run({"--fps", "1", "v.mkv"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Video video = Decode(dir_ / "v.mkv", [](int, const AVFrame*) {});
    const std::vector<int16_t> first = DecodeSamples(BuildDir / "testing.ogg");
    ASSERT_EQ(video.channels, 2);
    ASSERT_GT(video.samples.size(), first.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), video.samples.begin()));
    // 0.1 s of six channels and 0.4 s of one, then the second of silence.
    EXPECT_NEAR(static_cast<double>(video.samples.size() - first.size()) / 2 / Rate, 1.5, 0.01);
    EXPECT_TRUE(std::any_of(video.samples.begin() + static_cast<long>(first.size()),
                            video.samples.end(), [](int16_t s) { return s != 0; }));
}

TEST_F(Record, RefusesBadInputAndLeavesNothing) {
    const std::string usage = "usage: bumpwave-record [--fps N]";
    struct Case {
        std::vector<std::string> args;
        const char* missing; // of the three files
        int exitCode;
        std::string err, out;
    };
    const Case cases[] = {
        {{"--fps", "0", "v.mkv"}, "", 2, usage, ""},
        {{"--until", "1x", "v.mkv"}, "", 2, usage, ""},
        {{"--crf", "52", "v.mp4"}, "", 2, usage, ""},
        {{"--size", "2", "v.mkv"}, "", 2, usage, ""},
        {{"v.avi"}, "", 2, usage, ""},
        {{"--until", "500"}, "", 2, usage, ""},
        {{"no/such/v.mkv"}, "", 1, "bumpwave-record: cannot write no/such/v.mkv: ", ""},
        {{"/proc/v.mkv"}, "", 1, "bumpwave-record: cannot write /proc/v.mkv: ", ""},
        {{"v.mkv"}, "bumpmap.png", 1, "", "Couldn't load bumpmap.png\n"},
        {{"v.mp4"}, "boys.jpg", 1, "", "Couldn't load boys.jpg\n"},
        // made all the same, without a sound track
        {{"--until", "500", "v.mkv"},
         "testing.ogg",
         0,
         "bumpwave-record: Couldn't open testing.ogg: the video has no sound\n",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        for (const char* name : {"bumpmap.png", "boys.jpg", "testing.ogg"})
            if (std::strcmp(name, c.missing) != 0) Provide({name});
        RunResult run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.starts_with(c.err)) << run.err;
        // One line, or the loader's own message alone; only usage is longer.
        const long lines = std::count(run.err.begin(), run.err.end(), '\n');
        EXPECT_TRUE(c.exitCode == 2 || lines == (c.err.empty() ? 0 : 1)) << run.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(Left(), std::vector<std::string>{"v.mkv"});
            EXPECT_EQ(Decode(dir_ / "v.mkv", [](int, const AVFrame*) {}).sound, "");
            continue;
        }
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(Left(), std::vector<std::string>{});
    }
}

TEST_F(Record, StoppedRunLeavesNothing) {
    Provide({"bumpmap.png", "boys.jpg", "testing.ogg"});
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        Process run({(BuildDir / "bumpwave-record").string(), "v.mkv"}, dir_.string());
        for (int i = 0; i < 300 && !fs::exists(dir_ / "v.mkv.part"); ++i)
            std::this_thread::sleep_for(100ms);
        std::this_thread::sleep_for(1s);
        kill(run.pid(), signal);
        const RunResult& result = run.Finish(120s);
        EXPECT_EQ(result.signal, signal) << result.err;
        EXPECT_EQ(Left(), std::vector<std::string>{});
    }
}

} // namespace
