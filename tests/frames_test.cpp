// bumpwave-frames, run as a program: its command line (and bumpwave-view's),
// its output files, and golden frames of every scene, pinned by checksum so that
// a change of a single pixel anywhere in the effects, the timeline or the
// default pictures shows.
#include "subprocess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Frames : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch = fs::temp_directory_path() /
                  ("bumpwave-frames-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(scratch);
        fs::create_directories(scratch);
    }
    void TearDown() override { fs::remove_all(scratch); }

    // Runs the tool in `folder` with `arguments`, split at spaces.
    RunResult RunTool(const std::string& arguments, const fs::path& folder = BUMPWAVE_BUILD_DIR) {
        std::vector<std::string> argv{std::string(BUMPWAVE_BUILD_DIR) + "/bumpwave-frames"};
        std::istringstream words(arguments);
        for (std::string word; words >> word;) argv.push_back(word);
        return RunProgram(argv, folder.string(), {}, std::chrono::seconds(120));
    }

    // The FNV-1a checksum of every file written to out/.
    std::map<std::string, uint64_t> Saved() const {
        std::map<std::string, uint64_t> saved;
        for (const auto& entry : fs::directory_iterator(scratch / "out")) {
            std::ifstream file(entry.path(), std::ios::binary);
            uint64_t hash = 1469598103934665603ull;
            for (auto it = std::istreambuf_iterator<char>(file); it != decltype(it)(); ++it)
                hash = (hash ^ static_cast<unsigned char>(*it)) * 1099511628211ull;
            saved[entry.path().filename().string()] = hash;
        }
        return saved;
    }

    fs::path scratch;
};

} // namespace

// One frame of every scene, and the frames the flashes and fades turn on; only
// the listed frames are written, and without a list every frame is.
TEST_F(Frames, GoldenFramesOfEveryScene) {
    const std::map<std::string, uint64_t> golden = {
        {"frame-00029.ppm", 5491144785031062465ull},  // bump lights
        {"frame-00069.ppm", 12265650754689304837ull}, // fade-in, 40 frames in
        {"frame-00099.ppm", 15550015085161742778ull}, // plasma with dots
        {"frame-00102.ppm", 451241982384113397ull},   // first flash, picture off
        {"frame-00104.ppm", 8712680450267703635ull},  // first flash, picture on
        {"frame-00117.ppm", 10288462544744830770ull}, // plasma with picture
        {"frame-00121.ppm", 13640893846074266107ull}, // second flash: on at its fourth frame
        {"frame-00200.ppm", 9409504005281790249ull},  // fade-out, 76 frames in
        {"frame-00264.ppm", 7178910433038176155ull},  // fade-out settled: black
    };
    const std::string out = " --out " + (scratch / "out").string();
    RunResult run = RunTool("--seed 2026 --times 0x30,13751x40,20001x30,31001x8,32001x10,38001x7,"
                            "39001x140 --save 29,69,99,102,104,117,121,200,264" +
                            out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Saved(), golden) << "if a change was intended, pin the new checksums";
    ASSERT_EQ(RunTool("--seed 7 --times 0x2" + out).exitCode, 0);
    EXPECT_EQ(Saved().size(), golden.size() + 2);
}

TEST_F(Frames, BadArgumentsGetTheUsageLineAndExitCode2) {
    const std::string usage =
        "usage: bumpwave-frames --seed N --times SPEC [--save I1,I2,...] --out DIR\n";
    for (std::string arguments :
         {"", "--seed 1 --times 0", "--times 0 --out x", "--seed x --times 0 --out x",
          "--seed 1 --times 0, --out x", "--seed 1 --times 5x0 --out x",
          "--seed 1 --times 1x2x3 --out x", "--seed 1 --times 4294967296 --out x",
          "--seed 1 --times 0 --save -1 --out x", "--seed 1 --seed 2 --times 0 --out x",
          "--seed 1 --times 0 --out x --verbose", "--seed 1 --times 0 --out"}) {
        RunResult run = RunTool(arguments, scratch);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_EQ(run.err, usage) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
    }
    EXPECT_FALSE(fs::exists(scratch / "x"));
}

TEST_F(Frames, BothToolsAnswerHelpOnStandardOutputAndBadOptionsOnStandardError) {
    for (std::string tool : {"bumpwave-frames", "bumpwave-view"}) {
        std::string path = std::string(BUMPWAVE_BUILD_DIR) + "/" + tool;
        for (std::string arguments : {"--help", "-h", "--bad", "dots --seconds x", "--seconds"}) {
            SCOPED_TRACE(tool + " " + arguments);
            std::vector<std::string> argv{path};
            std::istringstream words(arguments);
            for (std::string word; words >> word;) argv.push_back(word);
            RunResult run = RunProgram(argv, scratch.string(), {}, std::chrono::seconds(20));
            bool help = arguments == "--help" || arguments == "-h";
            EXPECT_EQ(run.exitCode, help ? 0 : 2);
            EXPECT_TRUE((help ? run.out : run.err).starts_with("usage: " + tool + " "));
            EXPECT_EQ(help ? run.err : run.out, "");
        }
    }
}

TEST_F(Frames, AMissingPictureGetsTheLoadersMessageAndExitCode1) {
    fs::copy_file(fs::path(BUMPWAVE_BUILD_DIR) / "bumpmap.png", scratch / "bumpmap.png");
    RunResult run = RunTool("--seed 1 --times 0 --out out", scratch);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Couldn't load boys.jpg\n");
    EXPECT_FALSE(fs::exists(scratch / "out"));
}
