#include "platform/subsystems.h"

#include <SDL.h>

static SDL_mutex* SubsystemLock() {
    static SDL_mutex* lock = SDL_CreateMutex();
    return lock;
}

bool HoldSubsystem(uint32_t flags) {
    // Ctrl+C in the terminal must end the demo the usual way, not become an
    // event that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_LockMutex(SubsystemLock());
    bool held = SDL_InitSubSystem(flags) == 0;
    SDL_UnlockMutex(SubsystemLock());
    return held;
}

void ReleaseSubsystem(uint32_t flags) {
    SDL_LockMutex(SubsystemLock());
    SDL_QuitSubSystem(flags);
    SDL_UnlockMutex(SubsystemLock());
}
