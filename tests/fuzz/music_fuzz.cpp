// The music's decoding path on any bytes: opened as testing.ogg would be, then
// played through the real streaming loop to a device that finishes each write
// as soon as it is waited for.
#include "assets/music.h"
#include "platform/audio.h"

#include <vorbis/vorbisfile.h>

#include <cstdint>
#include <cstdio>

static long Decoded; // bytes

// A stream that decodes to more than ten seconds is cut there: the loop is the
// same for every buffer after the first few.
static long Read(void* decoder, char* buffer, int length, long* rate, int* channels) {
    if (Decoded > 10 * 44100 * 4) return 0;
    long count = ReadVorbis(decoder, buffer, length, rate, channels);
    if (count > length || (count > 0 && (*channels < 1 || *rate < 1 || count % (2 * *channels))))
        __builtin_trap();
    if (count > 0) Decoded += count;
    return count;
}

// A block queued again before the device took it would be lost.
static void Send(SoundBlock* b) {
    if (!b->length || b->length > 4096 || b->pending || b->length % (2 * b->channels))
        __builtin_trap();
    b->pending = true;
}

static void Wait(SoundBlock* b) {
    b->pending = false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : nullptr;
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
    StreamMusic({Read, Send, Wait, [](SoundBlock* b) { return !b->pending; }}, &stream, &first,
                &second);
    if (first.pending || second.pending) __builtin_trap();
    ov_clear(&stream);
    return 0;
}
