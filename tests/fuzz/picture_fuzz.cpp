// Feeds arbitrary bytes to LoadPicture through a file, as the demo reads them.
#include "assets/picture.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// One file per process, so that parallel fuzzing jobs do not share it.
static const std::string& InputPath() {
    static const std::string path = "/tmp/bumpwave-picture-fuzz-" + std::to_string(getpid());
    return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        std::atexit([] { unlink(InputPath().c_str()); });
        return std::freopen("/dev/null", "w", stdout) != nullptr; // the messages cost time
    }();
    (void)ready;
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    uint32_t* picture = nullptr;
    if (LoadPicture(InputPath().c_str(), &picture)) std::free(picture);
    return 0;
}
