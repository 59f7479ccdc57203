// Decodes "testing.ogg" as fast as it can, for programs that write the music
// somewhere rather than play it. Reads the same file as the music thread,
// through the same library, in whole sample frames.
#pragma once

#include <cstdint>

// Opens "testing.ogg" if it is a regular file holding Ogg Vorbis; otherwise
// returns false with the reason, as the demo words it, in *why.
bool OpenMusicFile(const char** why);

// Rate and channel count of the first stream, which the music starts with.
int MusicRate();
int MusicChannels();

// Length in seconds as the file's index gives it; a damaged file can end sooner.
// 0 for a file too large to index quickly.
double MusicSeconds();

// Decodes interleaved 16-bit samples, their channels in the order the demo
// plays them (ToSpeakerOrder), into `samples`, which holds `capacity`
// samples (at least 255, one frame of the widest stream), and tells their rate
// and channel count: a chained file can change them from one stream to the
// next. Returns the sample frames decoded, 0 at the end of the music or at a
// decoding error (the music ends there, as when it plays).
int DecodeMusic(int16_t* samples, int capacity, int* rate, int* channels);

void CloseMusicFile();
