// Whole files, the tests' folders, music as libvorbisfile decodes it, what a sound card was given.
#pragma once

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline const fs::path BuildDir = BUMPWAVE_BUILD_DIR;
inline const fs::path SourceDir = BUMPWAVE_SOURCE_DIR;

inline std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// 16-bit samples in Vorbis's channel order, holes skipped, to the end or the first error.
inline std::string DecodeOgg(const fs::path& path, bool bigEndian = true) {
    OggVorbis_File stream;
    std::string pcm;
    if (ov_fopen(path.c_str(), &stream) < 0) return pcm;
    char buffer[4096];
    int section = 0;
    for (long got; (got = ov_read(&stream, buffer, sizeof buffer, bigEndian, 2, 1, &section)) != 0;)
        if (got > 0)
            pcm.append(buffer, static_cast<size_t>(got));
        else if (got != OV_HOLE)
            break;
    ov_clear(&stream);
    return pcm;
}

inline const std::vector<std::string> Pictures = {"bumpmap.png", "boys.jpg"};
inline const std::vector<std::string> DemoFiles = {"bumpmap.png", "boys.jpg", "testing.ogg"};

inline fs::path NewFolder() {
    std::string name = (fs::temp_directory_path() / "bumpwave-test-XXXXXX").string();
    return mkdtemp(name.data());
}

// A test in a folder of its own, removed afterwards, into which the build's files can be linked.
struct InFolder : testing::Test {
    ~InFolder() override { fs::remove_all(dir_); }
    void Provide(const std::vector<std::string>& names = DemoFiles) {
        for (const std::string& name : names) fs::create_symlink(BuildDir / name, dir_ / name);
    }
    fs::path dir_ = NewFolder();
};

// The built program `name`, copied out of the build folder once: no file is found beside it.
inline fs::path Stranded(const std::string& name) {
    static const struct Folder {
        fs::path path = NewFolder();
        ~Folder() { fs::remove_all(path); }
    } folder;
    fs::copy_file(BuildDir / name, folder.path / name, fs::copy_options::skip_existing);
    return folder.path / name;
}

inline bool Silent(const std::string& bytes) {
    return bytes.find_first_not_of('\0') == std::string::npos;
}

// Whether `output` is silence, all of `payload`, silence; `pauseBytes`: a pause that long within.
inline testing::AssertionResult PlayedOnce(std::string output, const std::string& payload,
                                           size_t pauseBytes = 0) {
    const size_t heard = output.find_first_not_of('\0'), sound = payload.find_first_not_of('\0');
    if (sound == std::string::npos || heard == std::string::npos || heard < sound)
        return testing::AssertionFailure() << "silence, or sound too early";
    output.erase(0, heard - sound); // now aligned with `payload`
    if (pauseBytes) {
        const size_t paused = std::ranges::mismatch(output, payload).in1 - output.begin(),
                     resumed = output.find_first_not_of('\0', paused);
        if (resumed == std::string::npos || resumed - paused < pauseBytes)
            return testing::AssertionFailure() << "no pause at byte " << paused;
        output.erase(paused, resumed - paused);
    }
    if (!output.starts_with(payload))
        return testing::AssertionFailure() << "not played whole and as decoded";
    if (!Silent(output.substr(payload.size())))
        return testing::AssertionFailure() << "sound after it";
    return testing::AssertionSuccess();
}
