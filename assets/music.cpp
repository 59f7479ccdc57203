// The music thread.
//
// Threads: the main thread calls StartMusic, which starts PlayMusic on the
// music thread, and StopMusic, which only raises flags the music thread and
// the card's callback read. All the rest runs on the music thread, which owns the file,
// the decoder, the sound card, the two blocks and the two sample buffers; its
// last act is to send the end signal, after which it touches nothing of the
// demo's. In the browser the page's only thread calls the parts of PlayMusic
// one step at a time instead, and WaitForMusic runs on the main thread.
#include "assets/music.h"

#include "platform/audio.h"
#include "platform/files.h"
#include "platform/thread.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

static constexpr int BufferSize = 4096;
// A hole is a lost page, not the end: decoding resumes after it. A file that
// is nothing but holes must still end.
static constexpr int MaxHoles = 64;
static constexpr const char* MusicName = "testing.ogg";
// Indexing a file takes libvorbisfile time that grows with the square of a
// tail without pages; past this size the file is read as a stream, in time
// that grows with its size, and its length is not known beforehand.
static constexpr off_t MaxIndexedBytes = 16 << 20;

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

static Signal* EndSignal;
static std::atomic<bool> CardAnswered; // the first open of the card has returned
static OggVorbis_File MusicStream;
static volatile int MusicRunning;
static char SampleBuffers[2][BufferSize];
static SoundBlock FirstBlock, SecondBlock;
// The first bytes of the next stream of a chained file, decoded behind the end
// of the buffer just filled; they open the next buffer.
static int CarriedAt, CarriedLength;
static long CarriedRate;
static int CarriedChannels;
static int NextBuffer;             // the buffer to fill next
static std::atomic<bool> Stopping; // asked by the main thread, once

bool StartMusic(Signal* ended) {
    EndSignal = ended;
    return StartThread(PlayMusic, "bumpwave music", true);
}

bool WaitForMusic(Signal* ended, const volatile std::sig_atomic_t& stop) {
    for (uint32_t waited = 0;; waited += CardPollMilliseconds) {
        if (stop) StopMusic(); // again and again does no harm
        if (WaitForSignalMilliseconds(ended, CardPollMilliseconds)) return true;
        if (!CardAnswered && waited >= CardGraceMilliseconds) {
            std::fprintf(stderr,
                         "bumpwave: the sound card never started: not waiting for the music\n");
            return false;
        }
    }
}

void ToSpeakerOrder(char* samples, long length, int channels) {
    if (channels < 3 || channels > 8) return; // the same order, or none at all
    const int frameBytes = 2 * channels;
    for (char* frame = samples; frame + frameBytes <= samples + length; frame += frameBytes) {
        char vorbis[16];
        std::memcpy(vorbis, frame, static_cast<size_t>(frameBytes));
        for (int c = 0; c < channels; ++c)
            std::memcpy(frame + 2 * c, vorbis + 2 * FromVorbis[channels][c], 2);
    }
}

