#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// The data folder from the program's folder, as the build installs them.
static constexpr const char* DataFromProgram = BUMPWAVE_DATA_FROM_PROGRAM;

FILE* OpenRegularFile(const char* name) {
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

// The program's folder joined with the data folder's path from it; empty
// where the program's own path cannot be read.
static std::string FindDataFolder() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "";
    // Without "..", for the messages that name it.
    return (program.parent_path() / DataFromProgram).lexically_normal().string();
}

const char* DataFolder() {
    static const std::string folder = FindDataFolder(); // once, whichever thread asks first
    return folder.c_str();
}

FILE* OpenDataFile(const char* name) {
    FILE* file = OpenRegularFile(name);
    if (file || errno != ENOENT || !DataFolder()[0]) return file;
    char path[PATH_MAX];
    int size = std::snprintf(path, sizeof path, "%s/%s", DataFolder(), name);
    if (size < 0 || size >= static_cast<int>(sizeof path)) {
        errno = ENOENT;
        return nullptr;
    }
    return OpenRegularFile(path);
}

void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

void KeepStandardStreamsApart() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free descriptor: this one, as those below it are open.
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened > fd) close(opened); // cannot happen, but never leak one
    }
}
