#include "assets/picture.h"

#include <cstdio> // before jpeglib.h

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t untouched; // where the caller's pointer points before a load

struct Loaded {
    int32_t result;
    std::string output;
    uint32_t* pixels;
    ~Loaded() {
        if (result) std::free(pixels);
    }
};

Loaded Load(const std::string& path) {
    uint32_t* pixels = &untouched;
    testing::internal::CaptureStdout();
    int32_t result = LoadPicture(path.c_str(), &pixels);
    return {result, testing::internal::GetCapturedStdout(), pixels};
}

struct PngImage {
    uint32_t width, height;
    int colorType, bitDepth;
    Bytes rows; // packed, as libpng takes them
    std::vector<png_color> palette = {};
    Bytes paletteAlpha = {};
    bool interlaced = false;
};

// Stored without compression, so that a cut lands at a known row. A header
// alone is followed by the start of the image data, as far as a reader looks.
void WritePng(const std::string& path, const PngImage& image, bool headerOnly = false) {
    FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_compression_level(png, 0);
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colorType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty()) png_set_PLTE(png, info, image.palette.data(), image.palette.size());
    if (!image.paletteAlpha.empty()) {
        png_set_tRNS(png, info, image.paletteAlpha.data(), image.paletteAlpha.size(), nullptr);
    }
    png_write_info(png, info);
    if (headerOnly) {
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), image.rows.data(), 1);
    } else {
        for (uint32_t pass = png_set_interlace_handling(png); pass--;) {
            for (uint32_t y = 0; y < image.height; ++y) {
                png_write_row(png, &image.rows[y * image.rows.size() / image.height]);
            }
        }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

struct JpegImage {
    int components;
    J_COLOR_SPACE given, stored;
    std::vector<Bytes> colours; // of four flat 16 × 16 blocks, which lossy coding keeps close
    bool progressive = false, adobe = true;
};

void WriteJpeg(const std::string& path, const JpegImage& image) {
    FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct jpeg;
    jpeg_error_mgr errors;
    jpeg.err = jpeg_std_error(&errors);
    jpeg_create_compress(&jpeg);
    jpeg_stdio_dest(&jpeg, file);
    jpeg.image_width = jpeg.image_height = 32;
    jpeg.input_components = image.components;
    jpeg.in_color_space = image.given;
    jpeg_set_defaults(&jpeg);
    jpeg_set_colorspace(&jpeg, image.stored);
    jpeg_set_quality(&jpeg, 95, TRUE);
    jpeg.write_Adobe_marker = image.adobe;
    if (image.progressive) jpeg_simple_progression(&jpeg);
    jpeg_start_compress(&jpeg, TRUE);
    for (int y = 0; y < 32; ++y) {
        Bytes row;
        for (int x = 0; x < 32; ++x) {
            const Bytes& colour = image.colours[(y / 16) * 2 + x / 16];
            row.insert(row.end(), colour.begin(), colour.end());
        }
        JSAMPROW samples = row.data();
        jpeg_write_scanlines(&jpeg, &samples, 1);
    }
    jpeg_finish_compress(&jpeg);
    jpeg_destroy_compress(&jpeg);
    std::fclose(file);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// An RGB picture whose every pixel differs from its neighbours.
uint32_t PatternWord(uint32_t x, uint32_t y) {
    return (x & 255) << 16 | (y & 255) << 8 | ((x * 7 + y * 3) & 255);
}

PngImage Pattern(uint32_t width, uint32_t height) {
    PngImage image{width, height, PNG_COLOR_TYPE_RGB, 8, {}};
    for (uint32_t i = 0; i < width * height; ++i) {
        uint32_t word = PatternWord(i % width, i / width);
        image.rows.insert(image.rows.end(),
                          {uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)});
    }
    return image;
}

class PictureTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/bumpwave-picture-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Path(const char* name) const { return dir + "/" + name; }
    std::string dir;
};

