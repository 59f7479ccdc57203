#include "platform/audio.h"

#include "platform/subsystems.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// One device. The lock guards the queue and every block's own fields; the
// condition is broadcast whenever a block completes.
static SDL_AudioDeviceID Device;
static SDL_mutex* QueueLock;
static SDL_cond* Completed;
static SoundBlock* Head; // the block being played, then the ones after it
static SoundBlock* Tail;
static uint8_t Silence;

// Runs on SDL's audio thread.
static void Play(void*, Uint8* stream, int length) {
    SDL_LockMutex(QueueLock);
    while (length > 0 && Head) {
        SoundBlock* block = Head;
        uint32_t count = block->length - block->taken;
        if (count > static_cast<uint32_t>(length)) count = static_cast<uint32_t>(length);
        std::memcpy(stream, static_cast<const uint8_t*>(block->data) + block->taken, count);
        stream += count;
        length -= static_cast<int>(count);
        block->taken += count;
        if (block->taken == block->length) {
            // Its last byte is taken: the next one goes on in the same buffer.
            block->pending = false;
            Head = block->next;
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

bool OpenSound(int rate, int channels) {
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

void CloseSound() {
    if (!Device) return;
    SDL_CloseAudioDevice(Device); // the callback has run for the last time
    Device = 0;
    for (SoundBlock* block = Head; block; block = block->next) block->pending = false;
    Head = Tail = nullptr;
    SDL_DestroyCond(Completed);
    SDL_DestroyMutex(QueueLock);
    Completed = nullptr;
    QueueLock = nullptr;
    ReleaseSubsystem(SDL_INIT_AUDIO);
}

void QueueSoundBlock(SoundBlock* block) {
    if (!Device || block->length == 0) return; // nothing to play: done at once
    SDL_LockMutex(QueueLock);
    block->pending = true;
    block->taken = 0;
    block->next = nullptr;
    if (Tail)
        Tail->next = block;
    else
        Head = block;
    Tail = block;
    SDL_UnlockMutex(QueueLock);
}

bool SoundBlockPlayed(SoundBlock* block) {
    if (!QueueLock) return true;
    SDL_LockMutex(QueueLock);
    bool done = !block->pending;
    SDL_UnlockMutex(QueueLock);
    return done;
}

void WaitForSoundBlock(SoundBlock* block) {
    if (!QueueLock) return;
    SDL_LockMutex(QueueLock);
    while (block->pending) SDL_CondWait(Completed, QueueLock);
    SDL_UnlockMutex(QueueLock);
}
