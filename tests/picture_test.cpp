// The picture loader against small files made once with libpng and libjpeg (tests/pictures),
// and against them cut and spoiled; frames_test's golden frames pin the default pictures.
#include "assets/picture.h"
#include "files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sys/stat.h>

namespace {

using Words = std::vector<uint32_t>;

const fs::path Fixtures = SourceDir / "tests" / "pictures";
constexpr size_t BufferWords = PictureBufferBytes / 4;

struct Loaded {
    int32_t result;
    std::string out, err;
    bool untouched; // the caller's pointer as it was
    Words pixels;   // the whole buffer, if loaded
};

// A buffer shared between loads, or not from the heap, fails its free here.
Loaded Load(const fs::path& path) {
    uint32_t before, *pixels = &before;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int32_t result = LoadPicture(path.c_str(), &pixels);
    std::string out = testing::internal::GetCapturedStdout();
    Loaded loaded{result, out, testing::internal::GetCapturedStderr(), pixels == &before, {}};
    if (result) loaded.pixels.assign(pixels, pixels + BufferWords), std::free(pixels);
    return loaded;
}

// What pattern.png (64 × 48) and interlaced.png (19 × 13) hold, packed at their width.
Words Pattern(uint32_t width, uint32_t rows) {
    Words words;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < width; ++x)
            words.push_back((x & 255) << 16 | (y & 255) << 8 | ((x * 7 + y * 3) & 255));
    return words;
}

uint64_t Checksum(Words words) { // FNV-1a of the loader's whole buffer holding `words`
    uint64_t hash = 14695981039346656037u;
    for (words.resize(BufferWords); uint32_t word : words) hash = (hash ^ word) * 1099511628211u;
    return hash;
}

// Spoiled and renamed copies go to a folder of the run's own.
const fs::path Dir = NewFolder();
const struct Cleanup {
    ~Cleanup() { fs::remove_all(Dir); }
} cleanup;

fs::path Write(const std::string& name, const std::string& bytes) {
    std::ofstream(Dir / name, std::ios::binary) << bytes;
    return Dir / name;
}

TEST(Picture, EveryKindOfPictureBecomesWordsPackedAtItsWidthWithOpaqueAsAlphaZero) {
    // Each JPEG holds four flat blocks; progressive and Adobe's inverted inks decode alike.
    const std::pair<const char*, uint64_t> cases[] = {
        {"pattern.png", Checksum(Pattern(64, 48))},
        {"palette.png", Checksum({0x0000FF, 0xFF0000, 0x00FF00})},
        // Red is transparent, green half, blue has no entry: opaque.
        {"palette-trns.png", Checksum({0xFFFF0000, 0x7F00FF00, 0x000000FF, 0xFFFF0000})},
        {"grey2.png", Checksum({0, 0x555555, 0xAAAAAA, 0xFFFFFF})},
        {"grey-alpha.png", Checksum({0x00404040, 0xFF808080})},
        {"rgba.png", Checksum({0x00010203, 0xCF040506})},
        {"rgb16.png", Checksum({0x12ABFF})},
        {"interlaced.png", Checksum(Pattern(19, 13))},
        {"colour.jpg", 13550772683205114860u},
        {"progressive.jpg", 13550772683205114860u},
        {"grey.jpg", 16646124309408568869u},
        {"adobe-cmyk.jpg", 12276863106506643237u},
        {"adobe-ycck.jpg", 7219362931659504074u},
        {"plain-cmyk.jpg", 12276863106506643237u},
    };
    for (const auto& [name, checksum] : cases) {
        SCOPED_TRACE(name);
        Loaded loaded = Load(Fixtures / name);
        ASSERT_EQ(loaded.result, 1);
        EXPECT_EQ(loaded.out + loaded.err, "");
        EXPECT_EQ(Checksum(loaded.pixels), checksum);
    }
}

