// The demo's command line: the switches WINDOW and PACED, plus the help and
// version options a Linux user expects.
#pragma once

enum class Options { Run, Help, Version };

extern const char* const UsageText;

// `WINDOW` or `W` sets windowMode, `PACED` or `P` sets paced, in any case, one
// or both in either order. Anything else runs the demo unpaced on its own
// screen and says nothing.
Options ReadOptions(int argc, const char* const* argv, bool& windowMode, bool& paced);
