#include "shell/main_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// WINDOW and PACED, each once, in any case and order, by name or first letter;
// any other line runs the demo unpaced on its own screen.
TEST(Options, TheSwitchesAndNothingElse) {
    const struct {
        std::vector<const char*> words;
        Options asked;
        bool window, paced;
    } cases[] = {
        {{}, Options::Run, false, false},
        {{"WINDOW"}, Options::Run, true, false},
        {{"w"}, Options::Run, true, false},
        {{"Paced"}, Options::Run, false, true},
        {{"PACED", "WINDOW"}, Options::Run, true, true},
        {{"w", "p"}, Options::Run, true, true},
        {{"p", "pace"}, Options::Run, false, false},
        {{"window", "paced", "w"}, Options::Run, false, false},
        {{""}, Options::Run, false, false},
        {{"--help"}, Options::Help, false, false},
        {{"?"}, Options::Help, false, false},
        {{"--version"}, Options::Version, false, false},
        {{"--version", "--help"}, Options::Run, false, false},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"bumpwave"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        SCOPED_TRACE(testing::PrintToString(c.words));
        bool window = true, paced = true;
        EXPECT_EQ(ReadOptions(static_cast<int>(argv.size()), argv.data(), window, paced), c.asked);
        EXPECT_EQ(window, c.window);
        EXPECT_EQ(paced, c.paced);
    }
}
