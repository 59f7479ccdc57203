// bumpwave-record, run as a program: its videos decoded with FFmpeg's
// libraries and held against bumpwave-frames and the music, its ways to fail,
// and runs stopped half way.
#include "files.h"
#include "subprocess.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <csignal>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

const fs::path Corpus = SourceDir / "tests/fuzz/corpus/music_fuzz";
constexpr int Rate = 44100; // of the default music

struct Video {
    std::string picture, sound, pixels; // codec and pixel format names
    double seconds = 0;
    int frames = 0, channels = 0;
    std::string pcm; // the sound's bytes, when it decodes to 16-bit words
};

// Decodes all of `path`, handing each picture to `look` as R, G, B bytes if it is bgr0.
Video Decode(
    const fs::path& path,
    const std::function<void(int, const std::string&)>& look = [](int, auto&) {}) {
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
        (stream->codec_type == AVMEDIA_TYPE_VIDEO ? video.picture : video.sound) =
            avcodec_get_name(stream->codec_id);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto decode = [&](AVCodecContext* decoder, const AVPacket* packet) {
        for (avcodec_send_packet(decoder, packet); avcodec_receive_frame(decoder, frame) == 0;) {
            if (decoder->codec_type == AVMEDIA_TYPE_AUDIO) {
                video.channels = frame->ch_layout.nb_channels;
                if (frame->format == AV_SAMPLE_FMT_S16)
                    video.pcm.append(reinterpret_cast<const char*>(frame->data[0]),
                                     2 * frame->nb_samples * video.channels);
                continue;
            }
            video.pixels = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
            std::string rgb;
            for (int p = 0; frame->format == AV_PIX_FMT_BGR0 && p < 640 * 480; ++p) {
                const uint8_t* bgr = frame->data[0] + p / 640 * frame->linesize[0] + p % 640 * 4;
                rgb += {char(bgr[2]), char(bgr[1]), char(bgr[0])};
            }
            look(video.frames++, rgb);
        }
    };
    for (; av_read_frame(format, packet) >= 0; av_packet_unref(packet))
        decode(decoders[packet->stream_index], packet);
    for (AVCodecContext* decoder : decoders)
        decode(decoder, nullptr), avcodec_free_context(&decoder);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return video;
}

using Names = std::vector<std::string>;

class Record : public testing::Test {
  protected:
    void TearDown() override { fs::remove_all(dir_); }

    void Provide(const Names& names) {
        for (const std::string& name : names) fs::create_symlink(BuildDir / name, dir_ / name);
    }

    RunResult Run(Names args, const char* tool = "bumpwave-record") {
        args.insert(args.begin(), (BuildDir / tool).string());
        return RunProgram(args, dir_.string(), {}, 300s);
    }

