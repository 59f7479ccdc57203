#include "platform/subsystems.h"

#include <SDL.h>

#include <mutex>

static std::mutex SubsystemLock;

bool HoldSubsystem(uint32_t flags) {
    // Ctrl+C in the terminal must end the demo the usual way, not become an
    // event that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    std::lock_guard hold(SubsystemLock);
    return SDL_InitSubSystem(flags) == 0;
}

void ReleaseSubsystem(uint32_t flags) {
    std::lock_guard hold(SubsystemLock);
    SDL_QuitSubSystem(flags);
}
