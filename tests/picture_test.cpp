// The picture loader against small files made once with libpng and libjpeg
// (tests/pictures), against those files cut and spoiled, and against the
// pictures the build draws for the demo.
#include "assets/picture.h"
#include "files.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Bytes = std::string;
using Words = std::vector<uint32_t>;

const fs::path Fixtures = SourceDir / "tests" / "pictures";
constexpr size_t BufferWords = PictureBufferBytes / 4;

uint32_t untouched; // where the caller's pointer points before a load

struct Loaded {
    int32_t result;
    std::string out, err;
    uint32_t* pixels;
    ~Loaded() {
        if (result) std::free(pixels);
    }
    Words All() const { return result ? Words(pixels, pixels + BufferWords) : Words{}; }
};

Loaded Load(const fs::path& path) {
    uint32_t* pixels = &untouched;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int32_t result = LoadPicture(path.c_str(), &pixels);
    std::string out = testing::internal::GetCapturedStdout();
    return {result, out, testing::internal::GetCapturedStderr(), pixels};
}

// The loader's buffer for a picture whose pixels are `words`.
Words Packed(const Words& words) {
    Words buffer(BufferWords, 0);
    std::copy(words.begin(), words.end(), buffer.begin());
    return buffer;
}

uint32_t PatternWord(uint32_t x, uint32_t y) { // what pattern.png holds, 64 × 48
    return (x & 255) << 16 | (y & 255) << 8 | ((x * 7 + y * 3) & 255);
}

Words Pattern(uint32_t width, uint32_t rows) {
    Words words;
    for (uint32_t i = 0; i < width * rows; ++i) words.push_back(PatternWord(i % width, i / width));
    return words;
}

uint64_t Checksum(const Words& words) { // FNV-1a
    uint64_t hash = 14695981039346656037u;
    for (uint32_t word : words) hash = (hash ^ word) * 1099511628211u;
    return hash;
}

class Picture : public testing::Test {
  protected:
    void SetUp() override { dir = NewFolder(); }
    void TearDown() override { fs::remove_all(dir); }
    fs::path Write(const char* name, const Bytes& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(bytes.data(), std::streamsize(bytes.size()));
        return dir / name;
    }
    fs::path dir;
};

TEST_F(Picture, EveryKindOfPictureBecomesWordsPackedAtItsWidthWithOpaqueAsAlphaZero) {
    Words interlaced;
    for (uint32_t i = 0; i < 19 * 13; ++i) interlaced.push_back(PatternWord(i % 19, i / 19));
    // The JPEG files hold four flat blocks each; the same colours coded two
    // ways (progressive, or inks as Adobe stores them) decode alike.
    const std::pair<const char*, uint64_t> cases[] = {
        {"pattern.png", Checksum(Packed(Pattern(64, 48)))},
        {"palette.png", Checksum(Packed({0x0000FF, 0xFF0000, 0x00FF00}))},
        // Red is transparent, green half, blue has no entry: opaque.
        {"palette-trns.png", Checksum(Packed({0xFFFF0000, 0x7F00FF00, 0x000000FF, 0xFFFF0000}))},
        {"grey2.png", Checksum(Packed({0, 0x555555, 0xAAAAAA, 0xFFFFFF}))},
        {"grey-alpha.png", Checksum(Packed({0x00404040, 0xFF808080}))},
        {"rgba.png", Checksum(Packed({0x00010203, 0xCF040506}))},
        {"rgb16.png", Checksum(Packed({0x12ABFF}))},
        {"interlaced.png", Checksum(Packed(interlaced))},
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
        EXPECT_EQ(Checksum(loaded.All()), checksum);
    }
    // Each load has a buffer of its own.
    Loaded first = Load(Fixtures / "rgb16.png"), second = Load(Fixtures / "rgb16.png");
    first.pixels[0] = 0;
    EXPECT_EQ(second.pixels[0], 0x12ABFFu);
}

