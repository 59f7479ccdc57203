// The sound card, fed blocks of samples that play one after another.
//
// Threads: every function here but FadeOutSound runs on the thread that plays
// the music (one device, one such thread). SDL runs the device's callback on a thread of its
// own; it only reads what the device holds and wakes the music thread. In the
// browser there are no threads: the page's own thread calls these without
// waiting (SoundBlockPlayed, SoundPlayedOut), and SDL calls back between its steps.
//
// Ownership: the caller owns each block and the bytes it points to. From
// QueueSoundBlock until SoundBlockPlayed says true the device may copy those
// bytes, and the caller must leave the block and its bytes alone. Once taken,
// the bytes live in the device's own buffer (a second of sound, so that a
// music thread that wakes late is not heard), which CloseSound plays out.
//
// Samples are 16-bit signed big-endian, interleaved by channel in SDL's order:
// 1 mono; 2 FL FR; 3 FL FR LFE; 4 FL FR BL BR; 5 FL FR LFE BL BR;
// 6 FL FR FC LFE SL SR; 7 FL FR FC LFE BC SL SR; 8 FL FR FC LFE BL BR SL SR.
// Blocks of another rate or channel count than the device's are converted by
// SDL. No sound card is no sound: SDL's "dummy" and "disk" drivers are used
// only when SDL_AUDIODRIVER names them.
#pragma once

#include <cstdint>

struct SoundBlock {
    const void* data;
    uint32_t length; // bytes, whole sample frames
    long rate;       // frames a second
    int channels;

    // The device's own, under its lock.
    bool pending;     // queued and not yet taken into the device's buffer
    SoundBlock* next; // the block queued after it
};

// Opens the sound card for `rate` frames a second of `channels` channels and
// starts it playing silence. On failure prints a one-line reason on stderr.
bool OpenSound(long rate, int channels);
// Plays what the device holds to its end, then closes it; blocks still queued
// are completed unplayed. A device that has stopped taking sound for five
// seconds is given up at once, and left open: closing it could wait forever.
void CloseSound();

// From any thread: what the device plays from now on ramps down to silence
// within 50 ms, and then it takes no more sound, as if lost: the blocks still
// queued complete unplayed, and CloseSound has nothing left to play out.
void FadeOutSound();

// Without waiting: whether the device has played every block queued to its
// end (or lost them). After the last block has been queued.
bool SoundPlayedOut();

// Queues block->data to play right after the blocks queued before it, without
// a gap, and returns at once.
void QueueSoundBlock(SoundBlock* block);
// True once the device has taken the block's bytes, or the block was never
// queued, or the device was lost. Takes what the device has room for first.
bool SoundBlockPlayed(SoundBlock* block);
// Waits until SoundBlockPlayed would say true.
void WaitForSoundBlock(SoundBlock* block);
