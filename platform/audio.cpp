#include "platform/audio.h"

#include "platform/subsystems.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// One device. The lock guards the queue and every request's own fields; the
// condition is broadcast whenever a request completes.
static SDL_AudioDeviceID Device;
static SDL_mutex* QueueLock;
static SDL_cond* Completed;
static AudioRequest* Head; // the request being played, then the ones after it
static AudioRequest* Tail;
static uint8_t Silence;

// Runs on SDL's audio thread.
static void Play(void*, Uint8* stream, int length) {
    SDL_LockMutex(QueueLock);
    while (length > 0 && Head) {
        AudioRequest* request = Head;
        uint32_t count = request->length - request->taken;
        if (count > static_cast<uint32_t>(length)) count = static_cast<uint32_t>(length);
        std::memcpy(stream, static_cast<const uint8_t*>(request->data) + request->taken, count);
        stream += count;
        length -= static_cast<int>(count);
        request->taken += count;
        if (request->taken == request->length) {
            // Its last byte is taken: the next one goes on in the same buffer.
            request->pending = false;
            Head = request->next;
            if (!Head) Tail = nullptr;
            SDL_CondBroadcast(Completed);
        }
    }
    SDL_UnlockMutex(QueueLock);
    if (length > 0) std::memset(stream, Silence, static_cast<size_t>(length));
}

static void NoSound() {
    std::fprintf(stderr, "bumpwave: no sound: %s\n", SDL_GetError());
}

bool OpenAudioDevice(int rate, int channels) {
    if (Device) return false;
    if (rate < 1 || rate > 384000 || channels < 1 || channels > 8) {
        SDL_SetError("cannot play %d Hz with %d channels", rate, channels);
        NoSound();
        return false;
    }
    if (!HoldSubsystem(SDL_INIT_AUDIO)) {
        NoSound();
        return false;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = rate;
    wanted.format = AUDIO_S16MSB;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = 1024;
    wanted.callback = Play;
    SDL_AudioSpec obtained{};
    QueueLock = SDL_CreateMutex();
    Completed = SDL_CreateCond();
    // No changes allowed: where the card wants another format SDL converts
    // ours, so the callback always delivers what it was given.
    if (QueueLock && Completed) Device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (!Device) {
        NoSound();
        SDL_DestroyCond(Completed);
        SDL_DestroyMutex(QueueLock);
        Completed = nullptr;
        QueueLock = nullptr;
        ReleaseSubsystem(SDL_INIT_AUDIO);
        return false;
    }
    Silence = obtained.silence;
    SDL_PauseAudioDevice(Device, 0);
    return true;
}

void CloseAudioDevice() {
    if (!Device) return;
    SDL_CloseAudioDevice(Device); // the callback has run for the last time
    Device = 0;
    for (AudioRequest* request = Head; request; request = request->next) request->pending = false;
    Head = Tail = nullptr;
    SDL_DestroyCond(Completed);
    SDL_DestroyMutex(QueueLock);
    Completed = nullptr;
    QueueLock = nullptr;
    ReleaseSubsystem(SDL_INIT_AUDIO);
}

AudioRequest* CreateIORequest() {
    return static_cast<AudioRequest*>(std::calloc(1, sizeof(AudioRequest)));
}

void DeleteIORequest(AudioRequest* request) {
    std::free(request);
}

void SendIO(AudioRequest* request) {
    if (!Device || request->length == 0) return; // nothing to play: done at once
    SDL_LockMutex(QueueLock);
    request->pending = true;
    request->taken = 0;
    request->next = nullptr;
    if (Tail)
        Tail->next = request;
    else
        Head = request;
    Tail = request;
    SDL_UnlockMutex(QueueLock);
}

bool CheckIO(AudioRequest* request) {
    if (!QueueLock) return true;
    SDL_LockMutex(QueueLock);
    bool done = !request->pending;
    SDL_UnlockMutex(QueueLock);
    return done;
}

void WaitIO(AudioRequest* request) {
    if (!QueueLock) return;
    SDL_LockMutex(QueueLock);
    while (request->pending) SDL_CondWait(Completed, QueueLock);
    SDL_UnlockMutex(QueueLock);
}
