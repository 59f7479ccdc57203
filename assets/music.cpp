// The music thread.
//
// Threads: the main thread calls StartMusic, which starts PlayMusic on the
// music thread. All the rest runs on the music thread, which owns the file,
// the decoder, the sound card, the two blocks and the two sample buffers; its
// last act is to send the end signal, after which it touches nothing of the
// demo's.
#include "assets/music.h"

#include "platform/audio.h"
#include "platform/thread.h"

#include <vorbis/vorbisfile.h>

#include <cstdio>

static constexpr int BufferSize = 4096;
// A hole is a lost page, not the end: decoding resumes after it. A file that
// is nothing but holes must still end.
static constexpr int MaxHoles = 64;
static constexpr const char* MusicName = "testing.ogg";

static Signal* EndSignal;
static OggVorbis_File MusicStream;
static volatile int MusicRunning;
static char SampleBuffers[2][BufferSize];
static SoundBlock FirstBlock, SecondBlock;

bool StartMusic(Signal* ended) {
    EndSignal = ended;
    return StartThread(PlayMusic, "bumpwave music", true);
}

// Fills `buffer` from the decoder; the number of bytes it holds.
static int FillBuffer(const MusicIO& io, void* decoder, char* buffer) {
    int left = BufferSize;
    int holes = 0;
    while (left > 0) {
        long count = io.read(decoder, buffer + (BufferSize - left), left);
        if (count == OV_HOLE && ++holes <= MaxHoles) continue;
        if (count <= 0) {
            MusicRunning = 0;
            break;
        }
        holes = 0;
        left -= static_cast<int>(count);
    }
    return BufferSize - left;
}

void StreamMusic(const MusicIO& io, void* decoder, SoundBlock* first, SoundBlock* second) {
    MusicRunning = 1;
    SoundBlock* previous = nullptr;
    for (int which = 0; MusicRunning; which ^= 1) {
        // Buffer 0 always travels in the second block, buffer 1 in the first.
        SoundBlock* block = which == 0 ? second : first;
        int length = FillBuffer(io, decoder, SampleBuffers[which]);
        if (length == 0) break;
        block->data = SampleBuffers[which];
        block->length = static_cast<uint32_t>(length);
        io.queue(block);
        // The other buffer is free again once it has been played.
        if (previous) io.wait(previous);
        previous = block;
    }
    if (!io.played(first)) io.wait(first);
    if (!io.played(second)) io.wait(second);
}

static long ReadStream(void* decoder, char* buffer, int length) {
    int bitstream = 0;
    return ov_read(static_cast<OggVorbis_File*>(decoder), buffer, length, 1, 2, 1, &bitstream);
}

void PlayMusic() {
    // The card opens before the file, so that without one nothing is said on
    // stdout; it opens again if the stream is not 44100 Hz stereo.
    bool device = OpenSound(44100, 2);
    bool playing = false;
    if (device) {
        FILE* file = std::fopen(MusicName, "rb");
        if (!file) {
            std::printf("Couldn't open %s\n", MusicName);
        } else if (ov_open(file, &MusicStream, nullptr, 0) < 0) {
            std::printf("Couldn't open %s as OGG file\n", MusicName);
            std::fclose(file);
        } else {
            playing = true;
        }
    }
    if (playing) {
        // Played at its own rate and channel count; SDL converts for the card.
        vorbis_info* info = ov_info(&MusicStream, -1);
        if (info->rate != 44100 || info->channels != 2) {
            CloseSound();
            int rate = info->rate > 1000000 ? 0 : static_cast<int>(info->rate);
            device = OpenSound(rate, info->channels);
            playing = device;
        }
    }
    if (playing)
        StreamMusic({ReadStream, QueueSoundBlock, WaitForSoundBlock, SoundBlockPlayed},
                    &MusicStream, &FirstBlock, &SecondBlock);

    if (device) CloseSound();
    ov_clear(&MusicStream);
    SendSignal(EndSignal);
}
