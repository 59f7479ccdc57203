// The demo's command line: the switches WINDOW and PACED and the number RATE,
// plus the help and version options a Linux user expects.
#pragma once

enum class Options { Run, Help, Version, BadRate };

struct DemoOptions {
    bool window;
    bool paced;
    int rate; // steps a second when paced
};

extern const char* const UsageText;

// `WINDOW` or `W` sets window, `PACED` or `P` sets paced, `RATE n`, `RATE=n`,
// `R n` or `R=n` sets rate (24 to 240) and paced; in any case, each once, in
// any order. A RATE without such a number is refused; anything else runs the
// demo unpaced on its own screen and says nothing.
Options ReadOptions(int argc, const char* const* argv, DemoOptions& options);
