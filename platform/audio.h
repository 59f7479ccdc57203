// The sound card, as a sink that sound is copied into.
//
// Threads: every function here but FadeOutSound and PauseSound runs on the
// thread that plays the music (one device, one such thread); SDL's callback,
// on its own thread, only takes what the device holds and wakes it.
//
// The device holds about a second of sound, converted to its own format, so
// that a music thread that wakes late is not heard; CloseSound plays it out.
// Samples are 16-bit signed big-endian, interleaved by channel in SDL's order:
// 1 mono; 2 FL FR; 3 FL FR LFE; 4 FL FR BL BR; 5 FL FR LFE BL BR;
// 6 FL FR FC LFE SL SR; 7 FL FR FC LFE BC SL SR; 8 FL FR FC LFE BL BR SL SR.
// Sound of another rate or channel count than the device's is converted by
// SDL, in pieces as they come (the music's pump keeps them small). No sound
// card is no sound: SDL's "dummy" and "disk" drivers are used only when
// SDL_AUDIODRIVER names them.
#pragma once

constexpr long MaxSoundRate = 384000;
constexpr int MaxSoundChannels = 8;

// Opens the sound card for `rate` frames a second of `channels` channels and
// starts it playing silence. On failure prints a one-line reason on stderr.
bool OpenSound(long rate, int channels);

// Copies `bytes` of whole sample frames of `rate` and `channels` into the
// device, to play right after what it holds, without a gap. With `wait` it
// waits while the device is full; without, it returns false at once and takes
// nothing. True once taken, and also when they are dropped: the device is
// lost, faded out, or cannot play their format (said once on stderr).
bool PutSound(const void* data, long bytes, long rate, int channels, bool wait);

// Plays what the device holds to its end, then closes it. A device that has
// stopped taking sound for five seconds is given up at once, and left open:
// closing it could wait forever.
void CloseSound();

// From any thread: what the device plays from now on ramps down to silence
// within 50 ms, and then it takes no more sound, as if lost: CloseSound has
// nothing left to play out. A card paused when this is asked stays silent.
void FadeOutSound();

// From any thread: stops or resumes the card where it is, losing nothing; a
// music thread waiting for room waits on, and a paused card is not given up.
// A card opened while paused opens paused.
void PauseSound(bool paused);

// Drops the sound the device holds, played or not: what comes next plays at
// once, and the seconds played count from zero again.
void DropSound();

// Seconds of sound the open device has played since it opened (silence left
// out); 0 without one.
double SoundSecondsPlayed();
