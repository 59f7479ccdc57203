// bumpwave-frames and bumpwave-view as programs; the messages of every program.
#include "files.h"
#include "subprocess.h"

#include <fnmatch.h>
#include <sstream>

struct Frames : InFolder {
    // `command` split at spaces, its first word naming bumpwave-WORD; stranded unless `built`.
    RunResult Tool(const std::string& command, bool built = false) {
        std::istringstream words("bumpwave-" + command);
        std::vector<std::string> argv{std::istream_iterator<std::string>(words), {}};
        argv[0] = built ? (BuildDir / argv[0]).native() : Stranded(argv[0]).native();
        return RunProgram(argv, dir_, {}, std::chrono::seconds(120));
    }
};

static std::string Name(int i) {
    return "frame-" + std::to_string(100000 + i).substr(1) + ".ppm";
}

TEST_F(Frames, GoldenFramesOfEveryScene) {
    std::istringstream lines(Slurp(SourceDir / "tests" / "golden_frames.txt"));
    std::string seed, times[2], save[2];
    std::vector<std::pair<std::string, uint64_t>> golden[2];
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        const bool calm = first == "calm";
        if (calm) words >> first;
        if (first == "seed") words >> seed;
        if (first == "times") words >> times[calm];
        if (first.empty() || first.find_first_not_of("0123456789") != std::string::npos) continue;
        golden[calm].emplace_back(Name(std::stoi(first)), 0);
        words >> golden[calm].back().second;
        save[calm] += (save[calm].empty() ? "" : ",") + first;
    }
    ASSERT_EQ(std::pair(golden[0].size(), golden[1].size()), std::pair(9ul, 4ul));
    Provide(Pictures);
    for (int calm : {0, 1}) {
        RunResult run = Tool("frames --seed " + seed + (calm ? " --calm" : "") + " --times " +
                             times[calm] + " --save " + save[calm] + " --out out");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const auto& [name, sum] : golden[calm]) { // FNV-1a
            uint64_t hash = 1469598103934665603u;
            for (unsigned char byte : Slurp(dir_ / "out" / name))
                hash = (hash ^ byte) * 1099511628211u;
            EXPECT_EQ(hash, sum) << calm << name << ": if a change was intended, pin the new sum";
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), {}), golden[calm].size());
        fs::remove_all(dir_ / "out"); // only those listed
    }
}

// The mean brightness of the logo's area at 60 fps; without --calm it sees the flashing.
TEST_F(Frames, TheCalmShowChangesTheLogoNoMoreThanThreeTimesASecond) {
    Provide(Pictures);
    // Around both flash scenes: the frames from, to (ms), and whether they flash.
    for (auto [calm, from, to, flashes] : {std::tuple{false, 31001, 31500, true},
                                           {true, 30901, 32100, false},
                                           {true, 37901, 39100, false}}) {
        std::string times, out = "out" + std::to_string(from);
        int frames = 0;
        for (int k = from * 60 / 1000; k * 1000 / 60 <= to; ++k)
            if (k * 1000 / 60 >= from) times += std::to_string(k * 1000 / 60) + ",", ++frames;
        times.pop_back();
        RunResult run =
            Tool("frames --seed 3 --times " + times + (calm ? " --calm" : "") + " --out " + out);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<int> changes; // the frames where the brightness turned, by a twentieth
        double low = 2, high = -1;
        for (int i = 0, trend = 0; i < frames; ++i) {
            const std::string ppm = Slurp(dir_ / out / Name(i));
            double sum = 0;
            for (int y = 280; y < 480; ++y)
                for (int at = 15 + (y * 640 + 160) * 3; at < 15 + (y * 640 + 480) * 3; at += 3)
                    sum += 0.2126 * uint8_t(ppm[at]) + 0.7152 * uint8_t(ppm[at + 1]) +
                           0.0722 * uint8_t(ppm[at + 2]);
            const double mean = sum / (320 * 200 * 255);
            low = std::min(low, mean), high = std::max(high, mean);
            if (trend <= 0 && mean - low >= 0.05) trend = 1, high = mean, changes.push_back(i);
            if (trend >= 0 && high - mean >= 0.05) trend = -1, low = mean, changes.push_back(i);
        }
        bool flashed = false; // four changes within a second
        for (size_t i = 3; i < changes.size(); ++i) flashed |= changes[i] - changes[i - 3] < 60;
        EXPECT_EQ(flashed, flashes) << from << (calm ? " calm" : "");
    }
}