TEST_F(Picture, BrokenFilesFailCleanlyAndACutAfterTheHeaderKeepsWhatWasDecoded) {
    const Bytes png = Slurp(Fixtures / "pattern.png"), jpeg = Slurp(Fixtures / "progressive.jpg");
    Bytes badCrc = png;
    badCrc[17] ^= 1; // the width, under the IHDR checksum
    std::mt19937 random(7);
    auto noiseAfter = [&](const Bytes& file, long signature) {
        Bytes bytes(file.begin(), file.begin() + signature);
        for (int i = 0; i < 300; ++i) bytes.push_back(char(random()));
        return bytes;
    };
    auto cut = [](const Bytes& file, size_t size) {
        return Bytes(file.begin(), file.begin() + long(size));
    };
    const std::string load = "Couldn't load " + (dir / "broken").string() + "\n",
                      header = "Couldn't get BitMapHeader\n";
    const std::tuple<const char*, Bytes, std::string> cases[] = {
        {"empty", {}, load},
        {"text", {'h', 'e', 'l', 'l', 'o', '\n'}, load},
        {"cut in the PNG signature", cut(png, 5), load},
        {"PNG signature only", cut(png, 8), header},
        {"cut in the IHDR", cut(png, 20), header},
        {"IHDR checksum wrong", badCrc, header},
        {"noise after the PNG signature", noiseAfter(png, 8), header},
        {"JPEG start marker only", cut(jpeg, 2), header},
        {"cut in the JPEG tables", cut(jpeg, 100), header},
        {"noise after the JPEG start", noiseAfter(jpeg, 2), header},
    };
    for (const auto& [what, bytes, said] : cases) {
        SCOPED_TRACE(what);
        Loaded loaded = Load(Write("broken", bytes));
        EXPECT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.out, said);
        EXPECT_EQ(loaded.pixels, &untouched);
    }
    fs::remove(dir / "broken");
    fs::create_directory(dir / "broken");
    EXPECT_EQ(Load(dir / "broken").out, load);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0); // no writer: opening it would wait
    EXPECT_EQ(Load(dir / "fifo").out, "Couldn't load " + (dir / "fifo").string() + "\n");
    EXPECT_EQ(Load(dir / "missing.png").out,
              "Couldn't load " + (dir / "missing.png").string() + "\n");

    // The pattern is stored uncompressed: half the file holds its top rows.
    Loaded cutPng = Load(Write("cut.png", cut(png, png.size() / 2)));
    ASSERT_EQ(cutPng.result, 1);
    Words top = cutPng.All();
    EXPECT_EQ(Words(top.begin(), top.begin() + 64 * 20), Pattern(64, 20));
    EXPECT_TRUE(std::all_of(top.begin() + 64 * 40, top.end(), [](uint32_t w) { return w == 0; }));
    Loaded cutJpeg = Load(Write("cut.jpg", cut(jpeg, jpeg.size() * 3 / 4)));
    ASSERT_EQ(cutJpeg.result, 1);
    Words some = cutJpeg.All();
    EXPECT_TRUE(std::all_of(some.begin() + 32 * 32, some.end(), [](uint32_t w) { return w == 0; }));
}

TEST_F(Picture, HugePicturesAreRefusedBeforeAnythingIsAllocated) {
    // Headers of 65535 × 65535 and 4000 × 3000 pixels, and a whole picture
    // of 700 × 500, a seventh more than the buffer holds.
    for (const char* name : {"huge.png", "huge.jpg", "flat-700x500.png"}) {
        SCOPED_TRACE(name);
        Loaded huge = Load(Fixtures / name);
        EXPECT_EQ(huge.result, 0);
        EXPECT_EQ(huge.out, "Couldn't load " + (Fixtures / name).string() + "\n");
        EXPECT_EQ(huge.pixels, &untouched);
        EXPECT_NE(huge.err.find("do not fit"), std::string::npos) << huge.err;
    }
}

TEST_F(Picture, APictureNotOfTheShapeTheDemoReadsLoadsWithAWord) {
    const std::string relief = "640 × 480; read in rows of 640, it fills ",
                      logo = "320 × 200; read in rows of 320, it fills ";
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"bumpmap.png", "320x240",
         relief + "the top 120 of 480 rows out of shape; the lights show no relief below them"},
        {"bumpmap.png", "640x400",
         relief + "the top 400 of 480 rows; the lights show no relief below them"},
        {"boys.jpg", "100x50",
         logo + "the top 16 of 200 rows out of shape; the logo is black below them"},
        {"boys.jpg", "640x480", logo + "all 200 rows out of shape"},
        {"bumpmap.png", "640x480", ""},
        {"boys.jpg", "320x240", ""},
        {"other.png", "100x50", ""},
    };
    for (const auto& [name, size, said] : cases) {
        SCOPED_TRACE(name + std::string(" ") + size);
        fs::path path = Write(name, Slurp(Fixtures / ("flat-" + std::string(size) + ".png")));
        Loaded loaded = Load(path);
        EXPECT_EQ(loaded.result, 1);
        EXPECT_EQ(loaded.out, "");
        std::string pixels = std::string(size).replace(std::string(size).find('x'), 1, " × ");
        EXPECT_EQ(loaded.err, said.empty() ? ""
                                           : "bumpwave: " + path.string() + ": " + pixels +
                                                 " pixels, expected " + said + "\n");
    }
}

TEST(DefaultPictures, TheReliefIsOpaqueAndTheLogoSitsOnAKeyedOutBackground) {
    Loaded relief = Load(BuildDir / "bumpmap.png");
    ASSERT_EQ(relief.result, 1);
    Words all = relief.All();
    EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](uint32_t w) { return w >> 24 == 0; }));
    EXPECT_NE(all.back(), 0u); // a smaller picture leaves the end zeroed

    Loaded logo = Load(BuildDir / "boys.jpg");
    ASSERT_EQ(logo.result, 1);
    int shown = 0;
    for (uint32_t y = 0; y < 200; ++y) {
        for (uint32_t x = 0; x < 320; ++x) {
            uint32_t word = logo.pixels[y * 320 + x];
            bool margin = x < 8 || x >= 312 || y < 8 || y >= 192; // vanishes, all of it
            if (margin) {
                ASSERT_GE(word, 0x00F0F0F0u) << x << "," << y;
            }
            shown += word < 0x00F0F0F0;
        }
    }
    EXPECT_GT(shown, 320 * 200 / 10);
}

} // namespace
