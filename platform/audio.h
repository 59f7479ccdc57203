// The sound card, fed blocks of samples that play one after another.
//
// Threads: every function here runs on the thread that plays the music (one
// device, one such thread). SDL runs the device's callback on a thread of its
// own; it takes the bytes of the queued blocks in order and completes them.
//
// Ownership: the caller owns each block and the bytes it points to. From
// QueueSoundBlock until the block has played the device reads those bytes and
// the caller must leave the block and its bytes alone.
//
// Samples are 16-bit signed big-endian, interleaved by channel; SDL converts
// them for whatever the sound card wants. No sound card is no sound: SDL's
// "dummy" and "disk" drivers are used only when SDL_AUDIODRIVER names them.
#pragma once

#include <cstdint>

struct SoundBlock {
    const void* data;
    uint32_t length; // bytes

    // The device's own, under its lock.
    bool pending;     // queued and not yet wholly taken by the device
    uint32_t taken;   // bytes of it the device has taken
    SoundBlock* next; // the block queued after it
};

// Opens the sound card for `rate` frames a second of `channels` channels and
// starts it playing silence. On failure prints a one-line reason on stderr.
bool OpenSound(int rate, int channels);
// Stops the sound card; blocks still queued are completed unplayed.
void CloseSound();

// Queues block->data to play right after the blocks queued before it, without
// a gap, and returns at once.
void QueueSoundBlock(SoundBlock* block);
// True when the block's last byte has been taken, or it was never queued.
bool SoundBlockPlayed(SoundBlock* block);
// Waits until SoundBlockPlayed would say true.
void WaitForSoundBlock(SoundBlock* block);
