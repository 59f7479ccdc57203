// The picture loader against small files made once with libpng and libjpeg (tests/pictures),
// and against them cut and spoiled; frames_test's golden frames pin the default pictures.
#include "assets/picture.h"
#include "files.h"

#include <cstdio> // before jpeglib.h, which needs FILE

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <sys/stat.h>

namespace {

using Words = std::vector<uint32_t>;

const fs::path Fixtures = SourceDir / "tests" / "pictures";
constexpr size_t BufferWords = PictureBufferBytes / 4;

struct Loaded {
    int32_t result;
    std::string out, err;
    Words pixels = {}; // the whole buffer, if loaded
};

// Only a load that succeeds sets the pointer; a buffer shared or not from the heap fails its free.
Loaded Load(const fs::path& path) {
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

fs::path Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

using Picture = InFolder; // spoiled and renamed copies go to the test's own folder

TEST_F(Picture, EveryKindOfPictureBecomesWordsPackedAtItsWidthWithOpaqueAsAlphaZero) {
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
    for (const auto& [name, checksum] : cases) { // a failed load prints why and decodes nothing
        Loaded loaded = Load(Fixtures / name);
        EXPECT_EQ(loaded.out + loaded.err, "") << name;
        EXPECT_EQ(Checksum(loaded.pixels), checksum) << name;
    }
}

TEST_F(Picture, BrokenAndHugeFilesFailCleanlyAndACutAfterTheHeaderKeepsWhatWasDecoded) {
    const std::string png = Slurp(Fixtures / "pattern.png"),
                      jpeg = Slurp(Fixtures / "progressive.jpg");
    const std::string load = "Couldn't load " + (dir_ / "broken").string() + "\n",
                      header = "Couldn't get BitMapHeader\n";
    // What, the file, its standard output, a part of its standard error.
    const std::tuple<const char*, std::string, std::string, const char*> cases[] = {
        {"empty", "", load, ""},
        {"PNG signature only", png.substr(0, 8), header, ""},
        {"an IHDR bit flipped", png.substr(0, 17) + char(png[17] ^ 1) + png.substr(18), header, ""},
        {"cut in the JPEG tables", jpeg.substr(0, 100), header, ""},
        {"PNG header of 65535 × 65535", Slurp(Fixtures / "huge.png"), load, "do not fit"},
        {"JPEG header of 4000 × 3000", Slurp(Fixtures / "huge.jpg"), load, "do not fit"},
        {"700 × 500, a seventh too many", Slurp(Fixtures / "flat-700x500.png"), load, "do not fit"},
    };
    for (const auto& [what, bytes, out, err] : cases) {
        SCOPED_TRACE(what);
        Loaded loaded = Load(Write(dir_ / "broken", bytes));
        EXPECT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.out, out);
        EXPECT_NE(loaded.err.find(err), std::string::npos) << loaded.err;
    }
    // Too large for one of the demo's pictures: the size it must have, and how to make it.
    for (const auto& [name, size] :
         {std::pair{"bumpmap.png", "640x480"}, {"boys.jpg", "320x200"}}) {
        const std::string err = Load(Write(dir_ / name, Slurp(Fixtures / "huge.jpg"))).err;
        const std::string must = std::string(size).replace(3, 1, " × ");
        EXPECT_NE(err.find(": 4000 × 3000 pixels are too many: it must be " + must +
                           "; to make one: convert in.jpg -resize " + size + "! " + name + "\n"),
                  std::string::npos)
            << err;
    }
    // Not regular files (a fifo without a writer: opening it would wait), or none at all.
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    for (const fs::path& path : {dir_, dir_ / "fifo", dir_ / "missing.png"})
        EXPECT_EQ(Load(path).out, "Couldn't load " + path.string() + "\n");

    // The pattern is stored uncompressed: half the file holds its top rows, and nothing below.
    EXPECT_EQ(Load(Write(dir_ / "cut.jpg", jpeg.substr(0, jpeg.size() * 3 / 4))).result, 1);
    Words top = Load(Write(dir_ / "cut.png", png.substr(0, png.size() / 2))).pixels;
    ASSERT_EQ(top.size(), BufferWords);
    EXPECT_EQ(Words(top.begin(), top.begin() + 64 * 20), Pattern(64, 20));
    EXPECT_EQ(Words(top.begin() + 64 * 40, top.end()), Words(BufferWords - 64 * 40));
}

std::string Big32(uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

std::string Deflate(z_stream& zip, const std::string& bytes, int flush) {
    std::string out(deflateBound(&zip, bytes.size()) + 64, '\0');
    zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    zip.avail_in = static_cast<uInt>(bytes.size());
    zip.next_out = reinterpret_cast<Bytef*>(out.data());
    zip.avail_out = static_cast<uInt>(out.size());
    deflate(&zip, flush);
    return out.substr(0, out.size() - zip.avail_out);
}

std::string PngChunk(const std::string& type, const std::string& body) {
    const std::string chunk = type + body;
    const auto bytes = reinterpret_cast<const Bytef*>(chunk.data());
    return Big32(uint32_t(body.size())) + chunk +
           Big32(uint32_t(crc32(0, bytes, uInt(chunk.size()))));
}

// The flat 640 × 480 PNG with 999 compressed texts of 8 MB of zeros each after its header.
std::string PngWithTexts() {
    std::string texts, zeros(8'000'000, '\0'), png = Slurp(Fixtures / "flat-640x480.png");
    uLongf size = compressBound(zeros.size());
    std::string text(size, '\0');
    compress2(reinterpret_cast<Bytef*>(text.data()), &size,
              reinterpret_cast<const Bytef*>(zeros.data()), zeros.size(), 9);
    text.resize(size);
    for (int i = 0; i < 999; ++i)
        texts += PngChunk("zTXt", "key" + std::to_string(i) + '\0' + '\0' + text);
    return png.insert(33, texts); // after the signature and the header
}

// A grey 640 × 480 PNG of x ^ y whose image data goes on with `mebibytes` of zeros, deflated
// to a thousandth of that.
std::string PngWithHiddenZeros(uint32_t mebibytes) {
    std::string rows;
    for (int y = 0; y < 480; ++y) {
        rows += '\0'; // no filter
        for (int x = 0; x < 640; ++x) rows += char(x ^ y);
    }
    const std::string zeros(1 << 20, '\0');
    z_stream zip{};
    deflateInit(&zip, 9);
    std::string data = Deflate(zip, rows, Z_FULL_FLUSH), more = Deflate(zip, zeros, Z_FULL_FLUSH);
    uLong sum = adler32(1, reinterpret_cast<const Bytef*>(rows.data()), uInt(rows.size()));
    const uLong zerosSum = adler32(1, reinterpret_cast<const Bytef*>(zeros.data()), 1 << 20);
    for (uint32_t i = 0; i < mebibytes; ++i)
        data += more, sum = adler32_combine(sum, zerosSum, 1 << 20);
    data += Deflate(zip, "", Z_FINISH);
    deflateEnd(&zip);
    data.replace(data.size() - 4, 4, Big32(uint32_t(sum)));
    return "\x89PNG\r\n\x1a\n" +
           PngChunk("IHDR", Big32(640) + Big32(480) + std::string("\x08\0\0\0\0", 5)) +
           PngChunk("IDAT", data) + PngChunk("IEND", "");
}

// A flat grey 640 × 480 progressive JPEG whose last scan is repeated up to `scans` scans.
std::string JpegOfScans(int scans) {
    jpeg_compress_struct jpeg;
    jpeg_error_mgr errors;
    jpeg.err = jpeg_std_error(&errors);
    jpeg_create_compress(&jpeg);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&jpeg, &bytes, &size);
    jpeg.image_width = 640, jpeg.image_height = 480;
    jpeg.input_components = 1, jpeg.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&jpeg);
    jpeg_simple_progression(&jpeg);
    jpeg_start_compress(&jpeg, TRUE);
    std::vector<JSAMPLE> row(640, 128);
    for (JSAMPROW rows = row.data(); jpeg.next_scanline < 480;)
        jpeg_write_scanlines(&jpeg, &rows, 1);
    jpeg_finish_compress(&jpeg);
    std::string file(reinterpret_cast<char*>(bytes), size);
    jpeg_destroy_compress(&jpeg);
    std::free(bytes);
    const size_t last = file.rfind("\xFF\xDA");
    const std::string scan = file.substr(last, file.size() - 2 - last);
    file.resize(file.size() - 2); // the end marker, put back after the scans
    for (int i = jpeg.num_scans; i < scans; ++i) file += scan;
    return file + "\xFF\xD9";
}

double CpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// Loading any picture the buffer holds takes a few hundredths of a second of work, whatever the
// file hides: image data past the last row is never inflated, and a JPEG of more scans than
// libjpeg-turbo's tools take is refused with a word on why.
TEST_F(Picture, AnyPictureLoadsOrIsRefusedInAFewHundredthsOfASecond) {
    const std::string refused = "a progressive JPEG of more than 500 scans";
    const std::tuple<const char*, std::string, int32_t, std::string> cases[] = {
        {"hidden.png", PngWithHiddenZeros(4096), 1, ""}, // 4 MB holding 4 GiB
        {"texts.png", PngWithTexts(), 1, ""},            // 8 MB holding 8 GB
        {"scans-500.jpg", JpegOfScans(500), 1, ""},
        {"scans-501.jpg", JpegOfScans(501), 0, refused},
        {"scans-200000.jpg", JpegOfScans(200000), 0, refused}};
    for (const auto& [name, bytes, result, said] : cases) {
        SCOPED_TRACE(name);
        const fs::path path = Write(dir_ / name, bytes);
        const double start = CpuSeconds();
        Loaded loaded = Load(path);
        EXPECT_LT(CpuSeconds() - start, 0.2);
        EXPECT_EQ(loaded.result, result);
        EXPECT_EQ(loaded.out, result ? "" : "Couldn't load " + path.string() + "\n");
        EXPECT_EQ(loaded.err, said.empty()
                                  ? ""
                                  : "bumpwave: " + path.string() + ": " + said +
                                        ": each would go over the whole picture; to make a plain "
                                        "one: convert in.jpg -interlace none out.jpg\n");
    }
    Words pattern;
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 640; ++x) pattern.push_back(((x ^ y) & 255) * 0x010101);
    EXPECT_EQ(Load(dir_ / "hidden.png").pixels, pattern);
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
        {"boys.jpg", "321", "1", logo + "the top 2 of 200 rows out of shape" + black}, // rounded up
        {"bumpmap.png", "640", "480", ""},
        {"boys.jpg", "320", "240", ""},
        {"other.png", "100", "50", ""},
    };
    for (const auto& [name, width, height, said] : cases) {
        const std::string file = "flat-" + width + "x" + height + ".png";
        SCOPED_TRACE(file + " as " + name);
        Loaded loaded = Load(Write(dir_ / name, Slurp(Fixtures / file)));
        EXPECT_EQ(loaded.result, 1);
        const auto says = "bumpwave: " + (dir_ / name).string() + ": " + width + " × " + height;
        EXPECT_EQ(loaded.out + loaded.err, said.empty() ? "" : says + said + "\n");
    }
}

} // namespace
