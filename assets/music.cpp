// The music: one reader of "testing.ogg", and the thread that copies what it
// reads into the sound card.
#include "assets/music.h"

#include "platform/audio.h"
#include "platform/files.h"
#include "platform/thread.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static constexpr const char* MusicName = "testing.ogg";
// A hole is a lost page, not the end: decoding resumes after it. A file that
// is nothing but holes must still end.
static constexpr int MaxHoles = 64;
// Below this the music is far slower than anyone means it to be; it is pumped
// with each frame repeated up to this rate.
static constexpr long SlowRate = 8000;
static long PumpedRate(long rate) {
    return rate * ((SlowRate + rate - 1) / rate);
}
// Where the last page of the file is looked for, to tell how long it plays.
static constexpr long TailBytes = 65536;
static constexpr int BufferSize = 4096;

// Where each of SDL's channels is in Vorbis's order, by channel count. Vorbis:
// 3 L C R; 5 FL C FR RL RR; 6 FL C FR RL RR LFE; 7 FL C FR SL SR RC LFE;
// 8 FL C FR SL SR RL RR LFE. SDL has no centre at 3 and 5 channels: it takes
// the third channel, which SDL mixes into both sides of a stereo card.
static constexpr int8_t FromVorbis[9][8] = {
    {},
    {0},
    {0, 1},
    {0, 2, 1},
    {0, 1, 2, 3},
    {0, 2, 1, 3, 4},
    {0, 2, 1, 5, 3, 4},
    {0, 2, 1, 6, 5, 3, 4},
    {0, 2, 1, 7, 5, 6, 3, 4},
};

// How long the end of the visuals waits for a sound card still opening.
static constexpr uint32_t CardGraceMilliseconds = 2000, CardPollMilliseconds = 50;

// The reader; OpenMusicFile starts it from all zeros.
static struct {
    OggVorbis_File stream;
    bool open;
    int64_t lastGranule; // of the file's last page: its stream's length in frames
    long lastSerial;
    bool lastKnown;
    bool ended;
    long rate; // the format last read, to notice a new stream
    int channels;
    // Read and not yet taken by the sink, which has taken `taken` bytes of it.
    char buffer[BufferSize];
    long pending, taken, pendingRate;
    int pendingChannels;
    char repeated[SlowRate * 2 * 8]; // a second of slow sound at most, of 8 channels
} R;

// The music thread's; StartMusic resets it.
static struct {
    Signal* endSignal;
    bool cardOpen, fileOpen;
    std::atomic<bool> cardAnswered;   // the first open of the card has returned
    std::atomic<bool> stopping;       // asked by the main thread
    std::atomic<bool> playing;        // card and file open: `from` is the music's place
    std::atomic<bool> seekAsked;      // by the main thread, to `seekTo`
    std::atomic<double> seekTo, from; // seconds into the music
} M;

static void SayWhy(const char* why) {
    Complain("%s: %s", MusicName, why);
}

static const char* VorbisProblem(int code) {
    switch (code) {
    case OV_EREAD:
        return "cannot be read";
    case OV_EVERSION:
        return "made by a Vorbis version this program does not know";
    case OV_EBADHEADER:
        return "its Vorbis headers are damaged";
    default:
        return "not an Ogg Vorbis file; to make one: oggenc in.wav -o testing.ogg, or ffmpeg -i "
               "in.wav -c:a libvorbis testing.ogg";
    }
}

static int64_t Little(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return static_cast<int64_t>(value);
}

// The granule position of the file's last page, which is the length in sample
// frames of the stream it ends; read without moving the file's position.
static void FindLastPage(FILE* file) {
    std::vector<unsigned char> tail(TailBytes);
    struct stat about = {};
    const off_t size = fstat(fileno(file), &about) == 0 ? about.st_size : 0;
    const off_t from = size > TailBytes ? size - TailBytes : 0;
    const ssize_t got = size > 0 ? pread(fileno(file), tail.data(), TailBytes, from) : 0;
    for (ssize_t at = got - 27; at >= 0; --at) {
        if (std::memcmp(&tail[at], "OggS", 4) != 0 || tail[at + 4] != 0) continue;
        R.lastGranule = Little(&tail[at + 6], 8);
        R.lastSerial = static_cast<long>(static_cast<int32_t>(Little(&tail[at + 14], 4)));
        R.lastKnown = R.lastGranule > 0;
        return;
    }
}

bool OpenMusicFile() {
    CloseMusicFile();
    R = {};
    FILE* file = OpenDataFile(MusicName);
    if (!file) {
        const std::string why = DescribeOpenFailure(errno);
        std::printf("Couldn't open %s\n", MusicName);
        SayWhy(why.c_str());
        return false;
    }
    FindLastPage(file);
    // Read as a stream: opened to seek, libvorbisfile loses whole streams of
    // some chained files, and indexing a long tail takes it minutes.
    int code = ov_open_callbacks(file, &R.stream, nullptr, 0, OV_CALLBACKS_STREAMONLY);
    if (code < 0) {
        std::printf("Couldn't open %s as OGG file\n", MusicName);
        SayWhy(VorbisProblem(code));
        std::fclose(file);
        return false;
    }
    R.open = true;
    return true;
}

