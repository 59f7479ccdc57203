// Files the demo reads, and its standard output.
#pragma once

#include <cstdio>

// Opens `name` for reading if it is a regular file, or a link to one; nullptr
// otherwise, with errno saying why (EINVAL: not a regular file). A FIFO, a
// device or a folder could block the open, never end, or fail later in a way
// nobody expects.
FILE* OpenRegularFile(const char* name);

// The installed data folder, share/bumpwave under the prefix the program is
// installed in, found from the program's own place so that a moved install
// finds it too; "" where that place is unknown.
const char* DataFolder();

// Opens the demo's file `name` as OpenRegularFile does, from the current
// folder, or where it is not there at all, from the data folder.
FILE* OpenDataFile(const char* name);

// A write to a pipe whose reader has gone fails (EPIPE) instead of ending the
// process: a closed stdout must not cut the music short.
void IgnoreBrokenPipes();

// Opens each of descriptors 0, 1 and 2 that is closed on /dev/null, so that
// nothing the process opens later (the display's socket, the sound file)
// takes the place of a standard stream and receives what is printed there.
void KeepStandardStreamsApart();
