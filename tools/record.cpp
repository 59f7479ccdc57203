// bumpwave-record: records the demo with its music into a video file, frame
// by frame, without a display or a sound card.
//
//   bumpwave-record [--fps N] [--seed N] [--from MS] [--until MS] [--crf N] [--scale N] [--calm]
//                   OUTPUT
//
// Frame i shows the demo at floor(i × 1000 / fps) ms, drawn through the demo's
// own timeline, as a run paced by a display of that refresh rate draws it.
// After the visuals come black frames while the music plays to its end, then
// a second of silence, as the demo waits for its music and pauses. A clip
// (--from) is the same recording from the frame on show at that moment. The file
// is written under a name of its own beside OUTPUT and renamed over OUTPUT at
// the end; a failure or a signal to stop removes it.

#include "assets/music.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "shell/frame_loop.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "shell/timeline.h"
#include "tools/arguments.h"
#include "tools/video_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

constexpr const char* Help =
    "usage: bumpwave-record [--fps N] [--seed N] [--from MS] [--until MS] [--crf N] [--scale N]\n"
    "                       [--calm] OUTPUT\n"
    "\n"
    "Records the demo with its music into OUTPUT, a .mkv (FFV1 and FLAC, lossless),\n"
    "a .mp4 (H.264 and AAC) or a .webm (VP9 and Opus); needs no display and no\n"
    "sound card.\n"
    "  --fps N     frames a second, 1 to 1000 (default 60)\n"
    "  --seed N    seeds the effects as bumpwave-frames --seed N (default: the time)\n"
    "  --from MS   starts the video at MS milliseconds, its music too\n"
    "  --until MS  ends the video at MS milliseconds\n"
    "  --crf N     quality for .mp4 and .webm, 0 (best) to 51 (default 18)\n"
    "  --scale N   makes each pixel N x N pixels, 1 to 6 (default 1)\n"
    "  --calm      the logo fades in and stays instead of flashing\n"
    "It reads bumpmap.png, boys.jpg and testing.ogg from the current folder, or\n"
    "else from ";
constexpr const char* Formats = "the formats are .mkv (lossless), .mp4 and .webm";
constexpr uint64_t MaxFramesPerSecond = 1000;
constexpr uint64_t MaxQuality = 51;
constexpr int64_t TrailingSilenceMs = 1000; // the demo's pause after the music
constexpr int SoundBlockFrames = 4096;
constexpr double ProgressInterval = 0.25; // seconds between redraws of the line
constexpr int ProgressWidth = 79;

constexpr ToolOption Known[] = {
    {"fps", "a whole number from 1 to 1000"},
    {"seed", "a whole number from 0 to 4294967295"},
    {"until", "milliseconds from 1 to 4294967295"},
    {"crf", "a whole number from 0 to 51"},
    {"scale", "a whole number from 1 to 6"},
    {"calm", nullptr},
    {"from", "milliseconds from 0 to 4294967294, before --until"},
};
enum { Fps, Seed, Until, Crf, Scale, Calm, From };

struct RecordArguments {
    int framesPerSecond = 60;
    unsigned seed = 0;
    bool seeded = false, calm = false;
    int64_t fromMs = 0;
    int64_t untilMs = 0; // 0: to the natural end
    int quality = 18;
    int scale = 1;
    VideoKind kind = VideoKind::Lossless;
    std::string output;
};

// Everything the recording holds; released by ReleaseAll on every path.
static Frame* DemoFrame;
static uint32_t* BlackFrame;
static bool MusicOpen;
static bool VideoOpen;
static volatile sig_atomic_t ProgressShown;
static char BlankLine[ProgressWidth + 3]; // wipes the progress line

// Sound time in sample frames of the sound track (ticks of 1 ms without one).
static int64_t TickRate = 1000;
static int SoundChannels;
static int64_t SoundTicks; // sound given to the file so far
static int64_t UntilTicks; // where --until ends the video
static int64_t SkipTicks;  // where --from starts it
static bool MusicEnded;    // known once the music is decoded to its end
static int64_t EndTicks;   // the end of the video, once the music has ended
// Music read and not yet given to the file, in the machine's byte order.
static int16_t MusicSamples[SoundBlockFrames];
static int MusicFrames, MusicRate, MusicChannels;
// What is left of a tick when music of this rate is counted in ticks.
static int64_t Carry, CarryRate;
static int16_t SilentSamples[SoundBlockFrames * MaxSoundChannels];

static bool EndsWith(const std::string& text, const char* tail) {
    size_t length = std::strlen(tail);
    return text.size() > length && !strcasecmp(text.c_str() + text.size() - length, tail);
}