    // The files left in the folder, besides those provided.
    Names Left() const {
        Names names;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (!entry.is_symlink()) names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir_ = NewFolder();
};

TEST_F(Record, LosslessVideoIsTheDemoFrameForFrameWithItsMusic) {
    // Frames a second, milliseconds, the music and where each channel of the
    // video is in the Vorbis order.
    const std::tuple<int, int, fs::path, std::vector<int>> cases[] = {
        {30, 1500, BuildDir / "testing.ogg", {0, 1}},
        {3, 14100, BuildDir / "testing.ogg", {0, 1}}, // across the end of the lights
        {30, 300, Corpus / "six-channels.ogg", {0, 2, 1, 5, 3, 4}},
    };
    Provide({"bumpmap.png", "boys.jpg"});
    for (const auto& [fps, untilMs, music, speakers] : cases) {
        SCOPED_TRACE(music.filename().string() + " until " + std::to_string(untilMs));
        fs::remove(dir_ / "testing.ogg");
        fs::create_symlink(music, dir_ / "testing.ogg");
        RunResult run = Run({"--fps", std::to_string(fps), "--seed", "5", "--until",
                             std::to_string(untilMs), "v.mkv"});
        ASSERT_EQ(run.exitCode, 0) << run.err;

        const int frames = (untilMs * fps + 999) / 1000;
        std::string times = "0";
        for (int i = 1; i < frames; ++i) times += "," + std::to_string(i * 1000 / fps);
        RunResult drawn = Run({"--seed", "5", "--times", times, "--out", "ppm"}, "bumpwave-frames");
        ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
        int differing = 0;
        Video video = Decode(dir_ / "v.mkv", [&](int index, const std::string& rgb) {
            const std::string name = "frame-" + std::to_string(100000 + index).substr(1) + ".ppm";
            differing += Slurp(dir_ / "ppm" / name) != "P6\n640 480\n255\n" + rgb;
        });
        EXPECT_EQ(video.picture + " " + video.pixels, "ffv1 bgr0");
        EXPECT_EQ(video.frames, frames);
        EXPECT_EQ(differing, 0);

        // The music from its start in the video's speaker order, then silence, to the end.
        EXPECT_EQ(video.sound, "flac");
        const std::string ogg = DecodeOgg(music, false);
        const size_t channels = speakers.size(), words = size_t(untilMs) * Rate / 1000 * channels;
        ASSERT_EQ(video.channels, int(channels));
        std::string expected(2 * words, '\0');
        for (size_t i = 0; i < words; ++i) {
            const size_t from = 2 * (i - i % channels + size_t(speakers[i % channels]));
            if (from < ogg.size()) expected.replace(2 * i, 2, ogg, from, 2);
        }
        EXPECT_TRUE(video.pcm == expected);
        fs::remove_all(dir_ / "ppm");
    }
}

TEST_F(Record, WebVideoIsH264AndAacWithTheIndexInFront) {
    Provide({"bumpmap.png", "boys.jpg", "testing.ogg"});
    RunResult run = Run({"--until", "2000", "--crf", "30", "v.mp4"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("v.mp4: 120 frames, 2.00 s, ")) << run.out;
    EXPECT_EQ(run.err, "");
    Video video = Decode(dir_ / "v.mp4");
    EXPECT_EQ(video.picture + " " + video.pixels + " " + video.sound, "h264 yuv420p aac");
    EXPECT_EQ(video.frames, 120);
    EXPECT_NEAR(video.seconds, 2.0, 0.05);
    const std::string bytes = Slurp(dir_ / "v.mp4");
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

// A chained testing.ogg: the default music, then 0.1 s of six channels and
// 0.4 s of one at 22050 Hz, which take the first stream's format.
TEST_F(Record, WholeDemoShowsTheVisualsThenBlackAndEndsASecondAfterTheChainedMusic) {
    Provide({"bumpmap.png", "boys.jpg"});
    std::ofstream(dir_ / "testing.ogg", std::ios::binary)
        << Slurp(BuildDir / "testing.ogg") << Slurp(Corpus / "six-channels.ogg")
        << Slurp(Corpus / "mono-22050.ogg");
    RunResult run = Run({"--fps", "5", "v.mkv"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    int wrong = 0;
    Video video = Decode(dir_ / "v.mkv", [&](int index, const std::string& rgb) {
        wrong += Silent(rgb) != (index >= 41 * 5);
    });
    EXPECT_EQ(wrong, 0) << "black frames during the 41 s of visuals, or lit ones after";
    const std::string first = DecodeOgg(BuildDir / "testing.ogg", false);
    const size_t end = video.pcm.size() / 4; // stereo sample frames
    ASSERT_EQ(video.channels, 2);
    ASSERT_GT(end, first.size() / 4 + Rate);
    EXPECT_EQ(video.frames, int((end * 5 + Rate - 1) / Rate));
    EXPECT_NEAR(video.seconds, double(end) / Rate, 0.2);
    EXPECT_EQ(video.pcm.compare(0, first.size(), first), 0);
    // The later streams, sounding up to the second of silence.
    const std::string later =
        video.pcm.substr(first.size(), video.pcm.size() - first.size() - 4 * Rate);
    EXPECT_NEAR(double(later.size()) / 4 / Rate, 0.5, 0.01);
    EXPECT_FALSE(Silent(later.substr(later.size() - 40)));
    EXPECT_TRUE(Silent(video.pcm.substr(video.pcm.size() - 4 * Rate)));
}

TEST_F(Record, RefusesBadInputAndLeavesNothing) {
    const std::string usage = "usage: bumpwave-record [--fps N]",
                      noSound =
                          "bumpwave-record: Couldn't open testing.ogg: the video has no sound\n";
    // Arguments, the file of the three not provided, exit code, the start of
    // standard error, standard output.
    const std::tuple<Names, std::string, int, std::string, std::string> cases[] = {
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
        {{"--until", "500", "v.mkv"}, "testing.ogg", 0, noSound, ""}, // made without sound
    };
    for (const auto& [args, missing, exitCode, err, out] : cases) {
        SCOPED_TRACE(args[0] + " " + (args.size() > 1 ? args[1] : ""));
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        for (const char* name : {"bumpmap.png", "boys.jpg", "testing.ogg"})
            if (name != missing) Provide({name});
        RunResult run = Run(args);
        EXPECT_EQ(run.exitCode, exitCode);
        EXPECT_TRUE(run.err.starts_with(err)) << run.err;
        // One line, or the loader's own message alone; only usage is longer.
        const long lines = std::count(run.err.begin(), run.err.end(), '\n');
        EXPECT_TRUE(exitCode == 2 || lines == (err.empty() ? 0 : 1)) << run.err;
        EXPECT_EQ(exitCode ? run.out : "", out);
        EXPECT_EQ(Left(), exitCode ? Names{} : Names{"v.mkv"});
        EXPECT_EQ(Decode(dir_ / "v.mkv").sound, ""); // the sound-less one
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
        EXPECT_EQ(Left(), Names{});
    }
}

} // namespace