TEST(Picture, BrokenAndHugeFilesFailCleanlyAndACutAfterTheHeaderKeepsWhatWasDecoded) {
    const std::string png = Slurp(Fixtures / "pattern.png"),
                      jpeg = Slurp(Fixtures / "progressive.jpg");
    std::string noise(300, '\0');
    std::generate(noise.begin(), noise.end(), std::mt19937(7));
    const std::string load = "Couldn't load " + (Dir / "broken").string() + "\n",
                      header = "Couldn't get BitMapHeader\n";
    // What, the file, its standard output, a part of its standard error.
    const std::tuple<const char*, std::string, std::string, const char*> cases[] = {
        {"empty", "", load, ""},
        {"text", "hello\n", load, ""},
        {"cut in the PNG signature", png.substr(0, 5), load, ""},
        {"PNG signature only", png.substr(0, 8), header, ""},
        {"cut in the IHDR", png.substr(0, 20), header, ""},
        {"a bit of the width flipped under the IHDR checksum",
         png.substr(0, 17) + char(png[17] ^ 1) + png.substr(18), header, ""},
        {"noise after the PNG signature", png.substr(0, 8) + noise, header, ""},
        {"JPEG start marker only", jpeg.substr(0, 2), header, ""},
        {"cut in the JPEG tables", jpeg.substr(0, 100), header, ""},
        {"noise after the JPEG start", jpeg.substr(0, 2) + noise, header, ""},
        {"PNG header of 65535 × 65535", Slurp(Fixtures / "huge.png"), load, "do not fit"},
        {"JPEG header of 4000 × 3000", Slurp(Fixtures / "huge.jpg"), load, "do not fit"},
        {"700 × 500, a seventh too many", Slurp(Fixtures / "flat-700x500.png"), load, "do not fit"},
    };
    for (const auto& [what, bytes, out, err] : cases) {
        SCOPED_TRACE(what);
        Loaded loaded = Load(Write("broken", bytes));
        EXPECT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.out, out);
        EXPECT_TRUE(loaded.untouched);
        EXPECT_NE(loaded.err.find(err), std::string::npos) << loaded.err;
    }
    // Not regular files (a fifo without a writer: opening it would wait), or none at all.
    fs::create_directory(Dir / "folder");
    ASSERT_TRUE(mkfifo((Dir / "fifo").c_str(), 0600) == 0 || errno == EEXIST);
    for (const char* name : {"folder", "fifo", "missing.png"})
        EXPECT_EQ(Load(Dir / name).out, "Couldn't load " + (Dir / name).string() + "\n");

    // The pattern is stored uncompressed: half the file holds its top rows.
    Words top = Load(Write("cut.png", png.substr(0, png.size() / 2))).pixels,
          some = Load(Write("cut.jpg", jpeg.substr(0, jpeg.size() * 3 / 4))).pixels;
    ASSERT_EQ(top.size() + some.size(), 2 * BufferWords);
    EXPECT_EQ(Words(top.begin(), top.begin() + 64 * 20), Pattern(64, 20));
    EXPECT_EQ(Words(top.begin() + 64 * 40, top.end()), Words(BufferWords - 64 * 40));
    EXPECT_EQ(Words(some.begin() + 32 * 32, some.end()), Words(BufferWords - 32 * 32));
}

TEST(Picture, APictureNotOfTheShapeTheDemoReadsLoadsWithAWord) {
    const std::string relief = "640 × 480; read in rows of 640, it fills ",
                      logo = "320 × 200; read in rows of 320, it fills ";
    const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
        {"bumpmap.png", "320", "240",
         relief + "the top 120 of 480 rows out of shape; the lights show no relief below them"},
        {"bumpmap.png", "640", "400",
         relief + "the top 400 of 480 rows; the lights show no relief below them"},
        {"boys.jpg", "100", "50",
         logo + "the top 16 of 200 rows out of shape; the logo is black below them"},
        {"boys.jpg", "640", "480", logo + "all 200 rows out of shape"},
        {"bumpmap.png", "640", "480", ""},
        {"boys.jpg", "320", "240", ""},
        {"other.png", "100", "50", ""},
    };
    for (const auto& [name, width, height, said] : cases) {
        SCOPED_TRACE(name + (" " + width + "x" + height));
        fs::path path = Write(name, Slurp(Fixtures / ("flat-" + width + "x" + height + ".png")));
        Loaded loaded = Load(path);
        EXPECT_EQ(loaded.result, 1);
        EXPECT_EQ(loaded.out, "");
        EXPECT_EQ(loaded.err, said.empty() ? ""
                                           : "bumpwave: " + path.string() + ": " + width + " × " +
                                                 height + " pixels, expected " + said + "\n");
    }
}

} // namespace
