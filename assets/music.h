// The music: "testing.ogg", read in one place for the music thread, the page
// and the recorder, and played on a thread of its own.
//
// Threads: the main thread calls StartMusic, which starts the music thread,
// and StopMusic, PauseMusic and SeekMusic, which only raise flags and ask the
// card. The music thread owns the file, the decoder and the card; its last act
// is to send the end signal. In the browser a worker pumps the music itself
// (OpenMusicFileAt, PumpMusicFile); so does the recorder.
#pragma once

#include <csignal>

struct Signal;

// Starts the music on a thread of its own, which sends `ended` as its last
// act; false if it could not start.
bool StartMusic(Signal* ended);
// To end the show early: the music fades out within 50 ms, and its thread
// closes the card and sends its signal.
void StopMusic();
// Stops the music where it is, or resumes it, losing nothing.
void PauseMusic(bool paused);
// From the main thread: the music thread goes on from `seconds` into the music.
void SeekMusic(double seconds);
// From the main thread: where in the music the card plays now, in seconds;
// negative without music, or while a seek is under way.
double MusicPlace();

// Waits for the music thread's end signal, fading the music out once `stop`
// is set, calling `meanwhile` every few hundredths of a second. A card that
// has not answered its open within 2 s may never answer (the disk driver
// writing into a FIFO nobody reads): the wait is given up, said on stderr, false.
bool WaitForMusic(Signal* ended, const volatile std::sig_atomic_t& stop,
                  void (*meanwhile)() = nullptr);

// The reader. OpenMusicFile opens "testing.ogg" as a stream (nothing seeks),
// printing "Couldn't open testing.ogg" or "... as OGG file" on stdout and why
// on stderr when it cannot; false then.
bool OpenMusicFile();
// The same, read up to `seconds` into the music; what follows is the next to
// be pumped (PumpMusic).
bool OpenMusicFileAt(double seconds);
// Decodes the next whole sample frames, all of one stream, at most `length`
// bytes (room for a frame of 8 channels at least) of 16-bit big-endian samples
// in SDL's channel order, and says their rate and channel count: the byte
// count, 0 at the end of the music. A lost page is skipped, but 64 in a row
// end the music, as an error does. A stream that cannot be played (its rate 0
// or above 384000 Hz, or more than 8 channels) is skipped with one line on
// stderr; one slower than 8000 Hz is played, with a line saying how slow and
// how long it lasts.
long ReadMusic(char* buffer, int length, long* rate, int* channels);
// The music's length as the end of the file tells it, for a file of one
// stream; 0 when that is not known.
double MusicSeconds();
void CloseMusicFile();

// A decoder fills `buffer` as ov_read does (a byte count, 0 at the end or a
// negative vorbisfile error) and says the rate and channel count of what it
// read. BeginReading starts ReadMusic's rules afresh for PumpMusic.
using MusicDecoder = long (*)(void* from, char* buffer, int length, long* rate, int* channels);
void BeginReading();

// Copies the music read from `from` into `put` (the card's PutSound, or a
// stand-in), a twentieth of a second of it at most at a time, until `put` is
// full, the music ends, or StopMusic; true while there is more to give. What
// `put` refuses is given again next time. Sound slower than 8000 Hz comes
// with each frame repeated up to that rate, as a slow rate means: converters
// hold back hundreds of frames, which at 1 Hz would be minutes.
using MusicSink = bool (*)(const void* data, long bytes, long rate, int channels, bool wait);
bool PumpMusic(MusicDecoder decode, void* from, MusicSink put, bool wait);
// PumpMusic over the file OpenMusicFile opened, never waiting; false at its end.
bool PumpMusicFile(MusicSink put);

// ReadMusic's decoder, for `from` an OggVorbis_File: ov_read, its channels
// moved from Vorbis's order to SDL's.
long DecodeVorbis(void* from, char* buffer, int length, long* rate, int* channels);
