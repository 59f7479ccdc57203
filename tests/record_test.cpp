// bumpwave-record as a program: its videos against bumpwave-frames and the music, failures, stops.
#include "files.h"
#include "subprocess.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

static const fs::path Corpus = SourceDir / "tests/fuzz/corpus/music_fuzz";
constexpr int Rate = 44100; // of the default music

struct Video {
    std::string picture, pixels, sound, pcm; // codec names, pixel format, 16-bit sound's bytes
    double seconds = 0;
    std::vector<std::string> pictures; // each one's R, G, B bytes if bgr0, else nothing
};

Video Decode(const fs::path& path) {
    Video v;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return v;
    v.seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
    std::vector<AVCodecContext*> decoders;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters* s = format->streams[i]->codecpar;
        decoders.push_back(avcodec_alloc_context3(avcodec_find_decoder(s->codec_id)));
        avcodec_parameters_to_context(decoders.back(), s);
        avcodec_open2(decoders.back(), nullptr, nullptr);
        (s->codec_type == AVMEDIA_TYPE_VIDEO ? v.picture : v.sound) = avcodec_get_name(s->codec_id);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto decode = [&](AVCodecContext* decoder, const AVPacket* packet) {
        for (avcodec_send_packet(decoder, packet); avcodec_receive_frame(decoder, frame) == 0;) {
            if (decoder->codec_type == AVMEDIA_TYPE_AUDIO) {
                if (frame->format == AV_SAMPLE_FMT_S16)
                    v.pcm.append(reinterpret_cast<const char*>(frame->data[0]),
                                 2 * frame->nb_samples * frame->ch_layout.nb_channels);
                continue;
            }
            v.pixels = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
            std::string& rgb = v.pictures.emplace_back();
            for (int p = 0; frame->format == AV_PIX_FMT_BGR0 && p < 640 * 480; ++p) {
                const uint8_t* bgr = frame->data[0] + p / 640 * frame->linesize[0] + p % 640 * 4;
                rgb += {char(bgr[2]), char(bgr[1]), char(bgr[0])};
            }
        }
    };
    for (; av_read_frame(format, packet) >= 0; av_packet_unref(packet))
        decode(decoders[packet->stream_index], packet);
    for (AVCodecContext* decoder : decoders) decode(decoder, nullptr); // drains it
    for (AVCodecContext*& decoder : decoders) avcodec_free_context(&decoder);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return v;
}

struct Record : InFolder {
    Record() { Provide(Pictures); }

    RunResult Run(Names args, const char* tool = "bumpwave-record") {
        args.insert(args.begin(), (BuildDir / tool).string());
        return RunProgram(args, dir_.string(), {}, 300s);
    }

    Names Left() const { // the files in the folder besides the links to those provided
        Names names;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (!entry.is_symlink()) names.push_back(entry.path().filename());
        return names;
    }
};

TEST_F(Record, LosslessVideoIsTheDemoFrameForFrameWithItsMusic) {
    // Frames a second, milliseconds, music, and where each video channel is in the Vorbis order.
    const std::tuple<int, int, fs::path, std::vector<size_t>> cases[] = {
        {30, 1500, BuildDir / "testing.ogg", {0, 1}},
        {3, 14100, BuildDir / "testing.ogg", {0, 1}}, // across the end of the lights
        {30, 300, Corpus / "six-channels.ogg", {0, 2, 1, 5, 3, 4}},
    };
    for (const auto& [fps, until, music, speakers] : cases) {
        SCOPED_TRACE(music.filename().string() + " until " + std::to_string(until));
        std::ofstream(dir_ / "testing.ogg", std::ios::binary) << Slurp(music);
        RunResult run = Run({"--fps", std::to_string(fps), "--seed", "5", "--until",
                             std::to_string(until), "v.mkv"});
        std::string times = "0";
        for (int i = 1; i * 1000 < until * fps; ++i) times += ',' + std::to_string(i * 1000 / fps);
        RunResult drawn = Run({"--seed", "5", "--times", times, "--out", "."}, "bumpwave-frames");
        ASSERT_TRUE(run.exitCode == 0 && drawn.exitCode == 0) << run.err << drawn.err;
        Video video = Decode(dir_ / "v.mkv");
        EXPECT_EQ(video.picture + " " + video.pixels + " " + video.sound, "ffv1 bgr0 flac");
        ASSERT_EQ(video.pictures.size(), (until * fps + 999) / 1000);
        for (size_t i = 0; i < video.pictures.size(); ++i) {
            const std::string name = "frame-" + std::to_string(100000 + i).substr(1) + ".ppm";
            EXPECT_TRUE(Slurp(dir_ / name) == "P6\n640 480\n255\n" + video.pictures[i]) << name;
        }

        // The music from its start in the video's speaker order, then silence, to the end.
        const std::string ogg = DecodeOgg(music, false);
        const size_t channels = speakers.size(), words = size_t(until) * Rate / 1000 * channels;
        std::string expected(2 * words, '\0');
        for (size_t i = 0; i < words; ++i)
            if (size_t from = 2 * (i - i % channels + speakers[i % channels]); from < ogg.size())
                expected.replace(2 * i, 2, ogg, from, 2);
        EXPECT_TRUE(video.pcm == expected);
    }
}

