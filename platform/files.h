// Files the demo reads, files its tools write whole, and its standard output.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// The running program's own name, set by its main, that its messages begin with.
extern const char* ProgramName;

// `text` with each control character written as \xHH: a name a user gave, or
// a folder's, cannot retitle, move or clear the terminal it is printed on.
std::string Printable(std::string_view text);

// "PROGRAM: " and the message, made printable, as one line on standard error.
[[gnu::format(printf, 1, 2)]] void Complain(const char* format, ...);

// The folders a demo's file is looked for in after the current one: the
// program's own folder when the build put it and its files there, then the
// data folder (share/bumpwave beside the program's prefix, found from the
// program's own place) if it exists. Returns how many it stored in `folders`.
constexpr int MaxDataFolders = 2;
int DataFolders(const char* folders[MaxDataFolders]);

// The folders of DataFolders for the programs' --help: "A or B", or "nowhere:
// there is no data folder".
std::string DataFoldersInWords();

// Opens the demo's file `name` for reading if it is a regular file or a link
// to one (EINVAL otherwise: a FIFO or a device could block for ever), from
// the current folder, or where it is not there at all, from the first of
// DataFolders that holds it. A link there that leads nowhere fails with ENOLINK.
FILE* OpenDataFile(const char* name);

// Why OpenDataFile failed, from its errno `error`, in words for a user:
// where it was looked for (folder names made printable), "not a regular
// file", "a link that leads nowhere", or the system's reason ("permission denied").
std::string DescribeOpenFailure(int error);

// A file written whole or not at all, one at a time: CreateAtomicFile makes a
// new file of its own beside `path` (created exclusively, with the permissions
// a new file gets) and returns its descriptor, or -1 with errno (EISDIR, or
// EINVAL when `path` is neither a regular file nor a link). CommitAtomicFile
// renames it over `path` in one step; DropAtomicFile removes it. Both leave
// the descriptor to the caller.
int CreateAtomicFile(const char* path);
const char* AtomicFileName(); // "" when none is being written
bool CommitAtomicFile(const char* path);
void DropAtomicFile();

// Every signal that would end the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGUSR1, SIGALRM, SIGXCPU and the like) calls `stop` from now on, on
// whichever thread it reaches, unless it was ignored at start (as under
// nohup). A write to a closed pipe or past the file size limit fails (EPIPE,
// EFBIG) instead of ending the process: a closed stdout must not cut the music
// short, and a full file is a write error to report.
void CatchStopSignals(void (*stop)(int signal));

// Ends the process by `signal`, as if it had not been caught; in its handler,
// as the handler returns.
void EndBySignal(int signal);

// For a stop signal's handler: removes the atomic file being written; true
// when there was one.
bool RemoveAtomicFileNow();

// Opens each of descriptors 0, 1 and 2 that is closed on /dev/null, so that
// nothing the process opens later (the display's socket, the sound file)
// takes the place of a standard stream and receives what is printed there.
void KeepStandardStreamsApart();
