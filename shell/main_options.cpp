#include "shell/main_options.h"

#include "shell/pacing.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <strings.h>

const char* const UsageLine = "usage: bumpwave [--window] [--paced] [--rate N] [--calm] [--loop]\n";

const char* const HelpText =
    "\n"
    "A 41-second software demo: three coloured lights over a bump-mapped picture,\n"
    "a plasma that fades in and out, a rippling grid of dots and a flashing logo,\n"
    "with music. It reads \"bumpmap.png\" (640 x 480), \"boys.jpg\" (320 x 200;\n"
    "pixels not fully opaque, and colours 0xF0F0F0 and above such as white, are\n"
    "transparent) and \"testing.ogg\" from the current folder, or else from\n"
    "%s.\n"
    "\n"
    "Warning: around 31 s and 39 s the logo flashes on and off about 10 times a\n"
    "second, which can trigger seizures in photosensitive viewers; --calm replaces\n"
    "the flashing with a steady fade.\n"
    "\n"
    "  -w, --window   in a window instead of filling the screen\n"
    "  -p, --paced    60 steps a second, the same on every display, as it is meant\n"
    "                 to be watched: each step is drawn at the refresh after it is\n"
    "                 due, and a late frame skips the steps it missed, so that the\n"
    "                 motion keeps its speed; without it every frame is drawn as\n"
    "                 fast as possible and the rate it prints is the score\n"
    "      --rate N   paced at N steps a second, 24 to 240 (never more than the\n"
    "                 display refreshes); --rate=N too\n"
    "      --calm     no flashing: the logo fades in over half a second and stays\n"
    "      --loop     the show again and again, each with its music from the start,\n"
    "                 until stopped\n"
    "  -h, --help     this text\n"
    "      --version  the version\n"
    "\n"
    "The keywords WINDOW, PACED, RATE n, CALM and LOOP, or their first letters, in\n"
    "any case, do the same: bumpwave p w is bumpwave --paced --window.\n"
    "Escape, q or closing the window ends the show at once, as Ctrl+C does;\n"
    "Space pauses and resumes picture and music; F11 toggles full screen.\n";

static bool IsAny(const char* word, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (!std::strcmp(word, name)) return true;
    return false;
}

// A keyword, whole or by its first letter, in any case.
static bool IsKeyword(const char* word, const char* name) {
    return !strcasecmp(word, name) || (word[0] && !word[1] && !strncasecmp(word, name, 1));
}

static bool IsOption(const char* word, const char* longName, const char* shortName,
                     const char* keyword) {
    return IsAny(word, {longName, shortName}) || IsKeyword(word, keyword);
}

// "--rate=N", "RATE=n" or "R=n": the number after the equals sign, else nullptr.
static const char* RateAfterEquals(const char* word) {
    const char* equals = std::strchr(word, '=');
    if (!equals) return nullptr;
    std::string name(word, equals);
    return name == "--rate" || IsKeyword(name.c_str(), "RATE") ? equals + 1 : nullptr;
}

// A whole decimal number in range, all of the word; 0 otherwise.
static int ReadRate(const char* text) {
    char* end = nullptr;
    errno = 0;
    long rate = std::strtol(text, &end, 10);
    bool whole = end != text && *end == '\0' && errno == 0 &&
                 std::isdigit(static_cast<unsigned char>(*text));
    return whole && rate >= MinStepRate && rate <= MaxStepRate ? static_cast<int>(rate) : 0;
}

ParseResult ReadOptions(int argc, const char* const* argv, DemoOptions& options) {
    options = {false, false, DefaultStepRate, false, false, nullptr, nullptr};
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (IsAny(word, {"--help", "-h", "?"})) return ParseResult::Help;
        if (IsAny(word, {"--version"})) return ParseResult::Version;
        const char* number = RateAfterEquals(word);
        if (number || IsOption(word, "--rate", "--rate", "RATE")) {
            if (!number && i + 1 < argc) number = argv[++i];
            options.paced = true;
            options.rate = number ? ReadRate(number) : 0;
            if (options.rate) continue;
            options.refused = word[0] == '-' ? "--rate" : "RATE";
            options.badRate = number;
            return ParseResult::BadRate;
        }
        bool* flag = IsOption(word, "--window", "-w", "WINDOW")   ? &options.window
                     : IsOption(word, "--paced", "-p", "PACED")   ? &options.paced
                     : IsOption(word, "--calm", "--calm", "CALM") ? &options.calm
                     : IsOption(word, "--loop", "--loop", "LOOP") ? &options.loop
                                                                  : nullptr;
        if (!flag) {
            options.refused = word;
            return ParseResult::Unknown;
        }
        *flag = true;
    }
    return ParseResult::Run;
}