// testing.ogg chained: the default music, 0.1 s of six channels, 0.4 s of one at 22050 Hz.
TEST_F(Record, WholeDemoShowsTheVisualsThenBlackAndEndsASecondAfterTheChainedMusic) {
    std::ofstream(dir_ / "testing.ogg", std::ios::binary)
        << Slurp(BuildDir / "testing.ogg") << Slurp(Corpus / "six-channels.ogg")
        << Slurp(Corpus / "mono-22050.ogg");
    ASSERT_EQ(Run({"--fps", "5", "v.mkv"}).exitCode, 0);
    Video video = Decode(dir_ / "v.mkv");
    for (size_t i = 0; i < video.pictures.size(); ++i) // the 41 s of visuals, then black
        EXPECT_EQ(Silent(video.pictures[i]), i >= 41 * 5) << "frame " << i;
    const std::string first = DecodeOgg(BuildDir / "testing.ogg", false);
    const size_t end = video.pcm.size() / 4; // stereo sample frames
    EXPECT_EQ(video.pictures.size(), (end * 5 + Rate - 1) / Rate);
    EXPECT_NEAR(video.seconds, double(end) / Rate, 0.2);
    EXPECT_EQ(video.pcm.compare(0, first.size(), first), 0);
    // The later streams, sounding up to the second of silence.
    const std::string later = video.pcm.substr(first.size(), 4 * (end - Rate) - first.size());
    EXPECT_NEAR(double(later.size()) / 4 / Rate, 0.5, 0.01);
    EXPECT_FALSE(Silent(later.substr(later.size() - 40)));
    EXPECT_TRUE(Silent(video.pcm.substr(video.pcm.size() - 4 * Rate)));
}

// Every failure leaves nothing; a video is made without music, and a web one with its index first.
TEST_F(Record, SaysWhatItMadeOrWhyNotAndLeavesNothingElse) {
    const std::string usage = "usage: bumpwave-record [--fps N]", me = "bumpwave-record: ";
    const std::string noSound = me + "Couldn't open testing.ogg: the video has no sound\n";
    // Arguments, the one file not provided, exit code, standard error's start, standard output's.
    const std::tuple<Names, std::string, int, std::string, std::string> cases[] = {
        {{"--fps", "0", "v.mkv"}, "", 2, usage, ""},
        {{"--until", "1x", "v.mkv"}, "", 2, usage, ""},
        {{"--crf", "52", "v.mp4"}, "", 2, usage, ""},
        {{"--size", "2", "v.mkv"}, "", 2, usage, ""},
        {{"v.avi"}, "", 2, usage, ""},
        {{"--until", "500"}, "", 2, usage, ""},
        {{"no/such/v.mkv"}, "", 1, me + "cannot write no/such/v.mkv: ", ""},
        {{"v.mkv"},
         "bumpmap.png",
         1,
         "bumpwave: bumpmap.png: found",
         "Couldn't load bumpmap.png\n"},
        {{"v.mp4"}, "boys.jpg", 1, "bumpwave: boys.jpg: found", "Couldn't load boys.jpg\n"},
        {{"--until", "500", "v.mkv"}, "testing.ogg", 0, noSound, "v.mkv: 30 frames, 0.50 s, "},
        {{"--until", "2000", "--crf", "30", "v.mp4"}, "", 0, "", "v.mp4: 120 frames, 2.00 s, "},
    };
    for (const auto& [args, missing, exitCode, err, out] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        for (const auto& entry : fs::directory_iterator(dir_)) fs::remove(entry);
        Provide();
        if (!missing.empty()) fs::remove(dir_ / missing);
        RunResult run = Run(args);
        EXPECT_EQ(run.exitCode, exitCode);
        EXPECT_TRUE(run.err.starts_with(err)) << run.err;
        EXPECT_TRUE(exitCode == 2 || std::ranges::count(run.err, '\n') == !err.empty()) << run.err;
        EXPECT_EQ(run.out.substr(0, exitCode ? std::string::npos : out.size()), out);
        EXPECT_EQ(Left(), exitCode ? Names{} : Names{args.back()});
        EXPECT_EQ(Decode(dir_ / "v.mkv").sound, ""); // the one made without testing.ogg
    }
    Video video = Decode(dir_ / "v.mp4");
    EXPECT_EQ(video.picture + " " + video.pixels + " " + video.sound, "h264 yuv420p aac");
    EXPECT_EQ(video.pictures.size(), 120u);
    EXPECT_NEAR(video.seconds, 2.0, 0.05);
    const std::string bytes = Slurp(dir_ / "v.mp4");
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

TEST_F(Record, StoppedRunLeavesNothing) {
    Provide({"testing.ogg"});
    const fs::path part = dir_ / "v.mkv.part"; // each run is stopped once this holds frames
    for (int signal : {SIGINT, SIGTERM}) {
        Process run({(BuildDir / "bumpwave-record").string(), "v.mkv"}, dir_.string());
        run.ReadUntil([&](auto&) { return fs::exists(part) && fs::file_size(part) > 0; }, 30s);
        kill(run.pid(), signal);
        EXPECT_EQ(run.Finish(120s).signal, signal) << run.result().err;
        EXPECT_EQ(Left(), Names{}) << "after signal " << signal;
    }
}
