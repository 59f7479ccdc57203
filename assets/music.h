// The music thread: streams "testing.ogg" to the sound card.
#pragma once

#include <csignal>
#include <cstdio>

struct Signal;
struct SoundBlock;
struct OggVorbis_File;

// Starts PlayMusic on a thread of its own, which sends `ended` as its last
// act; false if it could not start.
bool StartMusic(Signal* ended);
void PlayMusic();
// On the main thread, to end the show early: the music fades out within 50 ms,
// and the music thread stops decoding, closes the card and sends its signal.
void StopMusic();

// Waits for the music thread's end signal, stopping the music (a short fade)
// once `stop` is set. A sound card that has not answered its open by then may
// never answer (the disk driver writing into a FIFO that nobody reads): it is
// given a little longer, then the wait ends with a line on stderr. False when
// the wait was given up.
bool WaitForMusic(Signal* ended, const volatile std::sig_atomic_t& stop);

// PlayMusic's parts, for a caller without threads that must never wait (the
// browser). OpenMusic opens the card and the file, saying why it cannot; true
// when the music can play. Each StepMusic queues what the card has room for
// and returns the block the card has yet to take, nullptr once it has taken
// the whole music. MusicPlayedOut says when the card has played it all (or
// has none), and CloseMusic closes the card and the file (at once in the
// browser, where nothing can wait for the card to play out).
bool OpenMusic();
SoundBlock* StepMusic();
bool MusicPlayedOut();
void CloseMusic();
// Called with every block StepMusic hands to the card, for a caller that keeps
// what was played; nullptr (the default) for none.
extern void (*MusicListener)(const SoundBlock* block);

// What the streaming loop decodes from and plays to: the stream and the sound
// card in PlayMusic, stand-ins elsewhere.
struct MusicIO {
    // Decodes whole sample frames, up to `length` bytes of 16-bit big-endian
    // samples in SDL's channel order, into `buffer`, and says their rate and
    // channel count: the byte count, 0 at the end, or a negative vorbisfile
    // error (OV_HOLE for a lost page, OV_EINVAL when no whole frame fits).
    long (*read)(void* decoder, char* buffer, int length, long* rate, int* channels);
    void (*queue)(SoundBlock* block);
    void (*wait)(SoundBlock* block);
    bool (*played)(SoundBlock* block);
};

// Opens `file` for decoding as ov_open does, taking it over on success. A
// file too large to index quickly (a long tail of zeros takes libvorbisfile
// time that grows with its square) is read as a stream instead.
int OpenOggVorbis(FILE* file, OggVorbis_File* stream);

// Moves the channels of whole 16-bit sample frames from Vorbis's order to the
// usual one (front left, right, centre, LFE, back, side), which SDL expects.
void ToSpeakerOrder(char* samples, long length, int channels);

// The read of PlayMusic, for an OggVorbis_File.
long ReadVorbis(void* decoder, char* buffer, int length, long* rate, int* channels);

// Plays `decoder` to its end through two 4096-byte buffers, each carried by its
// own block, and returns once the device has taken both.
void StreamMusic(const MusicIO& io, void* decoder, SoundBlock* first, SoundBlock* second);

// The same in steps, for a caller that must not wait: after BeginStreaming,
// each StreamStep decodes into every buffer whose block the device has taken
// and queues it, then returns the block to wait for before the next step, or
// nullptr once the music has ended and the device has taken both blocks.
void BeginStreaming();
SoundBlock* StreamStep(const MusicIO& io, void* decoder, SoundBlock* first, SoundBlock* second);
