#include "platform/thread.h"

#include <SDL.h>

#include <cstdlib>

struct Signal {
    SDL_mutex* lock;
    SDL_cond* arrived;
    bool sent;
};

Signal* CreateSignal() {
    auto* signal = static_cast<Signal*>(std::calloc(1, sizeof(Signal)));
    if (!signal) return nullptr;
    signal->lock = SDL_CreateMutex();
    signal->arrived = SDL_CreateCond();
    if (!signal->lock || !signal->arrived) {
        DestroySignal(signal);
        return nullptr;
    }
    return signal;
}

void DestroySignal(Signal* signal) {
    if (!signal) return;
    SDL_DestroyCond(signal->arrived);
    SDL_DestroyMutex(signal->lock);
    std::free(signal);
}

void SendSignal(Signal* signal) {
    SDL_LockMutex(signal->lock);
    signal->sent = true;
    SDL_CondBroadcast(signal->arrived);
    SDL_UnlockMutex(signal->lock);
}

void WaitForSignal(Signal* signal) {
    SDL_LockMutex(signal->lock);
    while (!signal->sent) SDL_CondWait(signal->arrived, signal->lock);
    SDL_UnlockMutex(signal->lock);
}

bool WaitForSignalMilliseconds(Signal* signal, uint32_t milliseconds) {
    const uint64_t end = SDL_GetTicks64() + milliseconds;
    SDL_LockMutex(signal->lock);
    for (uint64_t now = SDL_GetTicks64(); !signal->sent && now < end; now = SDL_GetTicks64())
        SDL_CondWaitTimeout(signal->arrived, signal->lock, static_cast<Uint32>(end - now));
    bool sent = signal->sent;
    SDL_UnlockMutex(signal->lock);
    return sent;
}

struct ThreadStart {
    void (*entry)();
    bool raisedPriority;
};

static int RunThread(void* data) {
    ThreadStart start = *static_cast<ThreadStart*>(data);
    std::free(data);
    if (start.raisedPriority) SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
    start.entry();
    return 0;
}

bool StartThread(void (*entry)(), const char* name, bool raisedPriority) {
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (!start) return false;
    *start = {entry, raisedPriority};
    SDL_Thread* thread = SDL_CreateThread(RunThread, name, start);
    if (!thread) {
        std::free(start);
        return false;
    }
    // Nobody joins the thread: it reports its end with a signal.
    SDL_DetachThread(thread);
    return true;
}

void PauseMilliseconds(uint32_t milliseconds) {
    SDL_Delay(milliseconds);
}
