// bumpwave-record: records the demo with its music into a video file, frame
// by frame, without a display or a sound card. Frame i is the paced show's
// step i; black frames follow the visuals while the music plays, then the
// demo's pause. The file is written beside OUTPUT and renamed over it when
// whole; a failure or a stop signal removes it.

#include "assets/music.h"
#include "platform/files.h"
#include "platform/frame.h"
#include "shell/frame_loop.h"
#include "shell/numbers.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "shell/timeline.h"
#include "tools/arguments.h"
#include "tools/video_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <optional>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
constexpr uint64_t MaxFramesPerSecond = 1000;
constexpr uint64_t MaxQuality = 51;
constexpr int SoundBlockFrames = 4096;
constexpr double ProgressInterval = 0.25;     // seconds between redraws of the line
constexpr const char* BlankLine = "\r\033[K"; // wipes the progress line

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
    std::optional<unsigned> seed; // else the clock's
    bool calm = false;
    int64_t fromMs = 0;
    int64_t untilMs = 0; // 0: to the natural end
    int quality = 18;
    int scale = 1;
    VideoKind kind = VideoKind::Lossless;
    std::string output;
};

// Everything the recording holds; released by ReleaseAll on every path.
static struct {
    RecordArguments options;
    Frame *demoFrame, *blackFrame;
    bool musicOpen, failed;
    volatile sig_atomic_t progressShown;
    // Sound time in sample frames of the sound track (ticks of 1 ms without one).
    int64_t tickRate;
    int64_t soundTicks;           // sound given to the file so far
    int64_t target;               // where the music pump stops for now
    int64_t untilTicks;           // where --until ends the video
    int64_t skipTicks;            // where --from starts it
    bool musicEnded;              // known once the music is decoded to its end
    int64_t endTicks;             // the end of the video, once the music has ended
    int musicRate, musicChannels; // of the first sound
    // What is left of a tick when music of this rate is counted in ticks.
    int64_t carry, carryRate;
    int16_t silentSamples[SoundBlockFrames * MaxSoundChannels];
} R;

static RecordArguments ReadArguments(int argc, char** argv) {
    RecordArguments arguments;
    const std::string help = Help + DataFoldersInWords() + ".\n"; // the folders searched
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
    const char* extension = std::strrchr(argv[optind], '.');
    const char* extensions[] = {".mkv", ".mp4", ".webm"}; // in VideoKind's order
    for (int kind = 0; extension && extension > argv[optind] && kind < 3; ++kind)
        if (!strcasecmp(extension, extensions[kind])) {
            arguments.kind = static_cast<VideoKind>(kind);
            return arguments;
        }
    Complain("%s: the formats are .mkv (lossless), .mp4 and .webm", arguments.output.c_str());
    std::exit(2);
}

static void Say(const char* text) {
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
}

// Ends the run at once, wherever it is, its unfinished file removed.
static void Stop(int signal) {
    if (RemoveAtomicFileNow()) {
        if (R.progressShown) Say(BlankLine);
        Say("bumpwave-record: stopped, nothing written\n");
    }
    EndBySignal(signal);
}

// Wipes the progress line, so that what follows starts on a clean line.
static void ClearProgress() {
    if (R.progressShown) std::fputs(BlankLine, stderr);
    R.progressShown = false;
}

static bool Fail(const char* what, const char* why) {
    ClearProgress();
    Complain("%s: %s", what, why);
    return false;
}

static bool RecordingFailed() {
    return Fail(("cannot record " + R.options.output).c_str(), VideoFileError());
}

// Creates the file to record into, a new one of its own beside OUTPUT, now, so
// that an unusable folder shows before any work. Two recorders of one OUTPUT
// each write their own, and whatever lies at a name is never followed.
static bool CreateRecordingFile(const std::string& output) {
    int file = CreateAtomicFile(output.c_str());
    if (file >= 0) return close(file), true;
    if (errno == EISDIR || errno == EINVAL)
        return Fail(output.c_str(), errno == EINVAL ? "not a regular file" : std::strerror(errno));
    return Fail(("cannot write " + output).c_str(), std::strerror(errno));
}

static int64_t MillisecondsToTicks(int64_t ms) {
    return ms * R.tickRate / 1000;
}

