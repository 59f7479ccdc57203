// Whole files, the folders tests work in, and music as libvorbisfile decodes it.
#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

inline const fs::path BuildDir = BUMPWAVE_BUILD_DIR;
inline const fs::path SourceDir = BUMPWAVE_SOURCE_DIR;

inline std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline fs::path NewFolder() {
    std::string name = (fs::temp_directory_path() / "bumpwave-test-XXXXXX").string();
    return mkdtemp(name.data());
}

// 16-bit samples in Vorbis's channel order, holes skipped, to the end or the
// first error.
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
