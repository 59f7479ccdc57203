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

const char* DataFolder() {
    static char folder[PATH_MAX];
    if (folder[0]) return folder;
    char program[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0) return "";
    program[length] = '\0';
    *std::strrchr(program, '/') = '\0'; // the program's own folder
    char joined[PATH_MAX];
    int size = std::snprintf(joined, sizeof joined, "%s/%s", program, DataFromProgram);
    if (size < 0 || size >= static_cast<int>(sizeof joined)) return "";
    // Without "..", for the messages that name it.
    std::string normal = std::filesystem::path(joined).lexically_normal().string();
    if (normal.size() >= sizeof folder) return "";
    std::memcpy(folder, normal.c_str(), normal.size() + 1);
    return folder;
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
