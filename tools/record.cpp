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
#include "shell/numbers.h"
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
#include <optional>
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
    bool musicOpen, videoOpen;
    volatile sig_atomic_t progressShown;
    char blankLine[ProgressWidth + 3]; // wipes the progress line
    // Sound time in sample frames of the sound track (ticks of 1 ms without one).
    int64_t tickRate;
    int soundChannels;
    int64_t soundTicks; // sound given to the file so far
    int64_t untilTicks; // where --until ends the video
    int64_t skipTicks;  // where --from starts it
    bool musicEnded;    // known once the music is decoded to its end
    int64_t endTicks;   // the end of the video, once the music has ended
    // Music read and not yet given to the file, in the machine's byte order.
    int16_t musicSamples[SoundBlockFrames];
    int musicFrames, musicRate, musicChannels;
    // What is left of a tick when music of this rate is counted in ticks.
    int64_t carry, carryRate;
    int16_t silentSamples[SoundBlockFrames * MaxSoundChannels];
} R;

static bool EndsWith(const std::string& text, const char* tail) {
    size_t length = std::strlen(tail);
    return text.size() > length && !strcasecmp(text.c_str() + text.size() - length, tail);
}

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

// Ends the run at once, wherever it is, its unfinished file removed.
static void Stop(int signal) {
    if (RemoveAtomicFileNow()) {
        if (R.progressShown) Say(R.blankLine);
        Say("bumpwave-record: stopped, nothing written\n");
    }
    EndBySignal(signal);
}

// Wipes the progress line, so that what follows starts on a clean line.
static void ClearProgress() {
    if (R.progressShown) std::fputs(R.blankLine, stderr);
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
    if (errno == EISDIR) return Fail(output.c_str(), std::strerror(EISDIR));
    if (errno == EINVAL) return Fail(output.c_str(), "not a regular file");
    return Fail(("cannot write " + output).c_str(), std::strerror(errno));
}

static bool LoadAssets(const RecordArguments& options) {
    R.demoFrame = AllocateFrame(FrameWidth, FrameHeight);
    R.blackFrame = AllocateFrame(FrameWidth, FrameHeight);
    if (!R.demoFrame || !R.blackFrame) return Fail("the frame", "not enough memory");
    return LoadShow(options.seed, options.calm);
}

// Reads the next sound of the music, all of one rate and channel count.
static void ReadSound() {
    long rate = 0;
    int channels = 1;
    long bytes =
        ReadMusic(reinterpret_cast<char*>(R.musicSamples), sizeof R.musicSamples, &rate, &channels);
    for (long i = 0; i < bytes / 2; ++i) { // big-endian, as the sound card takes it
        const auto* b = reinterpret_cast<const uint8_t*>(&R.musicSamples[i]);
        R.musicSamples[i] = static_cast<int16_t>(b[0] << 8 | b[1]);
    }
    R.musicFrames = static_cast<int>(bytes / 2 / channels);
    R.musicRate = static_cast<int>(rate);
    R.musicChannels = channels;
}