void CloseMusicFile() {
    if (R.open) ov_clear(&R.stream);
    R.open = false;
}

double MusicSeconds() {
    const vorbis_info* info = R.open ? ov_info(&R.stream, -1) : nullptr;
    if (!info || !R.lastKnown || ov_serialnumber(&R.stream, -1) != R.lastSerial || info->rate <= 0)
        return 0;
    return static_cast<double>(R.lastGranule) / static_cast<double>(info->rate);
}

// Moves the channels of whole 16-bit sample frames from Vorbis's order to the
// usual one (front left, right, centre, LFE, back, side), which SDL expects.
static void ToSpeakerOrder(char* samples, long length, int channels) {
    if (channels < 3 || channels > 8) return; // the same order, or none at all
    const int frameBytes = 2 * channels;
    for (char* frame = samples; frame + frameBytes <= samples + length; frame += frameBytes) {
        char vorbis[16];
        std::memcpy(vorbis, frame, static_cast<size_t>(frameBytes));
        for (int c = 0; c < channels; ++c)
            std::memcpy(frame + 2 * c, vorbis + 2 * FromVorbis[channels][c], 2);
    }
}

long DecodeVorbis(void* from, char* buffer, int length, long* rate, int* channels) {
    auto* stream = static_cast<OggVorbis_File*>(from);
    int bitstream = 0;
    long count = ov_read(stream, buffer, length, 1, 2, 1, &bitstream);
    vorbis_info* info = ov_info(stream, -1); // the stream just read
    if (count > 0 && info) {
        *rate = info->rate;
        *channels = info->channels;
        ToSpeakerOrder(buffer, count, info->channels);
    }
    return count;
}

// "2 h 5 min", "3 min 20 s", "12.5 s".
static void SayDuration(char* text, size_t size, double seconds) {
    const long long whole = static_cast<long long>(seconds);
    if (whole >= 3600)
        std::snprintf(text, size, "%lld h %lld min", whole / 3600, whole % 3600 / 60);
    else if (whole >= 60)
        std::snprintf(text, size, "%lld min %lld s", whole / 60, whole % 60);
    else
        std::snprintf(text, size, "%.1f s", seconds);
}

// One line as a new stream starts that is not played as it is.
static void NoteStream(long rate, int channels) {
    char line[160], length[48];
    if (rate < 1 || rate > MaxSoundRate || channels > MaxSoundChannels) {
        std::snprintf(line, sizeof line, "a stream of %d channels at %ld Hz: skipped", channels,
                      rate);
    } else if (rate < SlowRate) {
        const double seconds = MusicSeconds();
        SayDuration(length, sizeof length,
                    seconds ? seconds : static_cast<double>(SlowRate) / rate);
        std::snprintf(line, sizeof line,
                      "%ld Hz music plays %.4g times slower than at 8000 Hz: %s %s", rate,
                      static_cast<double>(SlowRate) / rate,
                      seconds ? "it lasts" : "what lasts 1 s at 8000 Hz lasts", length);
    } else {
        return;
    }
    SayWhy(line);
}

void BeginReading() {
    M.stopping = false;
    R.ended = false;
    R.rate = R.channels = 0;
    R.pending = 0;
}

static long ReadMusicFrom(MusicDecoder decode, void* from, char* buffer, int length, long* rate,
                          int* channels) {
    for (int holes = 0; !R.ended;) {
        long count = decode(from, buffer, length, rate, channels);
        if (count == OV_HOLE && ++holes <= MaxHoles) continue;
        if (count <= 0) break;
        holes = 0;
        if (*rate != R.rate || *channels != R.channels) NoteStream(*rate, *channels);
        R.rate = *rate;
        R.channels = *channels;
        if (*rate >= 1 && *rate <= MaxSoundRate && *channels <= MaxSoundChannels) return count;
    }
    R.ended = true;
    return 0;
}

long ReadMusic(char* buffer, int length, long* rate, int* channels) {
    return R.open ? ReadMusicFrom(DecodeVorbis, &R.stream, buffer, length, rate, channels) : 0;
}

