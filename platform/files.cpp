#include "platform/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const char* ProgramName = "bumpwave";

std::string Printable(std::string_view text) {
    std::string shown;
    auto escape = [&](unsigned char c) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        shown += escaped;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
        if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else if (c == 0xC2 && next >= 0x80 && next < 0xA0) {
            // A C1 control, which terminals obey in UTF-8 too.
            escape(c);
            escape(next);
            ++i;
        } else {
            shown += text[i];
        }
    }
    return shown;
}

void Complain(const char* format, ...) {
    va_list arguments, again;
    va_start(arguments, format);
    va_copy(again, arguments);
    std::string message(std::max(std::vsnprintf(nullptr, 0, format, arguments), 0), '\0');
    va_end(arguments);
    std::vsnprintf(message.data(), message.size() + 1, format, again);
    va_end(again);
    std::fprintf(stderr, "%s: %s\n", ProgramName, Printable(message).c_str());
}

// The data folder from the program's folder, as the build installs them.
static constexpr const char* DataFromProgram = BUMPWAVE_DATA_FROM_PROGRAM;
// Where the build puts its programs and their files; "" where it puts none.
#ifdef BUMPWAVE_BUILD_FOLDER
static constexpr const char* BuildFolder = BUMPWAVE_BUILD_FOLDER;
#else
static constexpr const char* BuildFolder = "";
#endif

static FILE* OpenRegularFile(const char* name) {
    // Non-blocking, or the open of a FIFO waits for a writer.
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat about;
    if (fstat(fd, &about) != 0 || !S_ISREG(about.st_mode)) {
        close(fd);
        errno = EINVAL;
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

// Folders that do not exist are left out, of the search and of the messages.
static std::vector<std::string> FindDataFolders() {
    std::vector<std::string> found;
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return found;
    std::filesystem::path folder = program.parent_path();
    if (BuildFolder[0] && std::filesystem::equivalent(folder, BuildFolder, error))
        found.push_back(folder.string());
    // Without "..", for the messages that name it.
    std::filesystem::path data = (folder / DataFromProgram).lexically_normal();
    if (std::filesystem::is_directory(data, error)) found.push_back(data.string());
    return found;
}

int DataFolders(const char* folders[MaxDataFolders]) {
    static const std::vector<std::string> found = FindDataFolders(); // once, by whichever thread
    for (size_t i = 0; i < found.size(); ++i) folders[i] = found[i].c_str();
    return static_cast<int>(found.size());
}

std::string DataFoldersInWords() {
    const char* folders[MaxDataFolders];
    int count = DataFolders(folders);
    std::string words = count ? "" : "nowhere: there is no data folder";
    for (int i = 0; i < count; ++i) words += (i ? " or " : "") + Printable(folders[i]);
    return words;
}

FILE* OpenDataFile(const char* name) {
    FILE* file = OpenRegularFile(name);
    // A link the user put here chose the file: where it leads nowhere, no
    // other file stands in for it.
    struct stat link;
    if (!file && errno == ENOENT && lstat(name, &link) == 0) errno = ENOLINK;
    if (file || errno != ENOENT || std::strchr(name, '/')) return file;
    const char* folders[MaxDataFolders];
    int count = DataFolders(folders);
    for (int i = 0; i < count && !file; ++i) {
        char path[PATH_MAX];
        int size = std::snprintf(path, sizeof path, "%s/%s", folders[i], name);
        if (size > 0 && size < static_cast<int>(sizeof path)) file = OpenRegularFile(path);
        if (!file && errno != ENOENT) return nullptr;
    }
    if (!file) errno = ENOENT;
    return file;
}

// The file being written whole; the stop signals are held while it changes,
// as their handler removes it.
static struct { char temporary[PATH_MAX]; } Atomic;

// Every signal whose default is to end the process, but for the two that
// CatchStopSignals ignores.
constexpr int StopSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                               SIGUSR2, SIGALRM, SIGVTALRM, SIGXCPU, SIGPROF};

// Leaves errno as it was: the callers' reasons are in it.
static void HoldStopSignals(bool hold) {
    const int error = errno;
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : StopSignals) sigaddset(&signals, signal);
    sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &signals, nullptr);
    errno = error;
}

int CreateAtomicFile(const char* path) {
    // Whatever lies at `path` is replaced, never followed; a device or a FIFO must not be.
    // A name too long for its folder would be found only as the file is committed.
    struct stat info;
    if (lstat(path, &info) != 0 && errno != ENOENT) return -1;
    if (lstat(path, &info) == 0 && S_ISDIR(info.st_mode)) return errno = EISDIR, -1;
    if (lstat(path, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
        return errno = EINVAL, -1;
    const std::string name =
        (std::filesystem::path(path).parent_path() / ProgramName).string() + "-XXXXXX.part";
    if (name.size() >= sizeof Atomic.temporary) return errno = ENAMETOOLONG, -1;
    mode_t mask = umask(0);
    umask(mask);
    HoldStopSignals(true);
    std::memcpy(Atomic.temporary, name.c_str(), name.size() + 1);
    int file = mkostemps(Atomic.temporary, static_cast<int>(std::strlen(".part")), O_CLOEXEC);
    if (file < 0) Atomic.temporary[0] = '\0';
    HoldStopSignals(false);
    // The permissions any new file gets, not mkstemp's owner-only ones.
    if (file >= 0) fchmod(file, 0666 & ~mask);
    return file;
}

const char* AtomicFileName() {
    return Atomic.temporary;
}

bool CommitAtomicFile(const char* path) {
    HoldStopSignals(true);
    bool renamed = rename(Atomic.temporary, path) == 0;
    if (renamed) Atomic.temporary[0] = '\0';
    HoldStopSignals(false);
    return renamed;
}

void DropAtomicFile() {
    int error = errno; // the caller's reason to drop it is what it will say
    HoldStopSignals(true);
    if (Atomic.temporary[0]) unlink(Atomic.temporary);
    Atomic.temporary[0] = '\0';
    HoldStopSignals(false);
    errno = error;
}

bool RemoveAtomicFileNow() {
    return Atomic.temporary[0] && unlink(Atomic.temporary) == 0;
}

void CatchStopSignals(void (*stop)(int signal)) {
    struct sigaction action = {};
    action.sa_handler = stop;
    sigemptyset(&action.sa_mask);
    for (int signal : StopSignals) {
        struct sigaction inherited = {};
        sigaction(signal, nullptr, &inherited);
        if (inherited.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void EndBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void KeepStandardStreamsApart() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free descriptor: this one, as those below it are open.
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened > fd) close(opened); // cannot happen, but never leak one
    }
}

std::string DescribeOpenFailure(int error) {
    if (error == EINVAL) return "not a regular file";
    if (error == ENOLINK) return "a link that leads nowhere";
    if (error != ENOENT) {
        std::string why = std::strerror(error);
        why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
        return why;
    }
    char here[PATH_MAX];
    const std::string shown = Printable(getcwd(here, sizeof here) ? here : "the current folder");
    const char* folders[MaxDataFolders];
    const int count = DataFolders(folders);
    if (count == 0) return "not found in " + shown;
    if (count == 1) return "found neither in " + shown + " nor in " + Printable(folders[0]);
    return "found in none of " + shown + ", " + Printable(folders[0]) + " and " +
           Printable(folders[1]);
}
