// The loader on small files made with libpng and libjpeg (tests/pictures), whole, cut, spoiled.
#include "assets/picture.h"
#include "files.h"

#include <ctime>
#include <optional>
#include <sys/stat.h>

using Words = std::vector<uint32_t>;

static const fs::path Fixtures = SourceDir / "tests" / "pictures";
constexpr size_t BufferWords = PictureBufferBytes / 4;

struct Loaded {
    int32_t result;
    std::string out, err;
    Words pixels = {}; // the whole buffer, if loaded
};

// Loads `path`, written first from `bytes`; only a success sets the pointer, to the heap (freed).
static Loaded Load(const fs::path& path, const std::optional<std::string>& bytes = {}) {
    if (bytes) std::ofstream(path, std::ios::binary) << *bytes;
    uint32_t before, *pixels = &before;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Loaded loaded{LoadPicture(path.c_str(), &pixels), testing::internal::GetCapturedStdout(),
                  testing::internal::GetCapturedStderr()};
    EXPECT_EQ(pixels != &before, loaded.result == 1) << path;
    if (loaded.result) loaded.pixels.assign(pixels, pixels + BufferWords);
    std::free(loaded.result ? pixels : nullptr);
    return loaded;
}

// pattern.png (64 × 48) and interlaced.png (19 × 13) packed at their width; `grey`: hidden.png.
static Words Pattern(uint32_t width, uint32_t rows, bool grey = false) {
    Words words;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < width; ++x)
            words.push_back(grey ? ((x ^ y) & 255) * 0x010101
                                 : (x & 255) << 16 | (y & 255) << 8 | ((x * 7 + y * 3) & 255));
    return words;
}

static uint64_t Checksum(Words words) { // FNV-1a of the loader's whole buffer holding `words`
    uint64_t hash = 14695981039346656037u;
    for (words.resize(BufferWords); uint32_t word : words) hash = (hash ^ word) * 1099511628211u;
    return hash;
}

using Picture = InFolder; // spoiled and renamed copies go to the test's own folder

// Gzipped: hidden.png's image data goes on with 4 GiB of zeros, texts.png holds 999 texts of 8 MB
// of zeros, the scans JPEGs repeat their last scan (over 500 are refused with a word on why).
TEST_F(Picture, EveryKindOfPictureLoadsInAFewHundredthsOfASecondPackedAtItsWidthOpaqueAsAlphaZero) {
    const uint64_t refused = Checksum({});
    // Each JPEG holds four flat blocks; progressive and Adobe's inverted inks decode alike.
    const std::pair<std::string, uint64_t> cases[] = {
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
        {"hidden.png", Checksum(Pattern(640, 480, true))},
        {"texts.png", 7570613578396066597u},
        {"scans-500.jpg", 223281849006809893u},
        {"scans-501.jpg", refused},
        {"scans-200000.jpg", refused},
    };
    for (const auto& [name, checksum] : cases) {
        SCOPED_TRACE(name);
        const fs::path gz = Fixtures / (name + ".gz");
        const fs::path path = fs::exists(gz) ? dir_ / name : Fixtures / name;
        ASSERT_TRUE(!fs::exists(gz) ||
                    std::system(("gunzip <" + gz.string() + " >" + path.string()).c_str()) == 0);
        const std::clock_t start = std::clock(); // the processor time, however busy it is
        Loaded loaded = Load(path);
        EXPECT_LT(std::clock() - start, CLOCKS_PER_SEC / 5);
        EXPECT_EQ(Checksum(loaded.pixels), checksum);
        const std::string said = "Couldn't load " + path.string() + "\nbumpwave: " + path.string() +
                                 ": a progressive JPEG of more than 500 scans: each would go over "
                                 "the whole picture; to make a plain one: convert in.jpg "
                                 "-interlace none out.jpg\n";
        EXPECT_EQ(loaded.out + loaded.err, checksum != refused ? "" : said);
    }
}