// Each names the option and the value and says what it takes.
TEST_F(Frames, RefusedCommandLinesSayWhatTheyTakeAndMakeNothing) {
    const std::pair<const char*, const char*> cases[] = {
        {"frames --seed 1 --times 0", "--seed, --times or --at, and --out are needed"},
        {"frames --seed 1 --times 0 --out", "--out takes the name of a folder, and none"},
        {"frames --seed x --times 0 --out x", "--seed takes*from 0 to 4294967295, not x"},
        {"frames --seed 1 --times 1x2x3 --out x", "--times takes V or VxK items*, not 1x2x3"},
        {"frames --seed 1 --at 41000 --out x", "--at takes moments*40999*, not 41000"},
        {"frames --seed 1 --at 5 --times 5 --out x", "--times or --at, not both"},
        {"frames --seed 1 --times 0 --save -1 --out x", "--save takes frame numbers*, not -1"},
        {"frames --seed 1 --times 1000,0 --save 0,2 --out x",
         "frame 2, which is never drawn*0 to 1"},
        {"frames --seed 1 --seed 2 --times 0 --out x", "--seed is given twice"},
        {"frames --seed 1 --times 0 --out x --v 1", "--v is not an option"},
        {"frames --seed 1 --times 0 --out x y", "y is not an option"},
        {"view dots --seconds x", "--seconds takes a number of seconds, 0 or more, not x"},
        {"view --seconds=", "--seconds takes*, not an empty value"},
        {"view sparkles", "sparkles is no scene: lights, plasma, dots, *"},
        {"record --fps 0 v.mkv", "--fps takes a whole number from 1 to 1000, not 0"},
        {"record --crf 52 v.mp4", "--crf takes a whole number from 0 to 51, not 52"},
        {"record --scale 2.5 v.mkv", "--scale takes a whole number from 1 to 6, not 2.5"},
        {"record --until 500", "OUTPUT, the video's file name, is needed"},
        {"record --seed 5 -zz o.mkv", "-z is not an option"},
        {"record a.mkv b.mkv", "one OUTPUT at a time, not also b.mkv"},
        {"record v.avi", "v.avi: the formats are .mkv (lossless), .mp4 and .webm"},
        {"record --from 5000 --until 5000 v.mkv", "--from must come before --until*"},
    };
    for (const auto& [command, said] : cases) {
        const std::string tool = std::string(command).substr(0, std::string(command).find(' '));
        if (!fs::exists(BuildDir / ("bumpwave-" + tool))) continue; // no FFmpeg, no recorder
        RunResult run = Tool(command);
        EXPECT_EQ(run.exitCode, 2) << command;
        const std::string pattern = "bumpwave-" + tool + ": *" + said + "*\n";
        EXPECT_EQ(run.out + std::to_string(fnmatch(pattern.c_str(), run.err.c_str(), 0)), "0")
            << command << ": " << run.err;
        EXPECT_TRUE(fs::is_empty(dir_)) << command;
    }
    for (const char* tool : {"frames", "view", "record"}) {
        if (!fs::exists(BuildDir / ("bumpwave-" + std::string(tool)))) continue;
        for (const char* ask : {" -h", " --help", " --version"}) {
            RunResult run = Tool(tool + std::string(ask));
            EXPECT_EQ(std::pair(run.exitCode, run.err), std::pair(0, std::string())) << tool << ask;
            EXPECT_TRUE(run.out.starts_with(ask[3] == 'v' ? "bumpwave-" : "usage: bumpwave-"));
        }
    }
}