TEST_F(PictureTest, PicturesArePackedAtTheirOwnWidthInAZeroedBuffer) {
    WritePng(Path("full.png"), Pattern(640, 480));
    Loaded full = Load(Path("full.png"));
    ASSERT_EQ(full.result, 1);
    EXPECT_EQ(full.output, "");
    for (uint32_t i = 0; i < 640 * 480; ++i)
        ASSERT_EQ(full.pixels[i], PatternWord(i % 640, i / 640));

    WritePng(Path("small.png"), Pattern(320, 200));
    Loaded small = Load(Path("small.png")), again = Load(Path("small.png"));
    ASSERT_EQ(small.result + again.result, 2);
    for (uint32_t i = 0; i < 640 * 480; ++i) {
        ASSERT_EQ(small.pixels[i], i < 320 * 200 ? PatternWord(i % 320, i / 320) : 0u) << i;
    }
    small.pixels[0] = 0xDEADBEEF;
    EXPECT_EQ(again.pixels[0], PatternWord(0, 0));

    Loaded missing = Load(Path("missing.png"));
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.output, "Couldn't load " + Path("missing.png") + "\n");
    EXPECT_EQ(missing.pixels, &untouched);
}

TEST_F(PictureTest, APictureNotOfTheShapeTheDemoReadsLoadsWithAWord) {
    const std::string relief = "640 × 480; read in rows of 640, it fills ",
                      logo = "320 × 200; read in rows of 320, it fills ";
    struct {
        const char* name;
        uint32_t width, height;
        std::string said; // after "<path>: W × H pixels, expected "
    } cases[] = {
        {"bumpmap.png", 320, 240,
         relief + "the top 120 of 480 rows out of shape; the lights show no relief below them"},
        {"bumpmap.png", 640, 400,
         relief + "the top 400 of 480 rows; the lights show no relief below them"},
        {"boys.jpg", 100, 50,
         logo + "the top 16 of 200 rows out of shape; the logo is black below them"},
        {"boys.jpg", 640, 480, logo + "all 200 rows out of shape"},
        {"bumpmap.png", 640, 480, ""},
        {"boys.jpg", 320, 240, ""},
        {"other.png", 100, 50, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + std::to_string(c.width));
        WritePng(Path(c.name), Pattern(c.width, c.height));
        testing::internal::CaptureStderr();
        Loaded loaded = Load(Path(c.name));
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(loaded.result, 1);
        EXPECT_EQ(loaded.output, "");
        std::string size = std::to_string(c.width) + " × " + std::to_string(c.height);
        EXPECT_EQ(said, c.said.empty() ? ""
                                       : "bumpwave: " + Path(c.name) + ": " + size +
                                             " pixels, expected " + c.said + "\n");
    }
}

TEST_F(PictureTest, EveryKindOfPngBecomesWordsWithOpaqueAsAlphaZero) {
    png_color red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};
    PngImage interlaced = Pattern(19, 13);
    interlaced.interlaced = true;
    std::vector<uint32_t> interlacedWords;
    for (uint32_t i = 0; i < 19 * 13; ++i) interlacedWords.push_back(PatternWord(i % 19, i / 19));
    struct {
        const char* name; // also the file's: boys.jpg holds a PNG
        PngImage image;
        std::vector<uint32_t> expected;
    } cases[] = {
        {"palette.png",
         {3, 1, PNG_COLOR_TYPE_PALETTE, 8, {2, 0, 1}, {red, green, blue}},
         {0x0000FF, 0xFF0000, 0x00FF00}},
        // Red is transparent, green half, blue has no entry: opaque.
        {"palette-trns.png",
         {4, 1, PNG_COLOR_TYPE_PALETTE, 4, {0x01, 0x20}, {red, green, blue}, {0, 128}},
         {0xFFFF0000, 0x7F00FF00, 0x000000FF, 0xFFFF0000}},
        {"grey2.png", {4, 1, PNG_COLOR_TYPE_GRAY, 2, {0x1B}}, {0, 0x555555, 0xAAAAAA, 0xFFFFFF}},
        {"grey.png", {2, 1, PNG_COLOR_TYPE_GRAY, 8, {0x12, 0xF0}}, {0x121212, 0xF0F0F0}},
        {"grey-alpha.png",
         {2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0x40, 255, 0x80, 0}},
         {0x00404040, 0xFF808080}},
        {"rgb.png", {2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 250, 251, 252}}, {0x010203, 0xFAFBFC}},
        {"rgba.png",
         {2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {1, 2, 3, 255, 4, 5, 6, 0x30}},
         {0x00010203, 0xCF040506}},
        {"rgb16.png",
         {1, 1, PNG_COLOR_TYPE_RGB, 16, {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0}},
         {0x12ABFF}},
        {"interlaced.png", interlaced, interlacedWords},
        {"boys.jpg", {1, 1, PNG_COLOR_TYPE_RGB, 8, {9, 8, 7}}, {0x090807}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WritePng(Path(c.name), c.image);
        Loaded loaded = Load(Path(c.name));
        ASSERT_EQ(loaded.result, 1);
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(loaded.pixels[i], c.expected[i]) << i;
    }
}

