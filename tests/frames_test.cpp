// bumpwave-frames and bumpwave-view as programs: command lines, frames written, golden frames.
#include "files.h"
#include "subprocess.h"

#include <sstream>

// Runs `command`, split at spaces, in `folder`; its first word names bumpwave-WORD.
static RunResult Tool(const fs::path& folder, const std::string& command) {
    std::istringstream words("bumpwave-" + command);
    std::vector<std::string> argv;
    for (std::string w; words >> w;) argv.push_back(argv.empty() ? (BuildDir / w).native() : w);
    return RunProgram(argv, folder, {}, std::chrono::seconds(120));
}

using Frames = InFolder;

// Every scene's frames, pinned in tests/golden_frames.txt.
TEST_F(Frames, GoldenFramesOfEveryScene) {
    std::istringstream lines(Slurp(fs::path(BUMPWAVE_SOURCE_DIR) / "tests" / "golden_frames.txt"));
    std::string seed, times, save;
    std::vector<std::pair<std::string, uint64_t>> golden;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (first == "seed") words >> seed;
        if (first == "times") words >> times;
        if (first.empty() || first.find_first_not_of("0123456789") != std::string::npos) continue;
        char name[32];
        std::snprintf(name, sizeof name, "frame-%05d.ppm", std::stoi(first));
        golden.emplace_back(name, 0);
        words >> golden.back().second;
        save += (save.empty() ? "" : ",") + first;
    }
    ASSERT_EQ(golden.size(), 9u);
    Provide(Pictures);
    RunResult run = Tool(dir_, "frames --seed " + seed + " --times " + times + " --save " + save +
                                   " --out out");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const auto& [name, sum] : golden) { // FNV-1a
        uint64_t hash = 1469598103934665603u;
        for (unsigned char byte : Slurp(dir_ / "out" / name)) hash = (hash ^ byte) * 1099511628211u;
        EXPECT_EQ(hash, sum) << name << ": if a change was intended, pin the new checksum";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), {}), 9); // only those listed
    ASSERT_EQ(Tool(dir_, "frames --seed 7 --times 0x2 --out out").exitCode, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), {}), 11); // without a list, all
}

TEST_F(Frames, RefusedCommandLinesGetTheFirstLineOfHelpAndNoneMakesAFolder) {
    std::string usage;
    for (const std::string command :
         {"frames --help", "frames -h", "frames --seed 1 --times 0", "frames --times 0 --out x",
          "frames --seed 1 --times 0 --out", "frames --seed 1 --out x",
          "frames --seed x --times 0 --out x", "frames --seed 1 --times 1x2x3 --out x",
          "frames --seed 1 --times 4294967296 --out x", "frames --seed 1 --times 0, --out x",
          "frames --seed 1 --times 5x0 --out x", "frames --seed 1 --times 0 --save -1 --out x",
          "frames --seed 1 --seed 2 --times 0 --out x", "frames --seed 1 --times 0 --out x --v 1",
          "view --help", "view -h", "view --bad", "view dots --seconds x", "view --seconds"}) {
        RunResult run = Tool(dir_, command);
        const bool help = command.ends_with(" --help") || command.ends_with(" -h");
        if (help) usage = run.out.substr(0, run.out.find('\n') + 1);
        EXPECT_EQ(run.exitCode, help ? 0 : 2) << command;
        EXPECT_EQ((help ? usage : run.out) + run.err, usage) << command;
    }
    fs::copy_file(BuildDir / "bumpmap.png", dir_ / "bumpmap.png"); // and boys.jpg missing
    RunResult run = Tool(dir_, "frames --seed 1 --times 0 --out x");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Couldn't load boys.jpg\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
    fs::copy_file(BuildDir / "boys.jpg", dir_ / "boys.jpg"); // a file size limit: no cut frame
    run = RunProgram({"prlimit", "--fsize=500000", BuildDir / "bumpwave-frames", "--seed", "1",
                      "--times", "0", "--out", "o"},
                     dir_, {}, std::chrono::seconds(60));
    EXPECT_EQ(run.err, "bumpwave-frames: cannot write o/frame-00000.ppm: File too large\n");
    EXPECT_TRUE(run.exitCode == 1 && fs::is_empty(dir_ / "o"));
}
