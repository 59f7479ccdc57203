// The demo's command line: the template "WINDOW=W/S/K", plus the help and
// version options a Linux user expects.
#pragma once

enum class Options { Run, Help, Version };

extern const char* const UsageText;

// `WINDOW` or `W`, in any case, sets windowMode. Anything else the template
// does not accept runs the demo on its own screen and says nothing.
Options ReadOptions(int argc, const char* const* argv, bool& windowMode);
