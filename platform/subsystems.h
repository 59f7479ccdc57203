// Starting and stopping SDL's subsystems, for the display (main thread) and
// the sound card (music thread). SDL counts the holds of each subsystem but not
// under a lock, so every start and stop goes through this one lock.
#pragma once

#include <cstdint>

// SDL_InitSubSystem under the lock; returns false with SDL's error set.
bool HoldSubsystem(uint32_t flags);
void ReleaseSubsystem(uint32_t flags);
