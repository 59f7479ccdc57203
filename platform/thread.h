// Threads, the one-shot signal between them, and a pause, for the two threads
// of the demo: the main thread (display and frame loop) and the music thread
// it starts.
#pragma once

#include <cstdint>

// Starts `entry` on a detached thread of its own. `raisedPriority` asks for a
// higher scheduling priority, which is silently kept as it is where the system
// refuses. False when no thread could be started.
bool StartThread(void (*entry)(), const char* name, bool raisedPriority);

// Sent once by one thread, waited for once by another. A signal sent before
// the wait is kept, so the wait still returns.
struct Signal;
Signal* CreateSignal(); // nullptr when out of memory
void DestroySignal(Signal* signal);
void SendSignal(Signal* signal);
// Waits for at most `milliseconds`: true when the signal came.
bool WaitForSignalMilliseconds(Signal* signal, uint32_t milliseconds);

void PauseMilliseconds(uint32_t milliseconds);
