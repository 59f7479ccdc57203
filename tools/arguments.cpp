#include "tools/arguments.h"

#include "platform/files.h"
#include "shell/numbers.h"
#include "shell/timeline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>
#include <vector>

// getopt_long's codes for the tools' own options start here, above any letter.
constexpr int FirstOptionCode = 256;
constexpr int VersionCode = 255;

// getopt_long takes any unambiguous start of a name (--v for --version); the
// tools take whole names only, so that a typo is never another option.
static void RefuseAbbreviations(int argc, char** argv, std::span<const ToolOption> options) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strncmp(argv[i], "--", 2) != 0) continue;
        const std::string name(argv[i] + 2, std::strcspn(argv[i] + 2, "="));
        bool takesValue = false, known = name == "help" || name == "version";
        for (const ToolOption& o : options) {
            takesValue = takesValue || (name == o.name && o.takes);
            known = known || name == o.name;
        }
        if (takesValue && !std::strchr(argv[i], '=')) ++i; // its value, whatever it looks like
        if (!known) RefuseCommandLine((std::string(argv[i]) + " is not an option").c_str());
    }
}

int NextOption(int argc, char** argv, std::span<const ToolOption> options, const char* help,
               const char*& value) {
    static std::vector<option> known;
    static std::vector<bool> given;
    if (known.empty()) {
        RefuseAbbreviations(argc, argv, options);
        for (size_t i = 0; i < options.size(); ++i)
            known.push_back({options[i].name, options[i].takes ? required_argument : no_argument,
                             nullptr, FirstOptionCode + static_cast<int>(i)});
        known.push_back({"help", no_argument, nullptr, 'h'});
        known.push_back({"version", no_argument, nullptr, VersionCode});
        known.push_back({});
        given.assign(options.size(), false);
    }
    opterr = 0; // the refusals below say it better
    int code = getopt_long(argc, argv, ":h", known.data(), nullptr);
    if (code == -1) return -1;
    if (code == 'h') {
        std::fputs(help, stdout);
        std::exit(0);
    }
    if (code == VersionCode) {
        std::printf("%s %s\n", ProgramName, BUMPWAVE_VERSION);
        std::exit(0);
    }
    if (code == ':' && optopt >= FirstOptionCode) {
        Complain("--%s takes %s, and none is given", options[optopt - FirstOptionCode].name,
                 options[optopt - FirstOptionCode].takes);
        std::exit(2);
    }
    if (code < FirstOptionCode) {
        // A letter of a word of them (-zz), or a whole word.
        std::string word = optopt ? std::string{'-', static_cast<char>(optopt)} : argv[optind - 1];
        RefuseCommandLine((word + " is not an option").c_str());
    }
    const size_t index = static_cast<size_t>(code - FirstOptionCode);
    if (given[index]) {
        Complain("--%s is given twice, once is enough", options[index].name);
        std::exit(2);
    }
    given[index] = true;
    value = optarg;
    return static_cast<int>(index);
}

void Refuse(const ToolOption& option, const char* value) {
    Complain("--%s takes %s, not %s", option.name, option.takes, *value ? value : "an empty value");
    std::exit(2);
}

void RefuseCommandLine(const char* what) {
    Complain("%s (see --help)", what);
    std::exit(2);
}

bool ReadTimes(const char* text, std::vector<uint32_t>& times, bool placed) {
    for (;;) {
        uint64_t time = 0, count = 1;
        if (!(text = ReadLeadingNumber(text, 0, placed ? DemoLengthMs - 1 : UINT32_MAX, time)))
            return false;
        if (*text == 'x' && (placed || !(text = ReadLeadingNumber(text + 1, 0, MaxFrames, count))))
            return false;
        if (count == 0 || times.size() + count > MaxFrames) return false;
        times.insert(times.end(), count, static_cast<uint32_t>(time));
        if (*text == '\0') return true;
        if (*text++ != ',') return false;
    }
}

bool ReadSave(const char* text, std::set<uint64_t>& save) {
    for (;;) {
        uint64_t index = 0;
        if (!(text = ReadLeadingNumber(text, 0, UINT32_MAX, index))) return false;
        save.insert(index);
        if (*text == '\0') return true;
        if (*text++ != ',') return false;
    }
}