TEST_F(Picture, BrokenAndHugeFilesFailCleanlyAndACutAfterTheHeaderKeepsWhatWasDecoded) {
    const std::string png = Slurp(Fixtures / "pattern.png"),
                      jpeg = Slurp(Fixtures / "progressive.jpg");
    const std::string load = "Couldn't load " + (dir_ / "broken").string() + "\n",
                      header = "Couldn't get BitMapHeader\n";
    const std::tuple<const char*, std::string, std::string, const char*> cases[] = {
        {"empty", "", load, ""},
        {"PNG signature only", png.substr(0, 8), header, ""},
        {"an IHDR bit flipped", png.substr(0, 17) + char(png[17] ^ 1) + png.substr(18), header, ""},
        {"cut in the JPEG tables", jpeg.substr(0, 100), header, ""},
        {"PNG header of 65535 × 65535", Slurp(Fixtures / "huge.png"), load, "do not fit"},
        {"700 × 500, a seventh too many", Slurp(Fixtures / "flat-700x500.png"), load, "do not fit"},
    };
    for (const auto& [what, bytes, out, err] : cases) {
        SCOPED_TRACE(what);
        Loaded loaded = Load(dir_ / "broken", bytes); // a load that succeeds says nothing here
        EXPECT_EQ(loaded.out, out);
        EXPECT_NE(loaded.err.find(err), std::string::npos) << loaded.err;
    }
    // A JPEG too large for one of the demo's pictures: the size it must have, how to make it.
    for (auto [name, w, h] :
         {std::tuple{"bumpmap.png", "640", "480"}, {"boys.jpg", "320", "200"}}) {
        const std::string err = Load(dir_ / name, Slurp(Fixtures / "huge.jpg")).err;
        EXPECT_TRUE(err.ends_with(std::string(": 4000 × 3000 pixels are too many: it must be ") +
                                  w + " × " + h + "; to make one: convert in.jpg -resize " + w +
                                  "x" + h + "! " + name + "\n"))
            << err;
    }
    // Not regular files (a fifo without a writer: opening it would wait), or none at all.
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    for (const fs::path& path : {dir_, dir_ / "fifo", dir_ / "missing.png"})
        EXPECT_EQ(Load(path).out, "Couldn't load " + path.string() + "\n");

    // The pattern is stored uncompressed: half the file holds its top rows, and nothing below.
    EXPECT_EQ(Load(dir_ / "cut.jpg", jpeg.substr(0, jpeg.size() * 3 / 4)).result, 1);
    Words top = Load(dir_ / "cut.png", png.substr(0, png.size() / 2)).pixels;
    ASSERT_EQ(top.size(), BufferWords);
    EXPECT_EQ(Words(top.begin(), top.begin() + 64 * 20), Pattern(64, 20));
    EXPECT_EQ(Words(top.begin() + 64 * 40, top.end()), Words(BufferWords - 64 * 40));
}

TEST_F(Picture, APictureNotOfTheShapeTheDemoReadsLoadsWithAWord) {
    const std::string relief = " pixels, expected 640 × 480; read in rows of 640, it fills ",
                      logo = " pixels, expected 320 × 200; read in rows of 320, it fills ",
                      flat = "; the lights show no relief below them",
                      black = "; the logo is black below them";
    const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
        {"bumpmap.png", "320", "240", relief + "the top 120 of 480 rows out of shape" + flat},
        {"bumpmap.png", "640", "400", relief + "the top 400 of 480 rows" + flat},
        {"boys.jpg", "100", "50", logo + "the top 16 of 200 rows out of shape" + black},
        {"boys.jpg", "640", "480", logo + "all 200 rows out of shape"},
        {"bumpmap.png", "640", "480", ""},
        {"boys.jpg", "320", "240", ""},
        {"other.png", "100", "50", ""},
    };
    for (const auto& [name, width, height, said] : cases) {
        const std::string file = "flat-" + width + "x" + height + ".png";
        SCOPED_TRACE(file + " as " + name);
        Loaded loaded = Load(dir_ / name, Slurp(Fixtures / file));
        const auto says = "bumpwave: " + (dir_ / name).string() + ": " + width + " × " + height;
        EXPECT_EQ(loaded.out + loaded.err, said.empty() ? "" : says + said + "\n");
    }
}
