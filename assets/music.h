// The music thread: streams "testing.ogg" to the sound card.
#pragma once

#include <cstdint>

struct Signal;
struct SoundBlock;

// Starts PlayMusic on a thread of its own, which sends `ended` as its last
// act; false if it could not start.
bool StartMusic(Signal* ended);
void PlayMusic();

// What the streaming loop decodes from and plays to: the stream and the sound
// card in PlayMusic, stand-ins elsewhere.
struct MusicIO {
    // Decodes up to `length` bytes of 16-bit big-endian samples into `buffer`:
    // the count, 0 at the end, or a negative vorbisfile error (OV_HOLE...).
    long (*read)(void* decoder, char* buffer, int length);
    void (*queue)(SoundBlock* block);
    void (*wait)(SoundBlock* block);
    bool (*played)(SoundBlock* block);
};

// Plays `decoder` to its end through two 4096-byte buffers, each carried by its
// own block, and returns once both have played.
void StreamMusic(const MusicIO& io, void* decoder, SoundBlock* first, SoundBlock* second);