// What --help says: the options, and the folders the files are looked for in.
static std::string HelpText() {
    return Help + DataFoldersInWords() + ".\n";
}

static RecordArguments ReadArguments(int argc, char** argv) {
    RecordArguments arguments;
    const std::string help = HelpText();
    const char* value = nullptr;
    const std::pair<uint64_t, uint64_t> ranges[] = {
        {1, MaxFramesPerSecond}, {0, UINT32_MAX}, {1, UINT32_MAX},    {0, MaxQuality},
        {1, MaxScale},           {0, 0},          {0, UINT32_MAX - 1}};
    for (int option; (option = NextOption(argc, argv, Known, help.c_str(), value)) >= 0;) {
        uint64_t number = 0;
        if (option == Calm) {
            arguments.calm = true;
            continue;
        }
        if (!ReadNumber(value, ranges[option].first, ranges[option].second, number))
            Refuse(Known[option], value);
        if (option == Fps) arguments.framesPerSecond = static_cast<int>(number);
        if (option == Seed) arguments.seed = static_cast<unsigned>(number);
        if (option == Seed) arguments.seeded = true;
        if (option == Until) arguments.untilMs = static_cast<int64_t>(number);
        if (option == Crf) arguments.quality = static_cast<int>(number);
        if (option == Scale) arguments.scale = static_cast<int>(number);
        if (option == From) arguments.fromMs = static_cast<int64_t>(number);
    }
    if (arguments.untilMs && arguments.fromMs >= arguments.untilMs)
        RefuseCommandLine("--from must come before --until");
    if (optind == argc) RefuseCommandLine("OUTPUT, the video's file name, is needed");
    if (optind + 1 < argc)
        RefuseCommandLine(
            ("one OUTPUT at a time, not also " + std::string(argv[optind + 1])).c_str());
    arguments.output = argv[optind];
    const std::pair<const char*, VideoKind> kinds[] = {
        {".mkv", VideoKind::Lossless}, {".mp4", VideoKind::Mp4}, {".webm", VideoKind::WebM}};
    for (const auto& [extension, kind] : kinds) {
        arguments.kind = kind;
        if (EndsWith(arguments.output, extension)) return arguments;
    }
    Complain("%s: %s", arguments.output.c_str(), Formats);
    std::exit(2);
}

