// The demo's command line: the long options a Linux user types (--window,
// --paced, --rate N, --calm, --loop, --help, --version) beside the demo's own
// keywords (WINDOW, PACED, RATE n, CALM, LOOP).
#pragma once

enum class ParseResult { Run, Help, Version, BadRate, Unknown };

struct DemoOptions {
    bool window;
    bool paced;
    int rate;            // steps a second when paced
    bool calm;           // a steady fade instead of the logo's flashing
    bool loop;           // the show again when it ends, until stopped
    const char* refused; // what a BadRate or Unknown result names
    const char* badRate; // the rate a BadRate result refuses; nullptr where none is given
};

extern const char* const UsageLine;
extern const char* const HelpText; // a format: %s, the folders searched after the current one

// `--window` or `-w`, `--paced` or `-p`, `--rate N` or `--rate=N` (24 to 240,
// which also paces), `--calm`, `--loop`; `--help`, `-h` or `?`; `--version`.
// The keywords WINDOW, PACED, RATE n (RATE=n), CALM and LOOP, whole or by their
// first letter, in any case, do the same. Any order, repeats allowed, the last
// rate wins. Anything else is refused: Unknown, with the word in `refused`; a
// rate without a whole number from 24 to 240 is BadRate, with the option in
// `refused` and what was given in `badRate`.
ParseResult ReadOptions(int argc, const char* const* argv, DemoOptions& options);
