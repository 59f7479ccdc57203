// The sound card, written to in requests that play one after another.
//
// Threads: OpenAudioDevice, CloseAudioDevice, CreateIORequest, DeleteIORequest,
// SendIO, CheckIO and WaitIO run on the thread that plays the music (one
// device, one such thread). SDL runs the device's callback on a thread of its
// own; it takes the bytes of the queued requests in order and completes them.
//
// Ownership: the caller owns each request and the bytes it points to. From
// SendIO until the request has completed the device reads those bytes and the
// caller must leave the request and its bytes alone.
//
// Samples are 16-bit signed big-endian, interleaved by channel; SDL converts
// them for whatever the sound card wants. No sound card is no sound: SDL's
// "dummy" and "disk" drivers are used only when SDL_AUDIODRIVER names them.
#pragma once

#include <cstdint>

struct AudioRequest {
    const void* data;
    uint32_t length;    // bytes
    AudioRequest* link; // the write this one follows, nullptr for the first

    // The device's own, under its lock.
    bool pending;       // sent and not yet wholly taken by the device
    uint32_t taken;     // bytes of it the device has taken
    AudioRequest* next; // the request queued after it
};

// Opens the sound card for `rate` frames a second of `channels` channels and
// starts it playing silence. On failure prints a one-line reason on stderr.
bool OpenAudioDevice(int rate = 44100, int channels = 2);
// Stops the sound card; requests still queued are completed unplayed.
void CloseAudioDevice();

AudioRequest* CreateIORequest();
void DeleteIORequest(AudioRequest* request);

// Queues the write of request->data to follow the writes queued before it
// without a gap, and returns at once.
void SendIO(AudioRequest* request);
// True when the request's last byte has been taken, or it was never sent.
bool CheckIO(AudioRequest* request);
// Waits until CheckIO would say true.
void WaitIO(AudioRequest* request);
