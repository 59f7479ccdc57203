#include "shell/main_options.h"

#include "shell/pacing.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <strings.h>

const char* const UsageText =
    "usage: bumpwave [PACED] [WINDOW] [RATE n]\n"
    "\n"
    "A 41-second software demo: three coloured lights over a bump-mapped picture,\n"
    "a plasma that fades in and out, a rippling grid of dots and a flashing logo,\n"
    "with music. It reads \"bumpmap.png\" (640 x 480), \"boys.jpg\" (320 x 200;\n"
    "pixels not fully opaque, and colours 0xF0F0F0 and above such as white, are\n"
    "transparent) and \"testing.ogg\" from the current folder, or else from the\n"
    "installed data folder.\n"
    "\n"
    "  PACED   60 steps a second, the same on every display, as it is meant to be\n"
    "          watched; without it every frame is drawn as fast as possible and the\n"
    "          rate is the score\n"
    "  WINDOW  in a window instead of a screen of its own\n"
    "  RATE n  paced at n steps a second, 24 to 240 (never more than the display\n"
    "          refreshes)\n"
    "\n"
    "Each may be shortened to its first letter, in any case (RATE=n too).\n"
    "Escape, q or closing the window ends the show at once, as Ctrl+C does;\n"
    "F11 toggles full screen.\n"
    "\n"
    "Template: WINDOW=W/S,PACED=P/S,RATE=R/K/N\n";

static bool IsAny(const char* word, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (!std::strcmp(word, name)) return true;
    return false;
}

static bool IsSwitch(const char* word, const char* name) {
    return !strcasecmp(word, name) || (word[0] && !word[1] && !strncasecmp(word, name, 1));
}

// "RATE=n" or "R=n": the number after the equals sign, else nullptr.
static const char* RateAfterEquals(const char* word) {
    const char* equals = std::strchr(word, '=');
    if (!equals) return nullptr;
    std::string name(word, equals);
    return IsSwitch(name.c_str(), "RATE") ? equals + 1 : nullptr;
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

Options ReadOptions(int argc, const char* const* argv, DemoOptions& options) {
    options = {false, false, DefaultStepRate};
    if (argc == 2 && IsAny(argv[1], {"--help", "-h", "?"})) return Options::Help;
    if (argc == 2 && IsAny(argv[1], {"--version"})) return Options::Version;
    int stepRate = DefaultStepRate;
    bool window = false, paced = false, rate = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        const char* number = RateAfterEquals(word);
        bool isRate = number || IsSwitch(word, "RATE");
        bool isWindow = !isRate && IsSwitch(word, "WINDOW");
        bool isPaced = !isRate && IsSwitch(word, "PACED");
        // Each once; anything else and the line is taken as none.
        if ((!isWindow && !isPaced && !isRate) || (isWindow && window) || (isPaced && paced) ||
            (isRate && rate))
            return Options::Run;
        window |= isWindow;
        paced |= isPaced;
        rate |= isRate;
        if (!isRate) continue;
        if (!number && i + 1 < argc) number = argv[++i];
        if (!number || !(stepRate = ReadRate(number))) return Options::BadRate;
    }
    options = {window, paced || rate, stepRate};
    return Options::Run;
}