static void NoteMusicEnd() {
    R.musicEnded = true;
    int64_t visuals = MillisecondsToTicks(DemoLengthMs);
    R.endTicks = std::max(visuals, R.soundTicks) + MillisecondsToTicks(PauseAfterMusicMs);
    R.endTicks = std::min(R.endTicks, R.untilTicks);
}

// Music of `rate` counted in ticks, exactly: what is left of a tick is carried
// on, so that sound and video end together however many rates the music has.
static int64_t CountTicks(int frames, long rate) {
    if (rate != R.carryRate) R.carry = R.carryRate ? R.carry * rate / R.carryRate : 0;
    R.carryRate = rate;
    const int64_t scaled = R.carry + static_cast<int64_t>(frames) * R.tickRate;
    R.carry = scaled % rate;
    return scaled / rate;
}

// Takes nothing: the first sound's rate and channels, which the track takes.
static bool NoteFirstSound(const void*, long, long rate, int channels, bool) {
    R.musicRate = static_cast<int>(rate);
    R.musicChannels = channels;
    return false;
}

// Gives the file the music up to R.target ticks and refuses the rest, which the
// pump keeps for its next call.
static bool TakeMusic(const void* data, long bytes, long rate, int channels, bool) {
    if (R.failed || R.soundTicks >= std::min(R.target, R.untilTicks)) return false;
    std::vector<int16_t> samples(static_cast<size_t>(bytes / 2));
    const auto* b = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < samples.size(); ++i) // big-endian, as the sound card takes it
        samples[i] = static_cast<int16_t>(b[2 * i] << 8 | b[2 * i + 1]);
    int frames = static_cast<int>(samples.size()) / channels;
    int64_t ticks = CountTicks(frames, rate);
    if (R.soundTicks + ticks > R.untilTicks) {
        ticks = R.untilTicks - R.soundTicks;
        frames = static_cast<int>(ticks * rate / R.tickRate);
    }
    // A clip's sound starts where its first frame is.
    const int64_t dropped = std::clamp<int64_t>(R.skipTicks - R.soundTicks, 0, ticks);
    const int skip = static_cast<int>(dropped * rate / R.tickRate);
    R.failed = skip < frames && !AddSound(samples.data() + skip * channels, frames - skip,
                                          static_cast<int>(rate), channels);
    R.soundTicks += ticks;
    return true;
}

// Gives the file sound up to `target` ticks: the music while it lasts, then
// silence up to the end.
static bool PumpSound(int64_t target) {
    R.target = target;
    while (!R.musicEnded && !R.failed && R.soundTicks < target)
        if (!PumpMusicFile(TakeMusic) || R.soundTicks >= R.untilTicks) NoteMusicEnd();
    if (R.failed) return RecordingFailed();
    if (!R.musicEnded || !R.musicOpen) return true;
    for (int64_t end = std::min(target, R.endTicks); R.soundTicks < end;) {
        R.soundTicks = std::max(R.soundTicks, std::min(R.skipTicks, end));
        int frames = static_cast<int>(std::min<int64_t>(SoundBlockFrames, end - R.soundTicks));
        if (frames > 0 &&
            !AddSound(R.silentSamples, frames, static_cast<int>(R.tickRate), R.musicChannels))
            return RecordingFailed();
        R.soundTicks += frames;
    }
    return true;
}

static double SecondsSince(int64_t start) {
    return static_cast<double>(ClockNanoseconds() - start) / NanosecondsPerSecond;
}

// One line on a terminal, drawn over itself.
static void ShowProgress(int64_t done, int64_t total, double seconds) {
    const int scale = R.options.scale;
    const auto left = static_cast<long long>(static_cast<double>(total - done) * seconds / done);
    R.progressShown = true;
    std::fprintf(stderr, "\rframe %lld of %lld  %3d%%  %dx%d  %.1fx real time  %lld:%02lld left ",
                 static_cast<long long>(done), static_cast<long long>(total),
                 static_cast<int>(100 * done / total), FrameWidth * scale, FrameHeight * scale,
                 done / (R.options.framesPerSecond * seconds), left / 60, left % 60);
}

