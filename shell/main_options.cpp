#include "shell/main_options.h"

#include "shell/numbers.h"
#include "shell/pacing.h"
#include "shell/timeline.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <strings.h>

const char* const UsageLine = "usage: bumpwave [--window] [--paced] [--rate N] [--calm] [--loop] "
                              "[--seed N] [--start SECONDS]\n";

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
    "      --seed N   the show of seed N (0 to 4294967295), which a show says at\n"
    "                 its end; without it, a new one each time\n"
    "      --start S  paced, from S seconds into the show (0 to 41), its music too\n"
    "  -h, --help     this text\n"
    "      --version  the version\n"
    "\n"
    "The keywords WINDOW, PACED, RATE n, CALM and LOOP, or their first letters, in\n"
    "any case, do the same: bumpwave p w is bumpwave --paced --window.\n"
    "Escape, q or closing the window ends the show at once, as Ctrl+C does;\n"
    "Space pauses and resumes picture and music; F11 toggles full screen. Paced,\n"
    "Left and Right go 5 s back and forward, Home to the start, 0 to 9 to that\n"
    "tenth of the show, and while paused , and . one step back and forward.\n";

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

// The options that take a number: their names, keyword, range and what the
// refusal says they take.
struct NumberOption {
    const char* name;
    const char* keyword; // or nullptr
    double min, max;
    bool whole;
    const char* takes;
};
constexpr NumberOption Numbers[] = {
    {"--rate", "RATE", MinStepRate, MaxStepRate, true, "a whole number from 24 to 240"},
    {"--seed", nullptr, 0, UINT32_MAX, true, "a whole number from 0 to 4294967295"},
    {"--start", nullptr, 0, DemoLengthMs / 1000, false, "a number of seconds from 0 to 41"},
};

// The option a word names, with its value after an equals sign if it has one.
static const NumberOption* NumberOptionOf(const char* word, const char*& value) {
    const char* equals = std::strchr(word, '=');
    const std::string name = equals ? std::string(word, equals) : std::string(word);
    value = equals ? equals + 1 : nullptr;
    for (const NumberOption& option : Numbers)
        if (name == option.name || (option.keyword && IsKeyword(name.c_str(), option.keyword)))
            return &option;
    return nullptr;
}

ParseResult ReadOptions(int argc, const char* const* argv, DemoOptions& options) {
    options = {};
    options.rate = DefaultStepRate;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (IsAny(word, {"--help", "-h", "?"})) return ParseResult::Help;
        if (IsAny(word, {"--version"})) return ParseResult::Version;
        const char* value = nullptr;
        if (const NumberOption* option = NumberOptionOf(word, value)) {
            if (!value && i + 1 < argc) value = argv[++i];
            double number = 0;
            if (!value || !ReadNumber(value, option->min, option->max, number) ||
                (option->whole && std::strchr(value, '.'))) {
                options.refused = word[0] == '-' ? option->name : option->keyword;
                options.takes = option->takes;
                options.value = value;
                return ParseResult::BadNumber;
            }
            if (option == &Numbers[0]) options.rate = static_cast<int>(number);
            if (option == &Numbers[1]) options.seed = static_cast<unsigned>(number);
            if (option == &Numbers[2]) options.startMs = static_cast<uint32_t>(number * 1000);
            options.paced = options.paced || option != &Numbers[1];
            continue;
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
