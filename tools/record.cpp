// bumpwave-record: records the demo with its music into a video file, frame
// by frame, without a display or a sound card.
//
//   bumpwave-record [--fps N] [--seed N] [--until MS] [--crf N] OUTPUT
//
// Frame i shows the demo at floor(i × 1000 / fps) ms, drawn through the demo's
// own timeline, as a run paced by a display of that refresh rate draws it.
// After the visuals come black frames while the music plays to its end, then
// a second of silence, as the demo waits for its music and pauses. The file
// is written as OUTPUT.part and renamed at the end; a failure or a signal to
// stop removes it.

#include "assets/music_decode.h"
#include "assets/picture.h"
#include "effects/tables.h"
#include "platform/frame.h"
#include "shell/frame_loop.h"
#include "shell/timeline.h"
#include "tools/video_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

constexpr const char* Usage =
    "usage: bumpwave-record [--fps N] [--seed N] [--until MS] [--crf N] OUTPUT\n"
    "\n"
    "Records the demo with its music into OUTPUT, a .mkv (FFV1 and FLAC, lossless)\n"
    "or a .mp4 (H.264 and AAC). Reads bumpmap.png, boys.jpg and testing.ogg from\n"
    "the current folder; needs no display and no sound card.\n"
    "  --fps N     frames a second, 1 to 1000 (default 60)\n"
    "  --seed N    seeds the effects as bumpwave-frames --seed N (default: the time)\n"
    "  --until MS  ends the video at MS milliseconds\n"
    "  --crf N     H.264 quality for .mp4, 0 (lossless) to 51 (default 18)\n";

constexpr uint64_t MaxFramesPerSecond = 1000;
constexpr uint64_t MaxQuality = 51;
constexpr int64_t TrailingSilenceMs = 1000; // the demo's pause after the music
constexpr int SoundBlockFrames = 4096;
// Decoded music: room for one frame of the widest Vorbis stream, and more.
constexpr int MusicCapacity = SoundBlockFrames * MaxSoundChannels;
constexpr double ProgressInterval = 0.25; // seconds between redraws of the line

struct Options {
    int framesPerSecond = 60;
    unsigned seed = 0;
    bool seeded = false;
    int64_t untilMs = 0; // 0: to the natural end
    int quality = 18;
    VideoKind kind = VideoKind::Lossless;
    std::string output;
};

// Everything the recording holds; released by ReleaseAll on every path.
static Frame* DemoFrame;
static uint32_t* BumpPicture;
static uint32_t* LogoPicture;
static uint32_t* BlackFrame;
static bool MusicOpen;
static bool VideoOpen;
static std::string PartName;
static volatile sig_atomic_t StopSignal;

// Sound time in ticks of the sound track's rate (of 1 ms without music).
static int64_t TickRate = 1000;
static int SoundChannels;
static int64_t SoundTicks; // sound given to the file so far
static int64_t UntilTicks; // where --until ends the video
static bool MusicEnded;    // known once the music is decoded to its end
static int64_t EndTicks;   // the end of the video, once the music has ended
static int16_t MusicSamples[MusicCapacity];
static int16_t SilentSamples[SoundBlockFrames * MaxSoundChannels];
static bool ProgressShown;

static bool ParseNumber(const char* text, uint64_t min, uint64_t max, uint64_t& value) {
    value = 0;
    if (*text == '\0') return false;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9') return false;
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > max) return false;
    }
    return value >= min;
}

static bool EndsWith(const std::string& text, const char* tail) {
    size_t length = std::strlen(tail);
    return text.size() > length && !strcasecmp(text.c_str() + text.size() - length, tail);
}

static bool ParseArguments(int argc, char** argv, Options& options) {
    bool fps = false, seed = false, until = false, crf = false;
    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (name[0] != '-' && options.output.empty()) {
            options.output = name;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        uint64_t number = 0;
        if (!std::strcmp(name, "--fps") && !fps) {
            fps = ParseNumber(value, 1, MaxFramesPerSecond, number);
            options.framesPerSecond = static_cast<int>(number);
            if (!fps) return false;
        } else if (!std::strcmp(name, "--seed") && !seed) {
            seed = options.seeded = ParseNumber(value, 0, UINT32_MAX, number);
            options.seed = static_cast<unsigned>(number);
            if (!seed) return false;
        } else if (!std::strcmp(name, "--until") && !until) {
            until = ParseNumber(value, 1, UINT32_MAX, number);
            options.untilMs = static_cast<int64_t>(number);
            if (!until) return false;
        } else if (!std::strcmp(name, "--crf") && !crf) {
            crf = ParseNumber(value, 0, MaxQuality, number);
            options.quality = static_cast<int>(number);
            if (!crf) return false;
        } else {
            return false;
        }
    }
    if (EndsWith(options.output, ".mkv")) return true;
    options.kind = VideoKind::Web;
    return EndsWith(options.output, ".mp4");
}

static void NoteStop(int signal) {
    StopSignal = signal;
}