TEST_F(PictureTest, EveryKindOfJpegBecomesOpaqueWords) {
    std::vector<Bytes> rgb = {{200, 30, 40}, {20, 180, 60}, {30, 40, 220}, {128, 128, 128}};
    std::vector<uint32_t> rgbWords = {0xC81E28, 0x14B43C, 0x1E28DC, 0x808080};
    // Adobe's CMYK stores inverted inks, 255 for none; R = C × K / 255.
    std::vector<Bytes> adobeInks = {
        {255, 128, 0, 255}, {200, 100, 50, 128}, {0, 0, 0, 255}, {255, 255, 255, 255}};
    std::vector<Bytes> plainInks = adobeInks;
    for (Bytes& ink : plainInks) {
        for (uint8_t& value : ink) value = uint8_t(255 - value);
    }
    std::vector<uint32_t> inkWords = {0xFF8000, 0x643219, 0x000000, 0xFFFFFF};
    struct {
        const char* name;
        JpegImage image;
        std::vector<uint32_t> expected;
    } cases[] = {
        {"colour", {3, JCS_RGB, JCS_YCbCr, rgb}, rgbWords},
        {"progressive", {3, JCS_RGB, JCS_YCbCr, rgb, true}, rgbWords},
        {"grey",
         {1, JCS_GRAYSCALE, JCS_GRAYSCALE, {{0}, {90}, {170}, {255}}},
         {0x000000, 0x5A5A5A, 0xAAAAAA, 0xFFFFFF}},
        {"Adobe CMYK", {4, JCS_CMYK, JCS_CMYK, adobeInks}, inkWords},
        {"Adobe YCCK", {4, JCS_CMYK, JCS_YCCK, adobeInks}, inkWords},
        {"plain CMYK", {4, JCS_CMYK, JCS_CMYK, plainInks, false, false}, inkWords},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteJpeg(Path("variant.png"), c.image); // named .png: the content decides
        Loaded loaded = Load(Path("variant.png"));
        ASSERT_EQ(loaded.result, 1);
        for (int block = 0; block < 4; ++block) {
            uint32_t word = loaded.pixels[(block / 2 * 16 + 8) * 32 + block % 2 * 16 + 8];
            for (int shift = 0; shift < 24; shift += 8) {
                EXPECT_NEAR(word >> shift & 255, c.expected[block] >> shift & 255, 6) << block;
            }
        }
        for (uint32_t i = 0; i < 32 * 32; ++i) ASSERT_EQ(loaded.pixels[i] >> 24, 0u) << i;
        for (uint32_t i = 32 * 32; i < 640 * 480; ++i) ASSERT_EQ(loaded.pixels[i], 0u) << i;
    }
}

TEST_F(PictureTest, BrokenFilesFailCleanly) {
    WritePng(Path("good.png"), Pattern(64, 64));
    WriteJpeg(Path("good.jpg"), {1, JCS_GRAYSCALE, JCS_GRAYSCALE, {{0}, {0}, {0}, {0}}});
    Bytes png = ReadFile(Path("good.png")), jpeg = ReadFile(Path("good.jpg"));
    Bytes badCrc = png;
    badCrc[17] ^= 1; // the width, under the IHDR checksum
    std::mt19937 random(7);
    auto noiseAfter = [&](const Bytes& file, long signature) {
        Bytes bytes(file.begin(), file.begin() + signature);
        for (int i = 0; i < 300; ++i) bytes.push_back(uint8_t(random()));
        return bytes;
    };
    auto cut = [](const Bytes& file, long size) {
        return Bytes(file.begin(), file.begin() + size);
    };
    std::string load = "Couldn't load " + Path("broken") + "\n",
                header = "Couldn't get BitMapHeader\n";
    struct {
        const char* name;
        Bytes bytes;
        std::string output;
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("broken"), c.bytes);
        Loaded loaded = Load(Path("broken"));
        EXPECT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.output, c.output);
        EXPECT_EQ(loaded.pixels, &untouched);
    }
    std::filesystem::remove(Path("broken"));
    std::filesystem::create_directory(Path("broken"));
    Loaded directory = Load(Path("broken"));
    EXPECT_EQ(directory.result, 0);
    EXPECT_EQ(directory.output, load);
}

