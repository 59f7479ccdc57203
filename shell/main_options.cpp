#include "shell/main_options.h"

#include <cstring>
#include <initializer_list>
#include <strings.h>

const char* const UsageText =
    "usage: bumpwave [PACED] [WINDOW]\n"
    "\n"
    "A 41-second software demo: three coloured lights over a bump-mapped picture,\n"
    "a plasma that fades in and out, a rippling grid of dots and a flashing logo,\n"
    "with music. It reads \"bumpmap.png\" (640 x 480), \"boys.jpg\" (320 x 200;\n"
    "pixels not fully opaque, and colours 0xF0F0F0 and above such as white, are\n"
    "transparent) and \"testing.ogg\" from the current folder.\n"
    "\n"
    "  PACED   one frame per display refresh, as it is meant to be watched; without\n"
    "          it every frame is drawn as fast as possible and the rate is the score\n"
    "  WINDOW  in a 640 x 480 window instead of a screen of its own\n"
    "\n"
    "Either switch may be shortened to its first letter, in any case.\n"
    "\n"
    "Template: WINDOW=W/S/K\n";

static bool IsAny(const char* word, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (!std::strcmp(word, name)) return true;
    return false;
}

static bool IsSwitch(const char* word, const char* name) {
    return !strcasecmp(word, name) || (word[0] && !word[1] && !strncasecmp(word, name, 1));
}

Options ReadOptions(int argc, const char* const* argv, bool& windowMode, bool& paced) {
    windowMode = paced = false;
    if (argc == 2 && IsAny(argv[1], {"--help", "-h", "?"})) return Options::Help;
    if (argc == 2 && IsAny(argv[1], {"--version"})) return Options::Version;
    if (argc < 2 || argc > 3) return Options::Run;
    bool window = false, pace = false;
    for (int i = 1; i < argc; ++i) {
        bool isWindow = IsSwitch(argv[i], "WINDOW"), isPaced = IsSwitch(argv[i], "PACED");
        // Each switch once; anything else and the line is taken as none.
        if ((!isWindow && !isPaced) || (isWindow && window) || (isPaced && pace))
            return Options::Run;
        window |= isWindow;
        pace |= isPaced;
    }
    windowMode = window;
    paced = pace;
    return Options::Run;
}