static void Say(const char* text) {
    for (size_t length = std::strlen(text); length > 0;) {
        ssize_t written = write(STDERR_FILENO, text, length);
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

// Runs in the signal handler, once the unfinished file is removed.
static void SayStopped() {
    if (ProgressShown) Say(BlankLine);
    Say("bumpwave-record: stopped, nothing written\n");
}

// A file too large for its limit and a closed standard output are write
// errors, as they are for the demo.
static void CatchSignals() {
    std::snprintf(BlankLine, sizeof BlankLine, "\r%*s\r", ProgressWidth, "");
    DropAtomicFileOnStop(SayStopped);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// Wipes the progress line, so that what follows starts on a clean line.
static void ClearProgress() {
    if (ProgressShown) std::fputs(BlankLine, stderr);
    ProgressShown = false;
}

static bool Fail(const char* what, const char* why) {
    ClearProgress();
    Complain("%s: %s", what, why);
    return false;
}

static bool RecordingFailed(const RecordArguments& options, const char* why) {
    return Fail(("cannot record " + options.output).c_str(), why);
}

// Creates the file to record into, a new one of its own beside OUTPUT, now, so
// that an unusable folder shows before any work. Two recorders of one OUTPUT
// each write their own, and whatever lies at a name is never followed.
static bool CreateRecordingFile(const RecordArguments& arguments) {
    int file = CreateAtomicFile(arguments.output.c_str());
    if (file >= 0) return close(file), true;
    if (errno == EISDIR) return Fail(arguments.output.c_str(), std::strerror(EISDIR));
    if (errno == EINVAL) return Fail(arguments.output.c_str(), "not a regular file");
    return Fail(("cannot write " + arguments.output).c_str(), std::strerror(errno));
}

static bool LoadAssets(const RecordArguments& arguments) {
    DemoFrame = AllocateFrame(FrameWidth, FrameHeight);
    BlackFrame = static_cast<uint32_t*>(std::calloc(FrameWidth * FrameHeight, 4));
    if (!DemoFrame || !BlackFrame) return Fail("the frame", "not enough memory");
    return LoadShow(arguments.seeded ? std::optional(arguments.seed) : std::nullopt,
                    arguments.calm);
}

// Reads the next sound of the music, all of one rate and channel count.
static void ReadSound() {
    long rate = 0;
    int channels = 1;
    long bytes =
        ReadMusic(reinterpret_cast<char*>(MusicSamples), sizeof MusicSamples, &rate, &channels);
    for (long i = 0; i < bytes / 2; ++i) { // big-endian, as the sound card takes it
        const auto* b = reinterpret_cast<const uint8_t*>(&MusicSamples[i]);
        MusicSamples[i] = static_cast<int16_t>(b[0] << 8 | b[1]);
    }
    MusicFrames = static_cast<int>(bytes / 2 / channels);
    MusicRate = static_cast<int>(rate);
    MusicChannels = channels;
}

// Opens the music and reads its first sound, whose rate and channels the
// sound track takes; without it the video is silent.
static void OpenTrackMusic() {
    MusicOpen = OpenMusicFile(); // it says why not
    if (MusicOpen) ReadSound();
    if (MusicOpen && MusicFrames == 0) Complain("testing.ogg holds no sound that plays");
    if (MusicOpen && MusicFrames > 0) return;
    Complain("the video has no sound");
    CloseMusicFile();
    MusicOpen = false;
}

static int64_t MillisecondsToTicks(int64_t ms) {
    return ms * TickRate / 1000;
}

static void NoteMusicEnd(const RecordArguments& options) {
    MusicEnded = true;
    int64_t visuals = MillisecondsToTicks(DemoLengthMs);
    EndTicks = std::max(visuals, SoundTicks) + MillisecondsToTicks(TrailingSilenceMs);
    if (options.untilMs) EndTicks = std::min(EndTicks, UntilTicks);
}

// Music of `rate` counted in ticks, exactly: what is left of a tick is carried
// on, so that sound and video end together however many rates the music has.
static int64_t CountTicks(int frames, int rate) {
    if (rate != CarryRate) Carry = CarryRate ? Carry * rate / CarryRate : 0;
    CarryRate = rate;
    const int64_t scaled = Carry + static_cast<int64_t>(frames) * TickRate;
    Carry = scaled % rate;
    return scaled / rate;
}

// Gives the file sound up to `target` ticks: the music while it lasts, then
// silence up to the end.
static bool PumpSound(const RecordArguments& options, int64_t target) {
    while (!MusicEnded && SoundTicks < target) {
        if (MusicOpen && MusicFrames == 0) ReadSound();
        int frames = MusicOpen ? MusicFrames : 0;
        MusicFrames = 0;
        if (frames > 0) {
            int64_t ticks = CountTicks(frames, MusicRate);
            if (SoundTicks + ticks > UntilTicks) {
                ticks = UntilTicks - SoundTicks;
                frames = static_cast<int>(ticks * MusicRate / TickRate);
            }
            // A clip's sound starts where its first frame is.
            const int64_t dropped = std::clamp<int64_t>(SkipTicks - SoundTicks, 0, ticks);
            const int skip = static_cast<int>(dropped * MusicRate / TickRate);
            if (skip < frames && !AddSound(MusicSamples + skip * MusicChannels, frames - skip,
                                           MusicRate, MusicChannels))
                return RecordingFailed(options, VideoFileError());
            SoundTicks += ticks;
        }
        if (frames == 0 || SoundTicks >= UntilTicks) NoteMusicEnd(options);
    }
    if (!MusicEnded || !MusicOpen) return true;
    for (int64_t end = std::min(target, EndTicks); SoundTicks < end;) {
        SoundTicks = std::max(SoundTicks, std::min(SkipTicks, end));
        int frames = static_cast<int>(std::min<int64_t>(SoundBlockFrames, end - SoundTicks));
        if (frames > 0 &&
            !AddSound(SilentSamples, frames, static_cast<int>(TickRate), SoundChannels))
            return RecordingFailed(options, VideoFileError());
        SoundTicks += frames;
    }
    return true;
}

static double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One line on a terminal, drawn over itself.
static void ShowProgress(const RecordArguments& options, int64_t done, int64_t total,
                         double seconds) {
    const int framesPerSecond = options.framesPerSecond;
    double speed = seconds > 0 ? done / (framesPerSecond * seconds) : 0;
    int64_t left = speed > 0 ? static_cast<int64_t>((total - done) / (framesPerSecond * speed)) : 0;
    ProgressShown = true;
    std::fprintf(stderr, "\rframe %lld of %lld  %3d%%  %dx%d  %.1fx real time  %lld:%02lld left ",
                 static_cast<long long>(done), static_cast<long long>(total),
                 static_cast<int>(100 * done / total), FrameWidth * options.scale,
                 FrameHeight * options.scale, speed, static_cast<long long>(left / 60),
                 static_cast<long long>(left % 60));
}

// Draws and encodes every frame; the number of frames, or -1 on failure.
static int64_t RecordFrames(const RecordArguments& options) {
    const int64_t fps = options.framesPerSecond;
    const bool progress = isatty(STDERR_FILENO);
    // Only for the progress line: the music's own index gives its length.
    double expectedMs = std::max<double>(DemoLengthMs, MusicOpen ? 1000 * MusicSeconds() : 0);
    expectedMs += TrailingSilenceMs;
    if (options.untilMs) expectedMs = std::min<double>(expectedMs, options.untilMs);
    // Frames are shown while they start before the end.
    const int64_t expected =
        std::max<int64_t>(1, static_cast<int64_t>(std::ceil(expectedMs * fps / 1000)));
    const auto start = std::chrono::steady_clock::now();
    double shown = 0;
    // A clip starts with the frame on show at its moment, the show placed there.
    const int64_t first = StepAt(static_cast<uint32_t>(options.fromMs), options.framesPerSecond);
    PlaceShow(static_cast<uint32_t>(first), options.framesPerSecond);
    SkipTicks = first * TickRate / fps;
    int64_t frame = first;
    for (;; ++frame) {
        // The sound runs a frame ahead, so the end is known before the frame after it.
        if (!PumpSound(options, (frame + 1) * TickRate / fps + 1)) return -1;
        if (MusicEnded && frame * TickRate >= EndTicks * fps) break;
        const int64_t elapsedMs = frame * 1000 / fps;
        bool written;
        if (elapsedMs < DemoLengthMs) {
            const uint32_t ms = static_cast<uint32_t>(elapsedMs);
            AdvanceShow(ms, DrawShow(DemoFrame, ms, BumpPicture, LogoPicture));
            written = AddVideoFrame(DemoFrame->pixels, DemoFrame->bytesPerRow);
        } else {
            written = AddVideoFrame(BlackFrame, FrameWidth * 4);
        }
        if (!written) {
            RecordingFailed(options, VideoFileError());
            return -1;
        }
        if (progress && SecondsSince(start) >= shown + ProgressInterval) {
            shown = SecondsSince(start);
            ShowProgress(options, frame + 1 - first, std::max(expected, frame + 1) - first, shown);
        }
    }
    ClearProgress();
    return PumpSound(options, EndTicks) ? frame - first : -1;
}

static void ReleaseAll() {
    if (VideoOpen) AbandonVideoFile();
    VideoOpen = false;
    DropAtomicFile();
    if (MusicOpen) CloseMusicFile();
    MusicOpen = false;
    FreeShow();
    std::free(BlackFrame);
    FreeFrame(DemoFrame);
    BlackFrame = nullptr;
    DemoFrame = nullptr;
}

static bool Record(const RecordArguments& options) {
    if (!CreateRecordingFile(options) || !LoadAssets(options)) return false;
    OpenTrackMusic();
    VideoSettings settings = {options.kind,    options.framesPerSecond,   options.scale,
                              options.quality, MusicOpen ? MusicRate : 0, MusicChannels};
    VideoOpen = true;
    if (!OpenVideoFile(AtomicFileName(), settings))
        return RecordingFailed(options, VideoFileError());
    if (MusicOpen && settings.sampleRate == 0) {
        Complain("%s: the video has no sound", VideoFileError());
        CloseMusicFile();
        MusicOpen = false;
    }
    // Sound is counted in the track's own sample frames.
    TickRate = MusicOpen ? settings.sampleRate : 1000;
    SoundChannels = settings.channels;
    UntilTicks = options.untilMs ? MillisecondsToTicks(options.untilMs) : INT64_MAX;
    if (!MusicOpen) NoteMusicEnd(options);
    const auto start = std::chrono::steady_clock::now();
    int64_t frames = RecordFrames(options);
    if (frames < 0) return false;
    VideoOpen = false;
    if (!FinishVideoFile())
        return Fail(("cannot finish " + options.output).c_str(), VideoFileError());
    if (!CommitAtomicFile(options.output.c_str()))
        return Fail(("cannot rename the recording to " + options.output).c_str(),
                    std::strerror(errno));

    struct stat info = {};
    stat(options.output.c_str(), &info);
    double seconds = static_cast<double>(frames) / options.framesPerSecond;
    std::printf("%s: %lld frames, %.2f s, %dx%d, %.1f MB, %.1fx real time\n",
                Printable(options.output).c_str(), static_cast<long long>(frames), seconds,
                FrameWidth * options.scale, FrameHeight * options.scale, info.st_size / 1e6,
                seconds / SecondsSince(start));
    return true;
}

int main(int argc, char** argv) {
    ProgramName = "bumpwave-record";
    const RecordArguments arguments = ReadArguments(argc, argv);
    CatchSignals();
    bool recorded = Record(arguments);
    std::fflush(stdout);
    ReleaseAll();
    return recorded ? 0 : 1;
}
