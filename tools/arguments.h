// The tools' command lines: options read through getopt_long, and refusals
// that name the option and the value and say what it takes, ending with
// status 2. Their numbers are read as the demo's (shell/numbers.h).
#pragma once

#include <span>

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
