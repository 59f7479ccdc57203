#include "shell/main_options.h"

#include <cstring>
#include <initializer_list>
#include <strings.h>

const char* const UsageText =
    "usage: bumpwave [WINDOW]\n"
    "\n"
    "A 41-second software demo: three coloured lights over a bump-mapped picture,\n"
    "a plasma that fades in and out, a rippling grid of dots and a flashing logo,\n"
    "with music. It runs on a screen of its own, or in a 640 x 480 window with\n"
    "WINDOW (or W, in any case). It reads \"bumpmap.png\" (640 x 480), \"boys.jpg\"\n"
    "(320 x 200; white is transparent) and \"testing.ogg\" from the current folder.\n"
    "\n"
    "Template: WINDOW=W/S/K\n";

static bool IsAny(const char* word, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (!std::strcmp(word, name)) return true;
    return false;
}

Options ReadOptions(int argc, const char* const* argv, bool& windowMode) {
    windowMode = false;
    if (argc != 2) return Options::Run;
    const char* word = argv[1];
    if (IsAny(word, {"--help", "-h", "?"})) return Options::Help;
    if (IsAny(word, {"--version"})) return Options::Version;
    windowMode = !strcasecmp(word, "WINDOW") || !strcasecmp(word, "W");
    return Options::Run;
}
