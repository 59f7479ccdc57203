// bumpwave-frames: draws chosen moments of the demo without a display and
// writes them as PPM pictures.
//
//   bumpwave-frames --seed N --times SPEC [--save I1,I2,...] --out DIR
//
// SPEC is a comma-separated list of V or VxK: K frames at V milliseconds. Frame
// i is drawn at the i-th time through the demo's own timeline, into one frame
// that persists from one to the next, and saved as DIR/frame-%05d.ppm when i is
// listed in --save (every frame by default). Pictures come from the current
// directory, as for the demo.

#include "assets/picture.h"
#include "effects/tables.h"
#include "platform/frame.h"
#include "shell/timeline.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

constexpr const char* Usage =
    "usage: bumpwave-frames --seed N --times SPEC [--save I1,I2,...] --out DIR\n";
constexpr const char* Help =
    "\n"
    "Draws chosen moments of the demo without a display and writes them as PPM\n"
    "files. SPEC lists V or VxK items: K frames at V milliseconds into the demo.\n"
    "Frame i is saved as DIR/frame-%05d.ppm when i is listed in --save (default:\n"
    "all). N seeds the effects' random start. bumpmap.png and boys.jpg are read\n"
    "from the current folder, or else from the installed data folder.\n";
constexpr uint64_t MaxFrames = 10'000'000; // a bound, so a typo cannot run for days

struct Options {
    unsigned seed = 0;
    std::vector<uint32_t> times;
    bool saveAll = true;
    std::set<uint64_t> save;
    std::string out;
};

// A decimal number no larger than `max`, ending at *end.
static bool ParseNumber(const char*& text, uint64_t max, uint64_t& value) {
    if (*text < '0' || *text > '9') return false;
    value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10 + static_cast<uint64_t>(*text++ - '0');
        if (value > max) return false;
    }
    return true;
}

static bool ParseTimes(const char* text, std::vector<uint32_t>& times) {
    for (;;) {
        uint64_t time = 0, count = 1;
        if (!ParseNumber(text, UINT32_MAX, time)) return false;
        if (*text == 'x' && !ParseNumber(++text, MaxFrames, count)) return false;
        if (count == 0 || times.size() + count > MaxFrames) return false;
        times.insert(times.end(), count, static_cast<uint32_t>(time));
        if (*text == '\0') return true;
        if (*text++ != ',') return false;
    }
}

static bool ParseSave(const char* text, std::set<uint64_t>& save) {
    for (;;) {
        uint64_t index = 0;
        if (!ParseNumber(text, UINT32_MAX, index)) return false;
        save.insert(index);
        if (*text == '\0') return true;
        if (*text++ != ',') return false;
    }
}

static bool ParseArguments(int argc, char** argv, Options& options) {
    bool seed = false, times = false, out = false, save = false;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) return false;
        const char* name = argv[i];
        const char* value = argv[i + 1];
        uint64_t number = 0;
        if (!std::strcmp(name, "--seed") && !seed) {
            seed = ParseNumber(value, UINT32_MAX, number) && *value == '\0';
            options.seed = static_cast<unsigned>(number);
            if (!seed) return false;
        } else if (!std::strcmp(name, "--times") && !times) {
            if (!(times = ParseTimes(value, options.times))) return false;
        } else if (!std::strcmp(name, "--save") && !save) {
            if (!(save = ParseSave(value, options.save))) return false;
            options.saveAll = false;
        } else if (!std::strcmp(name, "--out") && !out && *value) {
            options.out = value;
            out = true;
        } else {
            return false;
        }
    }
    return seed && times && out;
}

// Binary PPM from the 0x00RRGGBB words.
static bool WritePpm(const std::string& path, const Frame* frame) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    std::fprintf(file, "P6\n%d %d\n255\n", FrameWidth, FrameHeight);
    unsigned char row[FrameWidth * 3];
    for (int y = 0; y < FrameHeight; ++y) {
        const uint32_t* words = frame->pixels + y * (frame->bytesPerRow / 4);
        for (int x = 0; x < FrameWidth; ++x) {
            row[3 * x] = static_cast<unsigned char>(words[x] >> 16);
            row[3 * x + 1] = static_cast<unsigned char>(words[x] >> 8);
            row[3 * x + 2] = static_cast<unsigned char>(words[x]);
        }
        std::fwrite(row, 1, sizeof row, file);
    }
    bool written = !std::ferror(file);
    return std::fclose(file) == 0 && written;
}

static bool MakeFolder(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    return mkdir(path.c_str(), 0777) == 0;
}

static int Capture(const Options& options, Frame* frame, const uint32_t* bump,
                   const uint32_t* logo) {
    if (!MakeFolder(options.out)) {
        std::fprintf(stderr, "bumpwave-frames: cannot use %s as the output folder\n",
                     options.out.c_str());
        return 1;
    }
    for (size_t i = 0; i < options.times.size(); ++i) {
        RenderScene(frame, options.times[i], bump, logo);
        if (!options.saveAll && !options.save.count(i)) continue;
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%05zu.ppm", i);
        if (!WritePpm(options.out + name, frame)) {
            std::fprintf(stderr, "bumpwave-frames: cannot write %s%s: %s\n", options.out.c_str(),
                         name, std::strerror(errno));
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("%s%s", Usage, Help);
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::puts("bumpwave-frames " BUMPWAVE_VERSION);
        return 0;
    }
    if (!ParseArguments(argc, argv, options)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    uint32_t* bump = nullptr;
    uint32_t* logo = nullptr;
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    int status = 1;
    if (!frame) {
        std::fputs("bumpwave-frames: not enough memory for the frame\n", stderr);
    } else if (LoadPicture("bumpmap.png", &bump) && LoadPicture("boys.jpg", &logo)) {
        if (InitEffects(options.seed))
            status = Capture(options, frame, bump, logo);
        else
            std::fputs("bumpwave-frames: not enough memory for the tables\n", stderr);
    }
    FreeWaveTables();
    std::free(bump);
    std::free(logo);
    FreeFrame(frame);
    return status;
}
