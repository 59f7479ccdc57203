// The music's decoding path on any bytes: opened as testing.ogg would be, then
// played through the real streaming loop to a device that finishes each write
// as soon as it is waited for.
#include "assets/music.h"
#include "platform/audio.h"

#include <vorbis/vorbisfile.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

static long Decoded;

// A stream that decodes to more than ten seconds is cut there: the loop is the
// same for every buffer after the first few.
static long Read(void* decoder, char* buffer, int length, long* rate, int* channels) {
    if (Decoded > 10 * 44100 * 4) return 0;
    long count = ReadVorbis(decoder, buffer, length, rate, channels);
    if (count > length) __builtin_trap();
    if (count > 0 && (*channels < 1 || *rate < 1 || count % (2 * *channels) != 0)) __builtin_trap();
    if (count > 0) Decoded += count;
    return count;
}

static SoundBlock* Queue[2];
static int Queued;

static void Send(SoundBlock* block) {
    if (block->length == 0 || block->length > 4096 || Queued == 2 ||
        block->length % (2 * block->channels) != 0)
        __builtin_trap();
    block->pending = true;
    Queue[Queued++] = block;
}

static void Wait(SoundBlock* block) {
    while (block->pending) {
        Queue[0]->pending = false;
        Queue[0] = Queue[1];
        --Queued;
    }
}

static bool Check(SoundBlock* block) {
    return !block->pending;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    OggVorbis_File stream;
    if (ov_open(file, &stream, nullptr, 0) < 0) {
        std::fclose(file);
        return 0;
    }
    vorbis_info* info = ov_info(&stream, -1);
    if (!info || info->channels < 1 || info->rate < 1) __builtin_trap();
    SoundBlock first{}, second{};
    Decoded = 0;
    Queued = 0;
    StreamMusic({Read, Send, Wait, Check}, &stream, &first, &second);
    if (Queued != 0 || first.pending || second.pending) __builtin_trap();
    ov_clear(&stream);
    return 0;
}
