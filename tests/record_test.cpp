// bumpwave-record as a program: its videos against bumpwave-frames and the music, failures, stops.
#include "files.h"
#include "subprocess.h"

#include <cstring>
#include <fnmatch.h>
#include <set>
#include <sstream>

using namespace std::chrono_literals;

static const fs::path Corpus = SourceDir / "tests/fuzz/corpus/music_fuzz";
static const fs::path Music = SourceDir / "tests/music";
constexpr int Rate = 44100; // of the default music

struct Video {
    std::string picture, pixels, sound, pcm; // codec names, pixel format, FLAC's 16-bit samples
    double seconds = 0;
    int channels = 0;
    std::vector<std::string> pictures; // each one's R, G, B bytes
};

static std::string Ffmpeg(const std::vector<std::string>& args) {
    return RunProgram(args, "", {}, 120s).out;
}

// As FFmpeg's own tools decode it; the lossy codecs' sound is left out.
Video Decode(const fs::path& path) {
    std::istringstream probe(
        Ffmpeg({"ffprobe", "-v", "error", "-show_entries",
                "stream=codec_name,width,height,pix_fmt,channels:format=duration", "-of",
                "default=nw=1:nk=1", path}));
    const std::vector<std::string> f{std::istream_iterator<std::string>(probe), {}};
    Video v;
    if (f.size() < 5) return v;
    v.picture = f[0], v.pixels = f[3], v.seconds = std::stod(f.back());
    if (f.size() > 5) v.sound = f[4], v.channels = std::stoi(f[5]);
    const std::string rgb = Ffmpeg({"ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough",
                                    "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    for (size_t at = 0, size = 3 * std::stoul(f[1]) * std::stoul(f[2]); at < rgb.size(); at += size)
        v.pictures.push_back(rgb.substr(at, size));
    if (v.sound == "flac")
        v.pcm = Ffmpeg({"ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"});
    return v;
}

struct Record : InFolder {
    Record() { Provide(Pictures); }

    RunResult Run(std::vector<std::string> args, const char* tool = "bumpwave-record") {
        args.insert(args.begin(), Stranded(tool).string());
        return RunProgram(args, dir_.string(), {}, 300s);
    }

    bool Writing(int runs) const { // so many recordings have written their header
        for (const auto& entry : fs::directory_iterator(dir_))
            runs -= entry.path().extension() == ".part" && entry.file_size() > 0;
        return runs <= 0;
    }
    std::string Left() const { // the files besides the links to those provided
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            if (!entry.is_symlink()) names.insert(entry.path().filename());
        std::string list;
        for (const std::string& name : names) list += (list.empty() ? "" : " ") + name;
        return list;
    }
};

// A picture of R, G, B bytes, 640 pixels wide, blown up `scale` times, each pixel a square.
static std::string BlowUp(const std::string& rgb, size_t scale) {
    std::string big;
    for (size_t i = 0, w = 640 * scale; i < rgb.size() / 3 * scale * scale; ++i)
        big.append(rgb, 3 * (i / w / scale * 640 + i % w / scale), 3);
    return big;
}

TEST_F(Record, LosslessVideoIsTheDemoFrameForFrameWithItsMusic) {
    // Frames a second, from and until (ms), music, each video channel's Vorbis channel, scale.
    const std::tuple<int, int, int, fs::path, std::vector<size_t>, int> cases[] = {
        {3, 0, 14100, BuildDir / "testing.ogg", {0, 1}, 2}, // across the end of the lights
        {30, 0, 300, Corpus / "six-channels.ogg", {0, 2, 1, 5, 3, 4}, 1},
        {60, 5000, 5100, BuildDir / "testing.ogg", {0, 1}, 1}, // a clip: the show as it is then
    };
    for (const auto& [fps, from, until, music, speakers, scale] : cases) {
        SCOPED_TRACE(music.filename().string() + " until " + std::to_string(until));
        std::ofstream(dir_ / "testing.ogg", std::ios::binary) << Slurp(music);
        RunResult run =
            Run({"--fps", std::to_string(fps), "--seed", "5", "--from", std::to_string(from),
                 "--until", std::to_string(until), "--scale", std::to_string(scale), "v.mkv"});
        const int first = from * fps / 1000; // the show is stepped from its start all the same
        std::string times = "0", saved = std::to_string(first);
        for (int i = 1; i * 1000 < until * fps; ++i) {
            times += ',' + std::to_string(i * 1000 / fps);
            if (i > first) saved += ',' + std::to_string(i);
        }
        RunResult drawn = Run({"--seed", "5", "--times", times, "--save", saved, "--out", "."},
                              "bumpwave-frames");
        ASSERT_TRUE(run.exitCode == 0 && drawn.exitCode == 0) << run.err << drawn.err;
        Video video = Decode(dir_ / "v.mkv");
        EXPECT_EQ(video.picture + " " + video.pixels + " " + video.sound, "ffv1 bgr0 flac");
        ASSERT_EQ(video.pictures.size(), (until * fps + 999) / 1000 - first);
        for (size_t i = 0; i < video.pictures.size(); ++i) {
            const std::string name =
                "frame-" + std::to_string(100000 + first + i).substr(1) + ".ppm";
            const std::string pixels = Slurp(dir_ / name).substr(15); // after "P6\n640 480\n255\n"
            EXPECT_TRUE(BlowUp(pixels, scale) == video.pictures[i]) << name;
        }

        // The music from `from` in the video's speaker order, then silence, to the end.
        const size_t channels = speakers.size(), start = size_t(from) * Rate / 1000,
                     words = (size_t(until) * Rate / 1000 - start) * channels;
        const std::string ogg = DecodeOgg(music, false).substr(2 * start * channels);
        std::string expected(2 * words, '\0');
        for (size_t i = 0; i < words; ++i)
            if (size_t at = 2 * (i - i % channels + speakers[i % channels]); at < ogg.size())
                expected.replace(2 * i, 2, ogg, at, 2);
        EXPECT_TRUE(video.pcm == expected);
    }
}

// The whole demo at 5 frames a second, with chained music of other rates and channels.
TEST_F(Record, WholeDemoShowsTheVisualsThenBlackAndEndsASecondAfterItsMusic) {
    // Then 0.1 s of 6 channels, 0.4 s of 1 at 22050 Hz, 3 s of 1 at 8000 Hz, 2 s of 2: no rests.
    std::ofstream(dir_ / "testing.ogg", std::ios::binary)
        << Slurp(BuildDir / "testing.ogg") << Slurp(Corpus / "six-channels.ogg")
        << Slurp(Corpus / "mono-22050.ogg") << Slurp(Music / "mono-8000-then-stereo.ogg");
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
    EXPECT_NEAR(double(later.size()) / 4 / Rate, 5.5, 0.01);
    EXPECT_EQ(later.find(std::string(4 * Rate / 100, '\0'), 4 * Rate / 2), std::string::npos);
    EXPECT_TRUE(Silent(video.pcm.substr(video.pcm.size() - 4 * Rate)));
}

// Scripts ($0 the recorder, $M the committed music, $C the fuzzer's, $B the build's folder).
TEST_F(Record, SaysWhatItMadeOrWhyNotAndLeavesNothingElse) {
    const std::string me = "bumpwave-record: ";
    const std::string noSound = me + "the video has no sound\n", music = "rm testing.ogg; cat ";
    const std::string skipped = me + "testing.ogg: a stream of ";
    const std::string longName(251, 'n'); // with ".mkv", as long as a name can be
    // The script, exit code, standard error and output as patterns, the files left, the sound.
    using Row = std::tuple<std::string, int, std::string, std::string, std::string, std::string>;
    std::vector<Row> cases = {
        {"rm testing.ogg; $0 --until 500 v.mkv", 0, me + "testing.ogg: *found*\n" + noSound,
         "Couldn't open testing.ogg\nv.mkv: 30 frames, 0.50 s, 640x480, *", "v.mkv", "silent"},
        // a user's link that leads nowhere, not replaced by the build's file beside the recorder
        {"ln -sf /media/usb/gone testing.ogg; $B/bumpwave-record --until 500 v.mkv", 0,
         me + "testing.ogg: a link that leads nowhere\n" + noSound,
         "Couldn't open testing.ogg\nv.mkv: 30 frames, *", "v.mkv", "silent"},
        {"ln -sf /media/usb/gone bumpmap.png; $B/bumpwave-record v.mkv", 1,
         me + "bumpmap.png: a link that leads nowhere\n", "Couldn't load bumpmap.png\n", "", ""},
        {"for n in 16:30 pipe:1 file:v " + longName + "; do $0 --until 100 $n.mkv; done", 0, "",
         "16:30.mkv: 6 frames*pipe:1.mkv: 6 frames*file:v.mkv: 6 frames*" + longName + ".mkv: 6*",
         "16:30.mkv file:v.mkv " + longName + ".mkv pipe:1.mkv", ""}, // names, not URLs
        {"$0 n" + longName + ".mkv", 1,
         me + "cannot write n" + longName + ".mkv: File name too long\n", "", "", ""},
        {music + "$M/rate-700000.ogg >testing.ogg; $0 --until 500 v.mkv", 0,
         skipped + "2 channels at 700000 Hz: skipped\n" + me + "testing.ogg holds no sound*" +
             noSound,
         "v.mkv: *", "testing.ogg v.mkv", "silent"},
        // held up to a rate AAC takes
        {music + "$M/rate-1.ogg >testing.ogg; $0 --until 2000 v.mp4", 0,
         me + "testing.ogg: 1 Hz music plays 8000 times slower than at 8000 Hz: it lasts 1 h 6 "
              "min\n",
         "v.mp4: *", "testing.ogg v.mp4", "h264 aac 1"},
        {music + "$M/five-channels.ogg $M/ten-channels.ogg $C/six-channels.ogg >testing.ogg; "
                 "$0 --until 2500 v.mkv",
         0, skipped + "10 channels at 44100 Hz: skipped\n", "v.mkv: *", "testing.ogg v.mkv",
         "ffv1 flac 5 until 1.1 s"}, // the first stream's 1 s, 0.1 s
        // libvorbisfile's index of this music would take half an hour; a closed pipe; a stale link
        {music +
             "$B/testing.ogg >testing.ogg; truncate -s 1G testing.ogg; ln -s target v.mkv.part; "
             "$0 --until 100 v.mkv | true",
         0, "", "", "testing.ogg v.mkv", "ffv1 flac 2 until 0.1 s"},
        {"ulimit -f 500; $0 --until 5000 v.mkv", 1, me + "cannot record v.mkv: *File too large\n",
         "", "", ""},
        {"mkfifo v.mkv; $0 v.mkv", 1, me + "v.mkv: not a regular file\n", "", "v.mkv", ""},
        {music + "$M/eight-channels-48000.ogg >testing.ogg; $0 --until 1000 --scale 2 v.webm", 0,
         "", "v.webm: 60 frames, 1.00 s, 1280x960, *", "testing.ogg v.webm", "vp9 opus 8"},
        {"$0 --until 2000 --crf 30 --scale 3 v.mp4", 0, "",
         "v.mp4: 120 frames, 2.00 s, 1920x1440, *", "v.mp4", "h264 aac 2"}, // last: see below
    };
    for (const auto& [script, exitCode, err, out, left, sound] : cases) {
        SCOPED_TRACE(script);
        for (const auto& entry : fs::directory_iterator(dir_)) fs::remove(entry);
        Provide();
        RunResult run = RunProgram(
            {"bash", "-o", "pipefail", "-c", script, Stranded("bumpwave-record").string()}, dir_,
            {"M=" + Music.string(), "C=" + Corpus.string(), "B=" + BuildDir.string()}, 120s);
        EXPECT_EQ(run.exitCode, exitCode);
        EXPECT_EQ(fnmatch(err.c_str(), run.err.c_str(), 0), 0) << run.err;
        EXPECT_EQ(fnmatch(out.c_str(), run.out.c_str(), 0), 0) << run.out;
        EXPECT_EQ(Left(), left);
        Video v;
        for (const char* name : {"v.mkv", "v.mp4", "v.webm"})
            if (fs::is_regular_file(dir_ / name)) v = Decode(dir_ / name);
        const size_t end = v.pcm.find_last_not_of('\0') / 2 / std::max(v.channels, 1);
        char heard[64] = "silent"; // codecs, channels, and when the last sound ends
        if (v.channels)
            std::snprintf(heard, sizeof heard, v.pcm.empty() ? "%s %s %d" : "%s %s %d until %.1f s",
                          v.picture.c_str(), v.sound.c_str(), v.channels, double(end) / Rate);
        EXPECT_EQ(v.picture.empty() ? "" : heard, sound);
    }
    const Video v = Decode(dir_ / "v.mp4");
    EXPECT_EQ(v.pixels + " " + std::to_string(v.pictures.size()), "yuv420p 120");
    EXPECT_NEAR(v.seconds, 2.0, 0.05);
    EXPECT_LT(Slurp(dir_ / "v.mp4").find("moov"), Slurp(dir_ / "v.mp4").find("mdat"));
}

// A signal that ends a run removes its file, but not another run's of that name, nor under nohup.
TEST_F(Record, StoppedRunLeavesNothingOfItsOwn) {
    const std::string recorder = Stranded("bumpwave-record").string();
    Process ignoring({"nohup", recorder, "--fps", "20", "--until", "3000", "v.mkv"}, dir_.string());
    for (int signal : {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                       SIGXCPU, SIGPROF}) {
        SCOPED_TRACE(strsignal(signal));
        // Without a core file: some of them leave one.
        Process stopped({"prlimit", "--core=0", recorder, "--until", "60000", "v.mkv"},
                        dir_.string());
        stopped.ReadUntil([&](auto&) { return Writing(signal == SIGHUP ? 2 : 1); }, 30s);
        if (signal == SIGHUP) {
            kill(ignoring.pid(), SIGHUP);
            EXPECT_EQ(ignoring.Finish(120s).exitCode, 0) << ignoring.result().err;
        }
        kill(stopped.pid(), signal);
        EXPECT_EQ(stopped.Finish(120s).signal, signal);
        EXPECT_TRUE(stopped.result().err.ends_with(": stopped, nothing written\n"));
        EXPECT_EQ(Left(), "v.mkv");
        EXPECT_EQ(Decode(dir_ / "v.mkv").pictures.size(), 60u);
    }
}

TEST_F(Record, ChromiumPlaysAScaledWebmToItsEndWithItsMusic) {
    const std::string play = (SourceDir / "tests/browser.py").string();
    if (!fs::exists("/usr/bin/chromium") || RunProgram({play}, "", {}, 60s).exitCode != 2)
        GTEST_SKIP() << "needs /usr/bin/chromium and python3-websocket";
    Provide({"testing.ogg"});
    ASSERT_EQ(Run({"--until", "2000", "--scale", "2", "v.webm"}).exitCode, 0);
    RunResult played = RunProgram({play, dir_.string(), "v.webm"}, "", {}, 150s);
    EXPECT_EQ(played.out, "1280x960 2.0 with sound\n") << played.err;
}
