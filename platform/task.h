// Tasks, signals, memory and the pause, for the two threads of the demo: the
// main thread (display and frame loop) and the music thread it starts.
//
// A signal is a bit number 0..31 owned by the task that allocated it. Another
// task sets it with Signal(); the owner waits for it with Wait(). A signal sent
// before the owner waits is kept, so the wait still returns.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t MEMF_ANY = 0;
constexpr uint32_t MEMF_CHIP = 0x2;
constexpr uint32_t MEMF_CLEAR = 0x10000;

struct Task;
struct Process;

// The calling thread's own task record, created on first use.
Task* FindTask();

// Allocates a free signal of the calling task (-1 asks for any); -1 if none is free.
int8_t AllocSignal(int8_t wanted);
void FreeSignal(int8_t number);

// Sets the bits of `mask` in `task` and wakes it if it waits for one of them.
void Signal(Task* task, uint32_t mask);
// Waits until one of the bits of `mask` has been received, clears those bits
// and returns them.
uint32_t Wait(uint32_t mask);

// Starts `entry` on a thread of its own; `priority` above 0 asks for a raised
// scheduling priority, which is silently kept as it is where the system refuses.
// Returns nullptr when no thread could be created.
Process* CreateNewProcTags(void (*entry)(), int priority);

// Pauses the calling thread for `ticks` fiftieths of a second.
void Delay(uint32_t ticks);

// Plain heap blocks; MEMF_CLEAR zeroes them, the other flags mean nothing here.
void* AllocVec(size_t size, uint32_t flags);
void FreeVec(void* block);
void CopyMem(const void* source, void* destination, size_t size);