long ReadVorbis(void* decoder, char* buffer, int length, long* rate, int* channels) {
    auto* stream = static_cast<OggVorbis_File*>(decoder);
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

// Fills buffer `which` with whole sample frames of one format, which it sets
// in `block`; the number of bytes it holds.
static int FillBuffer(const MusicIO& io, void* decoder, int which, SoundBlock* block) {
    char* buffer = SampleBuffers[which];
    int filled = 0;
    if (CarriedLength > 0) {
        std::memcpy(buffer, SampleBuffers[which ^ 1] + CarriedAt,
                    static_cast<size_t>(CarriedLength));
        filled = CarriedLength;
        block->rate = CarriedRate;
        block->channels = CarriedChannels;
        CarriedLength = 0;
    }
    int holes = 0;
    for (;;) {
        int frameBytes = filled ? 2 * std::max(block->channels, 1) : 1;
        int room = (BufferSize - filled) / frameBytes * frameBytes;
        if (room == 0) break;
        long rate = 0;
        int channels = 0;
        long count = io.read(decoder, buffer + filled, room, &rate, &channels);
        if (count == OV_HOLE && ++holes <= MaxHoles) continue;
        // The next stream's frames are wider than the room left.
        if (count == OV_EINVAL && filled > 0) break;
        if (count <= 0) {
            MusicRunning = 0;
            break;
        }
        holes = 0;
        if (filled > 0 && (rate != block->rate || channels != block->channels)) {
            CarriedAt = filled;
            CarriedLength = static_cast<int>(count);
            CarriedRate = rate;
            CarriedChannels = channels;
            break;
        }
        block->rate = rate;
        block->channels = channels;
        filled += static_cast<int>(count);
    }
    return filled;
}

void BeginStreaming() {
    MusicRunning = 1;
    CarriedLength = 0;
    NextBuffer = 0;
}

SoundBlock* StreamStep(const MusicIO& io, void* decoder, SoundBlock* first, SoundBlock* second) {
    while (MusicRunning && !Stopping) {
        // Buffer 0 always travels in the second block, buffer 1 in the first;
        // a buffer is free again once the device has taken its block.
        SoundBlock* block = NextBuffer == 0 ? second : first;
        if (!io.played(block)) return block;
        int length = FillBuffer(io, decoder, NextBuffer, block);
        if (length == 0) break;
        block->data = SampleBuffers[NextBuffer];
        block->length = static_cast<uint32_t>(length);
        io.queue(block);
        NextBuffer ^= 1;
    }
    MusicRunning = 0;
    if (!io.played(first)) return first;
    if (!io.played(second)) return second;
    return nullptr;
}

void StreamMusic(const MusicIO& io, void* decoder, SoundBlock* first, SoundBlock* second) {
    BeginStreaming();
    while (SoundBlock* block = StreamStep(io, decoder, first, second)) io.wait(block);
}

// Whether the card is open, and the stream with it.
static bool DeviceOpen, StreamOpen;

int OpenOggVorbis(FILE* file, OggVorbis_File* stream) {
    struct stat info = {};
    if (fstat(fileno(file), &info) == 0 && info.st_size <= MaxIndexedBytes)
        return ov_open(file, stream, nullptr, 0);
    return ov_open_callbacks(file, stream, nullptr, 0, OV_CALLBACKS_STREAMONLY);
}

bool OpenMusic() {
    // The card opens before the file, so that without one nothing is said on
    // stdout; it opens again if the first stream is not 44100 Hz stereo.
    DeviceOpen = OpenSound(44100, 2);
    CardAnswered = true;
    StreamOpen = false;
    if (DeviceOpen) {
        // A FIFO or a device would block the open or never end.
        FILE* file = OpenDataFile(MusicName);
        if (!file) {
            std::printf("Couldn't open %s\n", MusicName);
        } else if (OpenOggVorbis(file, &MusicStream) < 0) {
            std::printf("Couldn't open %s as OGG file\n", MusicName);
            std::fclose(file);
        } else {
            StreamOpen = true;
        }
    }
    if (StreamOpen) {
        // Played at its own rate and channel count; SDL converts for the card.
        vorbis_info* info = ov_info(&MusicStream, -1);
        if (info->rate != 44100 || info->channels != 2) {
            CloseSound();
            DeviceOpen = OpenSound(info->rate, info->channels);
        }
    }
    BeginStreaming();
    return DeviceOpen && StreamOpen;
}

void (*MusicListener)(const SoundBlock* block);

static void QueueToCard(SoundBlock* block) {
    if (MusicListener) MusicListener(block);
    QueueSoundBlock(block);
}

static const MusicIO CardIO = {ReadVorbis, QueueToCard, WaitForSoundBlock, SoundBlockPlayed};

SoundBlock* StepMusic() {
    if (!DeviceOpen || !StreamOpen) return nullptr;
    return StreamStep(CardIO, &MusicStream, &FirstBlock, &SecondBlock);
}

bool MusicPlayedOut() {
    return !DeviceOpen || SoundPlayedOut();
}

void CloseMusic() {
    if (DeviceOpen) CloseSound(); // plays out what the device holds
    DeviceOpen = false;
    if (StreamOpen) ov_clear(&MusicStream);
    StreamOpen = false;
}

void StopMusic() {
    Stopping = true;
    FadeOutSound();
}

void PlayMusic() {
    OpenMusic();
    while (SoundBlock* block = StepMusic()) WaitForSoundBlock(block);
    CloseMusic();
    SendSignal(EndSignal);
}
