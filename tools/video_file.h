// Writes one video file at a time: 640 × 480 frames of 0x00RRGGBB words and
// 16-bit sound, encoded and put into a container by FFmpeg's libraries. The
// only code of the project that knows about FFmpeg.
#pragma once

#include "platform/audio.h" // MaxSoundChannels: more have no speaker order codecs agree on

#include <cstdint>

// Each frame pixel becomes at most this many pixels square.
constexpr int MaxScale = 6;

enum class VideoKind {
    Lossless, // Matroska: FFV1 in 32-bit RGB, FLAC at the sound's own rate and channels
    Mp4,      // MP4 with its index in front: H.264 in yuv420p, AAC
    WebM,     // WebM: VP9 in yuv420p, Opus at 48000 Hz
};

struct VideoSettings {
    VideoKind kind;
    int framesPerSecond;
    int scale;      // 1..MaxScale: each frame pixel becomes a scale × scale block
    int quality;    // constant rate factor, 0..51, for Mp4 and WebM
    int sampleRate; // of the sound track; 0 for none
    int channels;   // of the sound track, 1..MaxSoundChannels
};

// Creates the file `path`, taken as a plain name even where it looks like a
// URL (the container is the kind's, whatever the name), and writes its header.
// False with VideoFileError() set on failure; then call AbandonVideoFile.
// settings.sampleRate becomes the sound track's own rate, which the encoder
// takes; when it refuses the channels, or no rate can be converted to one it
// takes, the video is made without sound: settings.sampleRate becomes 0 and
// VideoFileError() says why.
bool OpenVideoFile(const char* path, VideoSettings& settings);

// Appends one frame of FrameWidth × FrameHeight words, rows `bytesPerRow` apart.
bool AddVideoFrame(const uint32_t* pixels, int bytesPerRow);

// Appends `frames` sample frames of interleaved samples, the speakers in the usual
// order (front left, right, centre, LFE, back, side), converted to the track's.
bool AddSound(const int16_t* samples, int frames, int rate, int channels);

// Flushes the encoders, writes the index and closes the file. Whether it
// succeeds or not, the file is closed and everything released.
bool FinishVideoFile();

// Closes the file unfinished and releases everything; the caller removes the
// file. Harmless when nothing is open.
void AbandonVideoFile();

// What the last failing call could not do, and why.
const char* VideoFileError();
