// The tools' command lines: options read through getopt_long, and refusals
// that name the option and the value and say what it takes, ending with
// status 2. Their numbers are read as the demo's (shell/numbers.h).
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <vector>

struct ToolOption {
    const char* name;  // without its "--"
    const char* takes; // what the value must be, as the refusals say it; nullptr: a switch
};

// Reads the next option of `options` from the command line, points `value`
// at its value and returns its index; -1 after the last, with the words that
// are not options from optind on. Answers -h and --help with `help` and
// --version with the program's version, and ends; refuses an option it does
// not know, one without its value and one given twice.
int NextOption(int argc, char** argv, std::span<const ToolOption> options, const char* help,
               const char*& value);

// "PROGRAM: --NAME takes WHAT, not VALUE", and the end with status 2.
[[noreturn]] void Refuse(const ToolOption& option, const char* value);

// "PROGRAM: WHAT (see --help)", and the end with status 2.
[[noreturn]] void RefuseCommandLine(const char* what);

constexpr uint64_t MaxFrames = 10'000'000; // a bound, so a typo cannot run for days

// bumpwave-frames' --times, V or VxK items separated by commas (K frames at V
// milliseconds), added to `times`, or with `placed` its --at, moments of the
// visuals without repeats; and its --save, frame numbers separated by commas.
// False for anything else, an empty text included.
bool ReadTimes(const char* text, std::vector<uint32_t>& times, bool placed = false);
bool ReadSave(const char* text, std::set<uint64_t>& save);
