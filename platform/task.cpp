#include "platform/task.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

struct Task {
    uint32_t allocated; // signal bits owned by this task
    uint32_t received;  // signal bits sent to it and not yet waited for
};

// One lock and one condition for all tasks: there are only two threads and a
// single signal that ever crosses between them.
static SDL_mutex* SignalLock() {
    static SDL_mutex* lock = SDL_CreateMutex();
    return lock;
}

static SDL_cond* SignalArrived() {
    static SDL_cond* arrived = SDL_CreateCond();
    return arrived;
}

Task* FindTask() {
    thread_local Task self{};
    return &self;
}

int8_t AllocSignal(int8_t wanted) {
    Task* self = FindTask();
    SDL_LockMutex(SignalLock());
    int8_t number = -1;
    for (int bit = 0; bit < 32; ++bit) {
        bool free = !(self->allocated & (1u << bit));
        if (free && (wanted < 0 || wanted == bit)) {
            self->allocated |= 1u << bit;
            self->received &= ~(1u << bit);
            number = static_cast<int8_t>(bit);
            break;
        }
    }
    SDL_UnlockMutex(SignalLock());
    return number;
}

void FreeSignal(int8_t number) {
    if (number < 0 || number > 31) return;
    Task* self = FindTask();
    SDL_LockMutex(SignalLock());
    self->allocated &= ~(1u << number);
    self->received &= ~(1u << number);
    SDL_UnlockMutex(SignalLock());
}

void Signal(Task* task, uint32_t mask) {
    SDL_LockMutex(SignalLock());
    task->received |= mask;
    SDL_CondBroadcast(SignalArrived());
    SDL_UnlockMutex(SignalLock());
}

uint32_t Wait(uint32_t mask) {
    Task* self = FindTask();
    SDL_LockMutex(SignalLock());
    while (!(self->received & mask)) SDL_CondWait(SignalArrived(), SignalLock());
    uint32_t got = self->received & mask;
    self->received &= ~got;
    SDL_UnlockMutex(SignalLock());
    return got;
}

struct ProcessStart {
    void (*entry)();
    int priority;
};

static int RunProcess(void* data) {
    ProcessStart start = *static_cast<ProcessStart*>(data);
    std::free(data);
    if (start.priority > 0) SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
    start.entry();
    return 0;
}

Process* CreateNewProcTags(void (*entry)(), int priority) {
    auto* start = static_cast<ProcessStart*>(std::malloc(sizeof(ProcessStart)));
    if (!start) return nullptr;
    *start = {entry, priority};
    SDL_Thread* thread = SDL_CreateThread(RunProcess, "bumpwave music", start);
    if (!thread) {
        std::free(start);
        return nullptr;
    }
    // Nobody joins the thread: it reports its end with a signal, like a process.
    SDL_DetachThread(thread);
    return reinterpret_cast<Process*>(thread);
}

void Delay(uint32_t ticks) {
    SDL_Delay(ticks * 20);
}

void* AllocVec(size_t size, uint32_t flags) {
    return (flags & MEMF_CLEAR) ? std::calloc(1, size) : std::malloc(size);
}

void FreeVec(void* block) {
    std::free(block);
}

void CopyMem(const void* source, void* destination, size_t size) {
    std::memcpy(destination, source, size);
}
