// The music thread: streams "testing.ogg" to the sound card.
#pragma once

#include <cstdint>

struct Task;
struct AudioRequest;

// Set by the main thread before StartMusic; the music thread only reads them.
extern int8_t EndSignal; // signal the music thread sends as its last act
extern Task* MainTask;   // the thread that receives it

// Starts MusicProcess on a thread of its own; false if it could not start.
bool StartMusic();
void MusicProcess();

// What the streaming loop decodes from and plays to: the stream and the sound
// card in MusicProcess, stand-ins elsewhere.
struct MusicIO {
    // Decodes up to `length` bytes of 16-bit big-endian samples into `buffer`:
    // the count, 0 at the end, or a negative vorbisfile error (OV_HOLE...).
    long (*read)(void* decoder, char* buffer, int length);
    void (*send)(AudioRequest* request);
    void (*wait)(AudioRequest* request);
    bool (*check)(AudioRequest* request); // true once completed
};

// Plays `decoder` to its end through two 4096-byte buffers, each carried by its
// own request, and returns once both writes have completed.
void StreamMusic(const MusicIO& io, void* decoder, AudioRequest* first, AudioRequest* second);
