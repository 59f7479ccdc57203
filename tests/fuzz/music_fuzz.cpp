// The music's reading path on any bytes, opened as a stream as testing.ogg is.
#include "assets/music.h"

#include <vorbis/vorbisfile.h>

#include <cstdint>
#include <cstdio>

static int Reads;

// Cut after a thousand reads, seconds of sound: every read after the first few takes the same path.
static long Read(void* from, char* buffer, int length, long* rate, int* channels) {
    return ++Reads > 1000 ? 0 : DecodeVorbis(from, buffer, length, rate, channels);
}

// What the card is given: whole frames of a format it plays.
static bool Put(const void*, long bytes, long rate, int channels, bool) {
    if (bytes <= 0 || bytes > 4096 || channels < 1 || channels > 8 || rate < 1 || rate > 384000 ||
        bytes % (2 * channels))
        __builtin_trap();
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : nullptr;
    if (!file) return 0;
    OggVorbis_File stream;
    if (ov_open_callbacks(file, &stream, nullptr, 0, OV_CALLBACKS_STREAMONLY) < 0) {
        std::fclose(file);
        return 0;
    }
    Reads = 0;
    BeginReading();
    if (PumpMusic(Read, &stream, Put, true)) __builtin_trap(); // a card that takes all
    ov_clear(&stream);
    return 0;
}