static void CatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = NoteStop;
    action.sa_flags = SA_RESTART; // a write in progress finishes; the loop then stops
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Wipes the progress line, so that what follows starts on a clean line.
static void ClearProgress() {
    if (ProgressShown) std::fprintf(stderr, "\r%*s\r", 70, "");
    ProgressShown = false;
}

static bool Fail(const char* what, const char* why) {
    ClearProgress();
    std::fprintf(stderr, "bumpwave-record: %s: %s\n", what, why);
    return false;
}

static bool RecordingFailed(const Options& options, const char* why) {
    return Fail(("cannot record " + options.output).c_str(), why);
}

// Makes the part file now, so that an unusable folder shows before any work.
static bool CreatePartFile(const Options& options) {
    struct stat info;
    if (stat(options.output.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return Fail(options.output.c_str(), std::strerror(EISDIR));
    PartName = options.output + ".part";
    int file = open(PartName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0) {
        int error = errno;
        PartName.clear();
        return Fail(("cannot write " + options.output).c_str(), std::strerror(error));
    }
    close(file);
    return true;
}

static bool LoadAssets(const Options& options) {
    DemoFrame = AllocateFrame(FrameWidth, FrameHeight);
    BlackFrame = static_cast<uint32_t*>(std::calloc(FrameWidth * FrameHeight, 4));
    if (!DemoFrame || !BlackFrame) return Fail("the frame", "not enough memory");
    // The loader prints its own messages, as in the demo.
    if (!LoadPicture("bumpmap.png", &BumpPicture) || !LoadPicture("boys.jpg", &LogoPicture))
        return false;
    unsigned seed = options.seeded ? options.seed : static_cast<unsigned>(std::time(nullptr));
    if (!InitEffects(seed)) return Fail("the tables", "not enough memory");
    ResetTimeline();
    return true;
}

// Opens the music for the sound track; without it the video is silent.
static void OpenMusic() {
    const char* why = nullptr;
    if (!OpenMusicFile(&why)) {
        std::fprintf(stderr, "bumpwave-record: %s: the video has no sound\n", why);
        return;
    }
    MusicOpen = true;
    if (MusicChannels() > MaxSoundChannels || MusicRate() == 0) {
        std::fprintf(stderr,
                     "bumpwave-record: testing.ogg has %d channels at %d Hz, a video takes 1 to "
                     "%d: the video has no sound\n",
                     MusicChannels(), MusicRate(), MaxSoundChannels);
        CloseMusicFile();
        MusicOpen = false;
    }
}

static int64_t MillisecondsToTicks(int64_t ms) {
    return ms * TickRate / 1000;
}

static void NoteMusicEnd(const Options& options) {
    MusicEnded = true;
    int64_t visuals = MillisecondsToTicks(DemoLengthMs);
    EndTicks = std::max(visuals, SoundTicks) + MillisecondsToTicks(TrailingSilenceMs);
    if (options.untilMs) EndTicks = std::min(EndTicks, UntilTicks);
}

// Gives the file sound up to `target` ticks: the music while it lasts, then
// silence up to the end.
static bool PumpSound(const Options& options, int64_t target) {
    while (!MusicEnded && SoundTicks < target) {
        int rate = 0, channels = 0;
        int frames = MusicOpen ? DecodeMusic(MusicSamples, MusicCapacity, &rate, &channels) : 0;
        if (frames > 0 && (rate == 0 || channels > MaxSoundChannels))
            return RecordingFailed(options, "a stream of testing.ogg has no usable format");
        if (frames > 0) {
            // A later stream of a chained file can have its own rate.
            int64_t ticks = frames * TickRate / rate;
            if (SoundTicks + ticks > UntilTicks) {
                ticks = UntilTicks - SoundTicks;
                frames = static_cast<int>(ticks * rate / TickRate);
            }
            if (!AddSound(MusicSamples, frames, rate, channels))
                return RecordingFailed(options, VideoFileError());
            SoundTicks += ticks;
        }
        if (frames == 0 || SoundTicks >= UntilTicks) NoteMusicEnd(options);
    }
    if (!MusicEnded || !MusicOpen) return true;
    for (int64_t end = std::min(target, EndTicks); SoundTicks < end;) {
        int frames = static_cast<int>(std::min<int64_t>(SoundBlockFrames, end - SoundTicks));
        if (!AddSound(SilentSamples, frames, static_cast<int>(TickRate), SoundChannels))
            return RecordingFailed(options, VideoFileError());
        SoundTicks += frames;
    }
    return true;
}

static double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One line on a terminal, drawn over itself.
static void ShowProgress(int64_t done, int64_t total, int framesPerSecond, double seconds) {
    double speed = seconds > 0 ? done / (framesPerSecond * seconds) : 0;
    int64_t left = speed > 0 ? static_cast<int64_t>((total - done) / (framesPerSecond * speed)) : 0;
    ProgressShown = true;
    std::fprintf(stderr, "\rframe %lld of %lld  %3d%%  %.1fx real time  %lld:%02lld left   ",
                 static_cast<long long>(done), static_cast<long long>(total),
                 static_cast<int>(100 * done / total), speed, static_cast<long long>(left / 60),
                 static_cast<long long>(left % 60));
}

// Draws and encodes every frame; the number of frames, or -1 on failure.
static int64_t RecordFrames(const Options& options) {
    const int64_t fps = options.framesPerSecond;
    const bool progress = isatty(STDERR_FILENO);
    // Only for the progress line: the music's own index gives its length.
    double expectedMs = std::max<double>(DemoLengthMs, MusicOpen ? 1000 * MusicSeconds() : 0);
    expectedMs += TrailingSilenceMs;
    if (options.untilMs) expectedMs = std::min<double>(expectedMs, options.untilMs);
    const int64_t expected = std::max<int64_t>(1, static_cast<int64_t>(expectedMs * fps / 1000));
    const auto start = std::chrono::steady_clock::now();
    double shown = 0;
    int64_t frame = 0;
    for (;; ++frame) {
        // The sound runs a frame ahead, so the end is known before the frame after it.
        if (!PumpSound(options, (frame + 1) * TickRate / fps + 1)) return -1;
        if (MusicEnded && frame * TickRate >= EndTicks * fps) break;
        const int64_t elapsedMs = frame * 1000 / fps;
        bool written;
        if (elapsedMs < DemoLengthMs) {
            RenderScene(DemoFrame, static_cast<uint32_t>(elapsedMs), BumpPicture, LogoPicture);
            written = AddVideoFrame(DemoFrame->pixels, DemoFrame->bytesPerRow);
        } else {
            written = AddVideoFrame(BlackFrame, FrameWidth * 4);
        }
        if (!written) {
            RecordingFailed(options, VideoFileError());
            return -1;
        }
        if (StopSignal) return -1;
        if (progress && SecondsSince(start) >= shown + ProgressInterval) {
            shown = SecondsSince(start);
            ShowProgress(frame + 1, std::max(expected, frame + 1), options.framesPerSecond, shown);
        }
    }
    ClearProgress();
    return PumpSound(options, EndTicks) ? frame : -1;
}

static void ReleaseAll() {
    if (VideoOpen) AbandonVideoFile();
    VideoOpen = false;
    if (!PartName.empty()) unlink(PartName.c_str());
    PartName.clear();
    if (MusicOpen) CloseMusicFile();
    MusicOpen = false;
    FreeWaveTables();
    std::free(BumpPicture);
    std::free(LogoPicture);
    std::free(BlackFrame);
    FreeFrame(DemoFrame);
    BumpPicture = LogoPicture = BlackFrame = nullptr;
    DemoFrame = nullptr;
}

static bool Record(const Options& options) {
    if (!CreatePartFile(options) || StopSignal) return false;
    if (!LoadAssets(options) || StopSignal) return false;
    OpenMusic();
    if (MusicOpen) {
        TickRate = MusicRate();
        SoundChannels = MusicChannels();
    }
    UntilTicks = options.untilMs ? MillisecondsToTicks(options.untilMs) : INT64_MAX;
    if (!MusicOpen) NoteMusicEnd(options);

    const VideoSettings settings = {options.kind, options.framesPerSecond, options.quality,
                                    MusicOpen ? MusicRate() : 0, SoundChannels};
    VideoOpen = true;
    if (!OpenVideoFile(PartName.c_str(), settings))
        return RecordingFailed(options, VideoFileError());
    const auto start = std::chrono::steady_clock::now();
    int64_t frames = RecordFrames(options);
    if (frames < 0) return false;
    VideoOpen = false;
    if (!FinishVideoFile())
        return Fail(("cannot finish " + options.output).c_str(), VideoFileError());
    if (StopSignal) return false;
    if (rename(PartName.c_str(), options.output.c_str()) != 0)
        return Fail(("cannot rename the recording to " + options.output).c_str(),
                    std::strerror(errno));
    PartName.clear();

    struct stat info = {};
    stat(options.output.c_str(), &info);
    double seconds = static_cast<double>(frames) / options.framesPerSecond;
    std::printf("%s: %lld frames, %.2f s, %.1f MB, %.1fx real time\n", options.output.c_str(),
                static_cast<long long>(frames), seconds, info.st_size / 1e6,
                seconds / SecondsSince(start));
    return true;
}

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && !std::strcmp(argv[1], "--help")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::puts("bumpwave-record " BUMPWAVE_VERSION);
        return 0;
    }
    if (!ParseArguments(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    CatchStopSignals();
    bool recorded = Record(options);
    std::fflush(stdout);
    ReleaseAll();
    if (StopSignal && !recorded) {
        // Ended as the signal would have ended it, now that nothing is left behind.
        ClearProgress();
        std::fputs("bumpwave-record: stopped, nothing written\n", stderr);
        std::signal(StopSignal, SIG_DFL);
        std::raise(StopSignal);
    }
    return recorded ? 0 : 1;
}