// The sink is given pieces of a twentieth of a second of their stream at
// most, a frame at least; slow sound at SlowRate or a little above.
bool PumpMusic(MusicDecoder decode, void* from, MusicSink put, bool wait) {
    while (!M.stopping) {
        if (M.seekAsked) return true;
        if (R.pending == 0) {
            R.taken = 0;
            R.pending = ReadMusicFrom(decode, from, R.buffer, BufferSize, &R.pendingRate,
                                      &R.pendingChannels);
        }
        if (R.pending == 0) return false;
        const long frameBytes = 2 * R.pendingChannels;
        const long piece =
            std::min(R.pending - R.taken, std::max(1L, R.pendingRate / 20) * frameBytes);
        const long repeats = PumpedRate(R.pendingRate) / R.pendingRate;
        const char* data = R.buffer + R.taken;
        if (repeats > 1) {
            for (long at = 0, to = 0; at < piece; at += frameBytes)
                for (long i = 0; i < repeats; ++i, to += frameBytes)
                    std::memcpy(R.repeated + to, data + at, static_cast<size_t>(frameBytes));
            data = R.repeated;
        }
        if (!put(data, piece * repeats, R.pendingRate * repeats, R.pendingChannels, wait))
            return true;
        R.taken += piece;
        if (R.taken == R.pending) R.pending = 0;
    }
    return false;
}

bool PumpMusicFile(MusicSink put) {
    return R.open && PumpMusic(DecodeVorbis, &R.stream, put, false);
}

// The card opens again for the first block's own rate and channels.
static void FitCardToFirstBlock() {
    if (M.cardOpen && R.pending > 0 && (R.pendingRate != 44100 || R.pendingChannels != 2)) {
        CloseSound();
        M.cardOpen = OpenSound(PumpedRate(R.pendingRate), R.pendingChannels);
    }
}

// The card, then the file.
static bool OpenCardAndFile() {
    M.fileOpen = false;
    // The card opens before the file, so that without one nothing is said on
    // stdout.
    M.cardOpen = OpenSound(44100, 2);
    M.cardAnswered = true;
    if (M.cardOpen) M.fileOpen = OpenMusicFileAt(0);
    if (M.fileOpen) FitCardToFirstBlock();
    return M.cardOpen && M.fileOpen;
}

static void CloseMusic() {
    if (M.cardOpen) CloseSound(); // plays out what the card holds
    M.cardOpen = false;
    if (M.fileOpen) CloseMusicFile();
    M.fileOpen = false;
}

// Read again from its start up to `seconds`, to the sample: a stream cannot
// seek, and this also finds a moment across streams of other rates.
bool OpenMusicFileAt(double seconds) {
    bool open = OpenMusicFile();
    for (double at = 0; open;) {
        long rate;
        int channels;
        const long bytes = ReadMusic(R.buffer, BufferSize, &rate, &channels);
        if (bytes <= 0) break;
        const long frameBytes = 2L * channels, frames = bytes / frameBytes;
        const long skip = static_cast<long>((seconds - at) * static_cast<double>(rate));
        at += static_cast<double>(frames) / static_cast<double>(rate);
        if (skip >= frames) continue;
        R.pending = bytes - skip * frameBytes;
        std::memmove(R.buffer, R.buffer + skip * frameBytes, static_cast<size_t>(R.pending));
        R.pendingRate = rate;
        R.pendingChannels = channels;
        break;
    }
    return open;
}

// The sound held for the old place is dropped.
static bool SkipTo(double seconds) {
    DropSound();
    const bool open = OpenMusicFileAt(seconds);
    M.from = seconds;
    M.seekAsked = false;
    return open;
}

static void PlayMusic() {
    if (OpenCardAndFile()) {
        M.playing = true;
        while (PumpMusic(DecodeVorbis, &R.stream, PutSound, true) && SkipTo(M.seekTo)) {
        }
        M.playing = false;
    }
    CloseMusic();
    SendSignal(M.endSignal);
}

void SeekMusic(double seconds) {
    M.seekTo = seconds;
    M.seekAsked = true;
}

double MusicPlace() {
    return M.playing && !M.seekAsked ? M.from + SoundSecondsPlayed() : -1;
}

bool StartMusic(Signal* ended) {
    M.endSignal = ended;
    M.cardAnswered = false;
    M.stopping = false;
    M.seekAsked = false;
    M.from = 0;
    PauseSound(false);
    return StartThread(PlayMusic, "bumpwave music", true);
}

void StopMusic() {
    M.stopping = true;
    FadeOutSound();
}

void PauseMusic(bool paused) {
    PauseSound(paused);
}

bool WaitForMusic(Signal* ended, const volatile std::sig_atomic_t& stop, void (*meanwhile)()) {
    for (uint32_t waited = 0;; waited += CardPollMilliseconds) {
        if (meanwhile) meanwhile();
        if (stop) StopMusic(); // again and again does no harm
        if (WaitForSignalMilliseconds(ended, CardPollMilliseconds)) return true;
        if (!M.cardAnswered && waited >= CardGraceMilliseconds) {
            Complain("the sound card never started: not waiting for the music");
            return false;
        }
    }
}
