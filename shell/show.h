// A show: what every program that draws the demo loads before its first
// frame, the two pictures and the effect tables with their random start.
#pragma once

#include <cstdint>
#include <optional>

// The pictures of the show loaded last; nullptr until then.
extern uint32_t* BumpPicture;
extern uint32_t* LogoPicture;

// Frees the last show's, then loads the pictures (from the current folder or
// else the DataFolders), builds the tables and starts the timeline with
// `seed`, or with the clock without one, calm or not. False, with what failed
// said and nothing kept, when a step fails; the second picture is not tried
// after the first has failed.
bool LoadShow(std::optional<unsigned> seed, bool calm);

// Frees the pictures and the tables; harmless when nothing is loaded.
void FreeShow();
