// The music thread.
//
// Threads: the main thread allocates EndSignal, then calls StartMusic, which
// records the main task and starts MusicProcess on the music thread. All the
// rest runs on the music thread, which owns the file, the decoder, the sound
// card, the two requests and the two sample buffers; its last act is to send
// EndSignal, after which it touches nothing of the demo's.
#include "assets/music.h"

#include "platform/audio.h"
#include "platform/task.h"

#include <vorbis/vorbisfile.h>

#include <cstdio>

int8_t EndSignal = -1;
Task* MainTask;

static constexpr int BufferSize = 4096;
// A hole is a lost page, not the end: decoding resumes after it. A file that
// is nothing but holes must still end.
static constexpr int MaxHoles = 64;
static constexpr const char* MusicName = "testing.ogg";

static OggVorbis_File MusicStream;
static volatile int MusicRunning;
static char SampleBuffers[2][BufferSize];

bool StartMusic() {
    MainTask = FindTask();
    return CreateNewProcTags(MusicProcess, 30) != nullptr;
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

void StreamMusic(const MusicIO& io, void* decoder, AudioRequest* first, AudioRequest* second) {
    MusicRunning = 1;
    AudioRequest* previous = nullptr;
    for (int which = 0; MusicRunning; which ^= 1) {
        // Buffer 0 always travels in the second request, buffer 1 in the first.
        AudioRequest* request = which == 0 ? second : first;
        int length = FillBuffer(io, decoder, SampleBuffers[which]);
        if (length == 0) break;
        request->data = SampleBuffers[which];
        request->length = static_cast<uint32_t>(length);
        request->link = previous;
        io.send(request);
        // The other buffer is free again once its write has been played.
        if (previous) io.wait(previous);
        previous = request;
    }
    if (!io.check(first)) io.wait(first);
    if (!io.check(second)) io.wait(second);
}

static long ReadStream(void* decoder, char* buffer, int length) {
    int bitstream = 0;
    return ov_read(static_cast<OggVorbis_File*>(decoder), buffer, length, 1, 2, 1, &bitstream);
}

void MusicProcess() {
    // The card opens before the file, so that without one nothing is said on
    // stdout; it opens again if the stream is not 44100 Hz stereo.
    bool device = OpenAudioDevice(44100, 2);
    AudioRequest* first = device ? CreateIORequest() : nullptr;
    AudioRequest* second = first ? CreateIORequest() : nullptr;
    bool playing = false;
    if (second) {
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
            CloseAudioDevice();
            int rate = info->rate > 1000000 ? 0 : static_cast<int>(info->rate);
            device = OpenAudioDevice(rate, info->channels);
            playing = device;
        }
    }
    if (playing) StreamMusic({ReadStream, SendIO, WaitIO, CheckIO}, &MusicStream, first, second);

    if (device) CloseAudioDevice();
    if (first) DeleteIORequest(first);
    if (second) DeleteIORequest(second);
    ov_clear(&MusicStream);
    Signal(MainTask, 1u << EndSignal);
}
