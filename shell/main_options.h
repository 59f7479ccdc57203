// The demo's command line: the long options a Linux user types (--window,
// --paced, --rate N, --calm, --loop, --help, --version) beside the demo's own
// keywords (WINDOW, PACED, RATE n, CALM, LOOP).
#pragma once

#include <cstdint>
#include <optional>

enum class ParseResult { Run, Help, Version, BadNumber, Unknown };

struct DemoOptions {
    bool window;
    bool paced;
    int rate;                     // steps a second when paced
    bool calm;                    // a steady fade instead of the logo's flashing
    bool loop;                    // the show again when it ends, until stopped
    std::optional<unsigned> seed; // the first show's; else the clock's
    uint32_t startMs;             // where the first show starts
    const char* refused;          // the word a BadNumber or Unknown result names
    const char* takes;            // what a BadNumber's option takes
    const char* value;            // and the value it refused
};

extern const char* const UsageLine;
extern const char* const HelpText; // a format: %s, the folders searched after the current one

// `--window` or `-w`, `--paced` or `-p`, `--rate N` or `--rate=N` (24 to 240,
// which also paces), `--calm`, `--loop`, `--seed N` (0 to 4294967295),
// `--start SECONDS` (0 to 41, which also paces); `--help`, `-h` or `?`;
// `--version`. The keywords WINDOW, PACED, RATE n (RATE=n), CALM and LOOP,
// whole or by their first letter, in any case, do the same. Any order, repeats
// allowed, the last number wins. Anything else is refused: Unknown, with the
// word in `refused`; a number out of its range is BadNumber.
ParseResult ReadOptions(int argc, const char* const* argv, DemoOptions& options);