// Escaped in a name the user gives and in the folder a program runs in.
TEST_F(Frames, ControlCharactersFromTheUserReachNoTerminal) {
    const std::string hostile = "\x1b]0;owned\a\x1b[2J", shown = "\\x1b]0;owned\\x07\\x1b[2J";
    const fs::path folder = dir_ / hostile;
    fs::create_directory(folder);
    // Each run stranded, or from the build folder (true), where it finds its files and succeeds.
    const std::pair<bool, std::vector<std::string>> commands[] = {
        {false, {"bumpwave", hostile}},
        {false, {"bumpwave-record", hostile}},
        {true, {"bumpwave-record", "--until", "100", hostile + ".mkv"}}, // "NAME: 6 frames"
        {false, {"bumpwave-frames", "--seed", "1", "--times", "0", "--out", "x"}}, // not found in
    };
    for (auto [built, argv] : commands) {
        SCOPED_TRACE(argv[0] + " " + argv[1]);
        if (!fs::exists(BuildDir / argv[0])) continue; // no FFmpeg, no recorder
        argv[0] = built ? (BuildDir / argv[0]).string() : Stranded(argv[0]).string();
        const RunResult run = RunProgram(argv, folder, {}, std::chrono::seconds(60));
        EXPECT_EQ(run.exitCode == 0, built) << run.exitCode;
        EXPECT_EQ((run.out + run.err).find('\x1b'), std::string::npos) << "raw ESC";
        EXPECT_NE((run.out + run.err).find(shown), std::string::npos) << "not named";
    }
}

// Not beside another program; a file size limit or a stop signal leaves whole frames only.
TEST_F(Frames, FindsPicturesBesideTheBuiltProgramAndWritesWholeFramesOnly) {
    RunResult run = Tool("frames --seed 1 --times 0 --out x", true);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir_ / "x/frame-00000.ppm"));
    fs::copy_file(BuildDir / "bumpmap.png", dir_ / "bumpmap.png"); // and boys.jpg missing
    run = Tool("frames --seed 1 --times 0 --out y");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Couldn't load boys.jpg\n");
    EXPECT_EQ(run.err, "bumpwave-frames: boys.jpg: not found in " + dir_.string() + "\n");
    EXPECT_FALSE(fs::exists(dir_ / "y"));
    fs::copy_file(BuildDir / "boys.jpg", dir_ / "boys.jpg");
    run = RunProgram({"prlimit", "--fsize=500000", Stranded("bumpwave-frames"), "--seed", "1",
                      "--times", "0", "--out", "o"},
                     dir_, {}, std::chrono::seconds(60));
    EXPECT_EQ(run.err, "bumpwave-frames: cannot write o/frame-00000.ppm: File too large\n");
    EXPECT_TRUE(run.exitCode == 1 && fs::is_empty(dir_ / "o"));
    fs::remove_all(dir_ / "o");
    Process frames({Stranded("bumpwave-frames"), "--seed", "1", "--times", "0x3000", "--out", "o"},
                   dir_.string());
    frames.ReadUntil([&](auto&) { return fs::exists(dir_ / "o/frame-00002.ppm"); },
                     std::chrono::seconds(60));
    kill(frames.pid(), SIGINT);
    EXPECT_EQ(frames.Finish(std::chrono::seconds(60)).signal, SIGINT);
    for (const auto& entry : fs::directory_iterator(dir_ / "o")) {
        EXPECT_EQ(fnmatch("frame-0[0-9][0-9][0-9][0-9].ppm", entry.path().filename().c_str(), 0), 0)
            << entry.path();
        EXPECT_EQ(entry.file_size(), 15u + 640 * 480 * 3) << entry.path();
    }
}
