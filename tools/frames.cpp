// bumpwave-frames: draws chosen moments of the demo without a display and
// writes them as PPM pictures.
//
//   bumpwave-frames --seed N (--times SPEC | --at MS,...) [--save I1,I2,...] [--calm] --out DIR
//   bumpwave-frames --scenes
//
// SPEC is a comma-separated list of V or VxK: K frames at V milliseconds. Frame
// i is drawn at the i-th time through the demo's own timeline, into one frame
// that persists from one to the next. With --at, frame i is the paced show's
// frame at the i-th moment, as a 60 fps recording has it. Frame i is saved as
// DIR/frame-%05d.ppm when i is listed in --save (every frame by default).
// Pictures are found as the demo finds them. --scenes lists the scenes.

#include "platform/files.h"
#include "platform/frame.h"
#include "shell/numbers.h"
#include "shell/pacing.h"
#include "shell/show.h"
#include "shell/timeline.h"
#include "tools/arguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

constexpr const char* Help =
    "usage: bumpwave-frames --seed N (--times SPEC | --at MS,...) [--save I1,I2,...] [--calm]\n"
    "                       --out DIR\n"
    "       bumpwave-frames --scenes\n"
    "\n"
    "Draws chosen moments of the demo without a display and writes them as PPM\n"
    "files. --at draws the show as it is at each moment (MS milliseconds into it),\n"
    "the frame bumpwave-record --fps 60 records there. SPEC lists V or VxK items:\n"
    "K frames drawn in turn at V milliseconds, one step of the show each.\n"
    "Frame i is saved as DIR/frame-%05d.ppm when i is listed in --save (default:\n"
    "all). N seeds the effects' random start. --calm draws the calm show, whose\n"
    "logo fades in and stays instead of flashing. bumpmap.png and boys.jpg are read\n"
    "from the current folder, or else from the build's or the installed data folder.\n"
    "--scenes lists the scenes: name, first and last millisecond.\n";

constexpr ToolOption Known[] = {
    {"seed", "a whole number from 0 to 4294967295"},
    {"times", "V or VxK items separated by commas (K frames at V ms, up to 10000000 in all)"},
    {"save", "frame numbers separated by commas"},
    {"out", "the name of a folder"},
    {"calm", nullptr},
    {"at", "moments in milliseconds from 0 to 40999, separated by commas"},
    {"scenes", nullptr},
};
enum { Seed, Times, Save, Out, Calm, At, ListScenes };

struct FrameArguments {
    unsigned seed = 0;
    bool calm = false, placed = false; // placed: --at
    std::vector<uint32_t> times;
    std::set<uint64_t> save; // empty: all
    std::string out;
};

static FrameArguments ReadArguments(int argc, char** argv) {
    FrameArguments arguments;
    uint64_t number = 0;
    const char* value = nullptr;
    bool seeded = false;
    for (int option; (option = NextOption(argc, argv, Known, Help, value)) >= 0;) {
        bool read = true;
        if (option == Seed) {
            read = seeded = ReadNumber(value, 0, UINT32_MAX, number);
            arguments.seed = static_cast<unsigned>(number);
        } else if (option == Times || option == At) {
            if (!arguments.times.empty()) RefuseCommandLine("--times or --at, not both");
            read = ReadTimes(value, arguments.times, option == At);
            arguments.placed = option == At;
        } else if (option == Calm) {
            arguments.calm = true;
        } else if (option == ListScenes) {
            for (const SceneSpan& s : Scenes)
                std::printf("%s %u %u\n", s.name, s.firstMs, std::min(s.lastMs, DemoLengthMs - 1));
            std::exit(0);
        } else if (option == Save) {
            read = ReadSave(value, arguments.save);
        } else {
            read = *value != '\0';
            arguments.out = value;
        }
        if (!read) Refuse(Known[option], value);
    }
    if (optind < argc) RefuseCommandLine((std::string(argv[optind]) + " is not an option").c_str());
    if (!seeded || arguments.times.empty() || arguments.out.empty())
        RefuseCommandLine("--seed, --times or --at, and --out are needed");
    if (!arguments.save.empty() && *arguments.save.rbegin() >= arguments.times.size())
        RefuseCommandLine(("--save names frame " + std::to_string(*arguments.save.rbegin()) +
                           ", which is never drawn: frames 0 to " +
                           std::to_string(arguments.times.size() - 1) + " are")
                              .c_str());
    return arguments;
}

// Binary PPM from the 0x00RRGGBB words, written whole or not at all, so that
// a full disk or a stop leaves no cut frame.
static bool WritePpm(const std::string& path, const Frame* frame) {
    std::string ppm =
        "P6\n" + std::to_string(FrameWidth) + " " + std::to_string(FrameHeight) + "\n255\n";
    ppm.reserve(ppm.size() + 3 * FrameWidth * FrameHeight);
    for (int y = 0; y < FrameHeight; ++y)
        for (int x = 0; x < FrameWidth; ++x) {
            const uint32_t word = frame->pixels[y * (frame->bytesPerRow / 4) + x];
            ppm += {static_cast<char>(word >> 16), static_cast<char>(word >> 8),
                    static_cast<char>(word)};
        }
    const int descriptor = CreateAtomicFile(path.c_str());
    if (descriptor < 0) return false;
    std::FILE* file = fdopen(descriptor, "wb");
    bool written = file && std::fwrite(ppm.data(), 1, ppm.size(), file) == ppm.size();
    written = (file ? std::fclose(file) : close(descriptor)) == 0 && written &&
              CommitAtomicFile(path.c_str());
    if (!written) DropAtomicFile();
    return written;
}

static int Capture(const FrameArguments& arguments, Frame* frame) {
    std::error_code error;
    std::filesystem::create_directory(arguments.out, error);
    if (!std::filesystem::is_directory(arguments.out, error)) {
        Complain("cannot use %s as the output folder", arguments.out.c_str());
        return 1;
    }
    for (size_t i = 0; i < arguments.times.size(); ++i) {
        uint32_t ms = arguments.times[i];
        if (arguments.placed) {
            const uint32_t step = StepAt(ms, DefaultStepRate);
            PlaceShow(step, DefaultStepRate);
            ms = StepMilliseconds(step, DefaultStepRate);
        }
        AdvanceShow(ms, DrawShow(frame, ms, BumpPicture, LogoPicture));
        if (!arguments.save.empty() && !arguments.save.count(i)) continue;
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%05zu.ppm", i);
        if (!WritePpm(arguments.out + name, frame)) {
            Complain("cannot write %s%s: %s", arguments.out.c_str(), name, std::strerror(errno));
            return 1;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    ProgramName = "bumpwave-frames";
    const FrameArguments arguments = ReadArguments(argc, argv);
    CatchStopSignals([](int signal) {
        RemoveAtomicFileNow();
        EndBySignal(signal);
    });
    Frame* frame = AllocateFrame(FrameWidth, FrameHeight);
    int status = 1;
    if (!frame)
        Complain("not enough memory for the frame");
    else if (LoadShow(arguments.seed, arguments.calm))
        status = Capture(arguments, frame);
    FreeShow();
    FreeFrame(frame);
    return status;
}