// Opens the music and reads its first sound, whose rate and channels the
// sound track takes; without it the video is silent.
static void OpenTrackMusic() {
    R.musicOpen = OpenMusicFile(); // it says why not
    if (R.musicOpen) ReadSound();
    if (R.musicOpen && R.musicFrames == 0) Complain("testing.ogg holds no sound that plays");
    if (R.musicOpen && R.musicFrames > 0) return;
    Complain("the video has no sound");
    CloseMusicFile();
    R.musicOpen = false;
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
static int64_t CountTicks(int frames, int rate) {
    if (rate != R.carryRate) R.carry = R.carryRate ? R.carry * rate / R.carryRate : 0;
    R.carryRate = rate;
    const int64_t scaled = R.carry + static_cast<int64_t>(frames) * R.tickRate;
    R.carry = scaled % rate;
    return scaled / rate;
}

// Gives the file sound up to `target` ticks: the music while it lasts, then
// silence up to the end.
static bool PumpSound(int64_t target) {
    while (!R.musicEnded && R.soundTicks < target) {
        if (R.musicOpen && R.musicFrames == 0) ReadSound();
        int frames = R.musicOpen ? R.musicFrames : 0;
        R.musicFrames = 0;
        if (frames > 0) {
            int64_t ticks = CountTicks(frames, R.musicRate);
            if (R.soundTicks + ticks > R.untilTicks) {
                ticks = R.untilTicks - R.soundTicks;
                frames = static_cast<int>(ticks * R.musicRate / R.tickRate);
            }
            // A clip's sound starts where its first frame is.
            const int64_t dropped = std::clamp<int64_t>(R.skipTicks - R.soundTicks, 0, ticks);
            const int skip = static_cast<int>(dropped * R.musicRate / R.tickRate);
            if (skip < frames && !AddSound(R.musicSamples + skip * R.musicChannels, frames - skip,
                                           R.musicRate, R.musicChannels))
                return RecordingFailed();
            R.soundTicks += ticks;
        }
        if (frames == 0 || R.soundTicks >= R.untilTicks) NoteMusicEnd();
    }
    if (!R.musicEnded || !R.musicOpen) return true;
    for (int64_t end = std::min(target, R.endTicks); R.soundTicks < end;) {
        R.soundTicks = std::max(R.soundTicks, std::min(R.skipTicks, end));
        int frames = static_cast<int>(std::min<int64_t>(SoundBlockFrames, end - R.soundTicks));
        if (frames > 0 &&
            !AddSound(R.silentSamples, frames, static_cast<int>(R.tickRate), R.soundChannels))
            return RecordingFailed();
        R.soundTicks += frames;
    }
    return true;
}

static double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One line on a terminal, drawn over itself.
static void ShowProgress(int64_t done, int64_t total, double seconds) {
    const RecordArguments& options = R.options;
    const int framesPerSecond = options.framesPerSecond;
    double speed = seconds > 0 ? done / (framesPerSecond * seconds) : 0;
    int64_t left = speed > 0 ? static_cast<int64_t>((total - done) / (framesPerSecond * speed)) : 0;
    R.progressShown = true;
    std::fprintf(stderr, "\rframe %lld of %lld  %3d%%  %dx%d  %.1fx real time  %lld:%02lld left ",
                 static_cast<long long>(done), static_cast<long long>(total),
                 static_cast<int>(100 * done / total), FrameWidth * options.scale,
                 FrameHeight * options.scale, speed, static_cast<long long>(left / 60),
                 static_cast<long long>(left % 60));
}

// Draws and encodes every frame; the number of frames, or -1 on failure.
static int64_t RecordFrames(const RecordArguments& options) {
    const int fps = options.framesPerSecond;
    const bool progress = isatty(STDERR_FILENO);
    // Only for the progress line: the music's own index gives its length.
    double expectedMs = std::max<double>(DemoLengthMs, R.musicOpen ? 1000 * MusicSeconds() : 0);
    expectedMs += PauseAfterMusicMs;
    if (options.untilMs) expectedMs = std::min<double>(expectedMs, options.untilMs);
    // Frames are shown while they start before the end.
    const int64_t expected =
        std::max<int64_t>(1, static_cast<int64_t>(std::ceil(expectedMs * fps / 1000)));
    const auto start = std::chrono::steady_clock::now();
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
    if (R.videoOpen) AbandonVideoFile();
    R.videoOpen = false;
    DropAtomicFile();
    if (R.musicOpen) CloseMusicFile();
    R.musicOpen = false;
    FreeShow();
    FreeFrame(R.blackFrame);
    FreeFrame(R.demoFrame);
    R.blackFrame = nullptr;
    R.demoFrame = nullptr;
}

static bool Record(const RecordArguments& options) {
    if (!CreateRecordingFile(options.output) || !LoadAssets(options)) return false;
    OpenTrackMusic();
    VideoSettings settings = {options.kind,    options.framesPerSecond,       options.scale,
                              options.quality, R.musicOpen ? R.musicRate : 0, R.musicChannels};
    R.videoOpen = true;
    if (!OpenVideoFile(AtomicFileName(), settings)) return RecordingFailed();
    if (R.musicOpen && settings.sampleRate == 0) {
        Complain("%s: the video has no sound", VideoFileError());
        CloseMusicFile();
        R.musicOpen = false;
    }
    // Sound is counted in the track's own sample frames.
    R.tickRate = R.musicOpen ? settings.sampleRate : 1000;
    R.soundChannels = settings.channels;
    R.untilTicks = options.untilMs ? MillisecondsToTicks(options.untilMs) : INT64_MAX;
    if (!R.musicOpen) NoteMusicEnd();
    const auto start = std::chrono::steady_clock::now();
    int64_t frames = RecordFrames(options);
    if (frames < 0) return false;
    R.videoOpen = false;
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
    std::snprintf(R.blankLine, sizeof R.blankLine, "\r%*s\r", ProgressWidth, "");
    CatchStopSignals(Stop);
    bool recorded = Record(R.options);
    std::fflush(stdout);
    ReleaseAll();
    return recorded ? 0 : 1;
}
