// The music thread: streams "testing.ogg" to the sound card.
#pragma once

#include <cstdint>

struct Task;

// Set by the main thread before StartMusic; the music thread only reads them.
extern int8_t EndSignal; // signal the music thread sends as its last act
extern Task* MainTask;   // the thread that receives it

// Starts MusicProcess on a thread of its own; false if it could not start.
bool StartMusic();
void MusicProcess();