// Draws and encodes every frame; the number of frames, or -1 on failure.
static int64_t RecordFrames(const RecordArguments& options, int64_t start) {
    const int fps = options.framesPerSecond;
    const bool progress = isatty(STDERR_FILENO);
    // Only for the progress line: the music's own index gives its length.
    double expectedMs = std::max<double>(DemoLengthMs, 1000 * MusicSeconds()) + PauseAfterMusicMs;
    if (options.untilMs) expectedMs = std::min<double>(expectedMs, options.untilMs);
    // Frames are shown while they start before the end.
    const auto expected =
        std::max<int64_t>(1, static_cast<int64_t>(std::ceil(expectedMs * fps / 1000)));
    double shown = 0;
    // A clip starts with the frame on show at its moment, the show placed there.
    const int64_t first = StepAt(static_cast<uint32_t>(options.fromMs), fps);
    PlaceShow(static_cast<uint32_t>(first), fps);
    R.skipTicks = first * R.tickRate / fps;
    int64_t frame = first;
    for (;; ++frame) {
        // The sound runs a frame ahead, so the end is known before the frame after it.
        if (!PumpSound((frame + 1) * R.tickRate / fps + 1)) return -1;
        if (R.musicEnded && frame * R.tickRate >= R.endTicks * fps) break;
        const bool visual = frame < StepsBefore(DemoLengthMs, fps);
        if (visual) {
            const uint32_t ms = StepMilliseconds(static_cast<uint32_t>(frame), fps);
            AdvanceShow(ms, DrawShow(R.demoFrame, ms, BumpPicture, LogoPicture));
        }
        const Frame* picture = visual ? R.demoFrame : R.blackFrame;
        if (!AddVideoFrame(picture->pixels, picture->bytesPerRow)) return RecordingFailed(), -1;
        if (progress && SecondsSince(start) >= shown + ProgressInterval) {
            shown = SecondsSince(start);
            ShowProgress(frame + 1 - first, std::max(expected, frame + 1) - first, shown);
        }
    }
    ClearProgress();
    return PumpSound(R.endTicks) ? frame - first : -1;
}

static void ReleaseAll() {
    AbandonVideoFile();
    DropAtomicFile();
    CloseMusicFile();
    FreeShow();
    FreeFrame(R.blackFrame);
    FreeFrame(R.demoFrame);
    R.blackFrame = R.demoFrame = nullptr;
}

static bool Record(const RecordArguments& options) {
    if (!CreateRecordingFile(options.output)) return false;
    R.demoFrame = AllocateFrame(FrameWidth, FrameHeight);
    R.blackFrame = AllocateFrame(FrameWidth, FrameHeight);
    if (!R.demoFrame || !R.blackFrame) return Fail("the frame", "not enough memory");
    if (!LoadShow(options.seed, options.calm)) return false;
    const bool opened = OpenMusicFile(); // it says why not
    R.musicOpen = opened && PumpMusicFile(NoteFirstSound);
    if (opened && !R.musicOpen) Complain("testing.ogg holds no sound that plays");
    if (!R.musicOpen) Complain("the video has no sound");
    VideoSettings settings = {options.kind,    options.framesPerSecond,       options.scale,
                              options.quality, R.musicOpen ? R.musicRate : 0, R.musicChannels};
    if (!OpenVideoFile(AtomicFileName(), settings)) return RecordingFailed();
    if (R.musicOpen && settings.sampleRate == 0)
        Complain("%s: the video has no sound", VideoFileError());
    R.musicOpen = settings.sampleRate > 0;
    if (!R.musicOpen) CloseMusicFile();
    // Sound is counted in the track's own sample frames.
    R.tickRate = R.musicOpen ? settings.sampleRate : 1000;
    R.untilTicks = options.untilMs ? MillisecondsToTicks(options.untilMs) : INT64_MAX;
    const int64_t start = ClockNanoseconds();
    int64_t frames = RecordFrames(options, start);
    if (frames < 0) return false;
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
    R.options = ReadArguments(argc, argv);
    CatchStopSignals(Stop);
    bool recorded = Record(R.options);
    std::fflush(stdout);
    ReleaseAll();
    return recorded ? 0 : 1;
}