TEST_F(PictureTest, AFileCutAfterItsHeaderKeepsWhatWasDecoded) {
    WritePng(Path("good.png"), Pattern(64, 64));
    Bytes png = ReadFile(Path("good.png"));
    WriteFile(Path("cut.png"), Bytes(png.begin(), png.begin() + long(png.size() / 2)));
    Loaded cutPng = Load(Path("cut.png"));
    ASSERT_EQ(cutPng.result, 1);
    for (uint32_t i = 0; i < 64 * 20; ++i) ASSERT_EQ(cutPng.pixels[i], PatternWord(i % 64, i / 64));
    for (uint32_t i = 64 * 40; i < 640 * 480; ++i) ASSERT_EQ(cutPng.pixels[i], 0u) << i;

    WriteJpeg(Path("good.jpg"),
              {3, JCS_RGB, JCS_YCbCr, {{9, 9, 9}, {99, 9, 9}, {9, 99, 9}, {9, 9, 99}}, true});
    Bytes jpeg = ReadFile(Path("good.jpg"));
    WriteFile(Path("cut.jpg"), Bytes(jpeg.begin(), jpeg.begin() + long(jpeg.size() * 3 / 4)));
    Loaded cutJpeg = Load(Path("cut.jpg"));
    ASSERT_EQ(cutJpeg.result, 1);
    for (uint32_t i = 32 * 32; i < 640 * 480; ++i) ASSERT_EQ(cutJpeg.pixels[i], 0u) << i;
}

TEST_F(PictureTest, HugePicturesAreRefusedBeforeAnythingIsAllocated) {
    WritePng(Path("huge.png"), {65535, 65535, PNG_COLOR_TYPE_RGB, 8, {0}}, true);
    WriteJpeg(Path("huge.jpg"), {1, JCS_GRAYSCALE, JCS_GRAYSCALE, {{0}, {0}, {0}, {0}}});
    Bytes jpeg = ReadFile(Path("huge.jpg"));
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) { // the frame header: 3000 rows of 4000
            jpeg[i + 5] = 3000 >> 8, jpeg[i + 6] = 3000 & 255, jpeg[i + 7] = 4000 >> 8,
                     jpeg[i + 8] = 4000 & 255;
            break;
        }
    }
    WriteFile(Path("huge.jpg"), jpeg);
    for (const char* name : {"huge.png", "huge.jpg"}) {
        testing::internal::CaptureStderr();
        Loaded huge = Load(Path(name));
        std::string reason = testing::internal::GetCapturedStderr();
        EXPECT_EQ(huge.result, 0);
        EXPECT_EQ(huge.output, "Couldn't load " + Path(name) + "\n");
        EXPECT_EQ(huge.pixels, &untouched);
        EXPECT_NE(reason.find("do not fit"), std::string::npos) << reason;
    }
}

// The pictures the build draws for the demo.
TEST(DefaultPictures, TheReliefIsOpaqueAndTheLogoSitsOnAKeyedOutBackground) {
    std::string build = BUMPWAVE_BUILD_DIR;
    Loaded relief = Load(build + "/bumpmap.png");
    ASSERT_EQ(relief.result, 1);
    for (uint32_t i = 0; i < 640 * 480; ++i) ASSERT_EQ(relief.pixels[i] >> 24, 0u) << i;
    EXPECT_NE(relief.pixels[640 * 480 - 1], 0u); // a smaller picture leaves the end zeroed

    Loaded logo = Load(build + "/boys.jpg");
    ASSERT_EQ(logo.result, 1);
    EXPECT_NE(logo.pixels[320 * 200 - 1], 0u);
    for (uint32_t i = 320 * 200; i < 640 * 480; ++i) ASSERT_EQ(logo.pixels[i], 0u) << i;
    int shown = 0;
    for (uint32_t y = 0; y < 200; ++y) {
        for (uint32_t x = 0; x < 320; ++x) {
            uint32_t word = logo.pixels[y * 320 + x];
            if (x < 8 || x >= 312 || y < 8 || y >= 192) { // the margin vanishes, all of it
                ASSERT_GE(word & 255, 0xF0u) << x << "," << y;
                ASSERT_GE(word >> 8 & 255, 0xF0u) << x << "," << y;
                ASSERT_GE(word >> 16, 0xF0u) << x << "," << y;
            }
            shown += word < 0x00F0F0F0;
        }
    }
    EXPECT_GT(shown, 320 * 200 / 10);
}

} // namespace
