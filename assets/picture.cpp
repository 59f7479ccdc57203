// PictureFile loading: PNG through libpng, JPEG through libjpeg(-turbo), both
// decoded straight into the 640 × 480 word buffer the effects read.
//
// Both libraries report errors with longjmp. Every function that calls into
// them sets its own jump point first and keeps nothing in locals across it:
// what must survive an error lives in the PictureFile record.
#include "assets/picture.h"

#include "platform/files.h"

#include <cstdio> // before jpeglib.h, which needs FILE

#include <jpeglib.h>
#include <png.h>

#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// The decoders write B, G, R, A bytes; that is 0xAARRGGBB only in little-endian words.
static_assert(std::endian::native == std::endian::little);

constexpr uint64_t MaxPixels = PictureBufferBytes / 4;
// libjpeg-turbo's own limit on the scans of a progressive JPEG, as TurboJPEG
// sets it when asked to limit them: each scan goes over the whole picture,
// and a small file can hold hundreds of thousands.
constexpr int MaxJpegScans = 500;
// Chunks of a PNG the demo has no use for, skipped unread: compressed text
// and profiles could take long to inflate.
constexpr png_byte UnusedPngChunks[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0"
                                       "pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";

enum Format { Unknown, Png, Jpeg };

// One open picture file and its decoder.
struct PictureFile {
    const char* name;
    FILE* file;
    Format format;
    uint32_t width, height;
    png_structp png;
    png_infop info;
    jpeg_error_mgr jpegErrors;
    jmp_buf jpegJump;
    bool refused;                // not a damage that leaves rows to show
    jpeg_decompress_struct jpeg; // its client_data is this record
    jpeg_progress_mgr jpegProgress;
    // Why it failed or was cut short, said once the loader is done; empty if
    // nothing went wrong. Room for the folders looked in.
    char reason[1024];
};

[[gnu::format(printf, 2, 3)]] static void SetReason(PictureFile& p, const char* format, ...) {
    if (p.reason[0]) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(p.reason, sizeof p.reason, format, args);
    va_end(args);
}

// How the demo reads its two pictures: the relief as rows of 640, the logo as
// a packed block of 320 × 200. A narrower or shorter one loads all the same,
// into the front of the cleared buffer, with a word on what that shows.
struct ExpectedPicture {
    const char* name;
    uint32_t width, height;
    const char* uncovered; // what the cleared rows show
};
constexpr ExpectedPicture ExpectedPictures[] = {
    {BumpPictureName, 640, 480, "the lights show no relief below them"},
    {LogoPictureName, 320, 200, "the logo is black below them"},
};

// What the demo expects of a file of this name, if it is one of its pictures.
static const ExpectedPicture* ExpectedOf(const char* name) {
    const char* slash = std::strrchr(name, '/');
    const char* base = slash ? slash + 1 : name;
    for (const ExpectedPicture& e : ExpectedPictures)
        if (std::strcmp(base, e.name) == 0) return &e;
    return nullptr;
}

// Rows are packed at the picture's own width, so any shape of up to 640 × 480
// pixels fits; more would run past the buffer.
static bool FitsBuffer(PictureFile& p) {
    if (uint64_t{p.width} * p.height <= MaxPixels) return true;
    const ExpectedPicture* e = ExpectedOf(p.name);
    if (!e)
        SetReason(p, "%u × %u pixels do not fit the 640 × 480 picture buffer", p.width, p.height);
    else
        SetReason(p,
                  "%u × %u pixels are too many: it must be %u × %u; to make one: convert "
                  "in.jpg -resize %ux%u! %s",
                  p.width, p.height, e->width, e->height, e->width, e->height, e->name);
    return false;
}

// Opens a regular file and tells PNG from JPEG by its first bytes, never by its name.
static bool OpenPicture(PictureFile& p) {
    p.file = OpenDataFile(p.name);
    if (!p.file) {
        SetReason(p, "%s", DescribeOpenFailure(errno).c_str());
        return false;
    }
    unsigned char start[8];
    size_t got = std::fread(start, 1, sizeof start, p.file);
    if (got == sizeof start && png_sig_cmp(start, 0, sizeof start) == 0) {
        p.format = Png;
    } else if (got >= 2 && start[0] == 0xFF && start[1] == 0xD8) {
        p.format = Jpeg;
        std::rewind(p.file); // libjpeg wants to see the start-of-image marker itself
    }
    if (p.format == Unknown) SetReason(p, "neither a PNG nor a JPEG picture");
    return p.format != Unknown;
}

static void PngError(png_structp png, png_const_charp message) {
    SetReason(*static_cast<PictureFile*>(png_get_error_ptr(png)), "%s", message);
    png_longjmp(png, 1);
}

// Warnings are about things libpng already worked around.
static void PngWarning(png_structp, png_const_charp) {}

// Once the rows are whole, libpng would inflate all the image data left to
// find its end, however much there is: the file is read no further.
static void ReadPngBytes(png_structp png, png_bytep data, size_t length) {
    const auto& p = *static_cast<const PictureFile*>(png_get_io_ptr(png));
    const bool interlaced = png_get_interlace_type(png, p.info) != PNG_INTERLACE_NONE;
    // The height is known once the header is read.
    const bool whole = p.height > 0 && (interlaced ? png_get_current_pass_number(png) > 6
                                                   : png_get_current_row_number(png) >= p.height);
    if (whole) png_longjmp(png, 1);
    if (std::fread(data, 1, length, p.file) != length) png_error(png, "Read Error");
}

static bool ReadPngHeader(PictureFile& p) {
    p.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &p, PngError, PngWarning);
    if (p.png) p.info = png_create_info_struct(p.png);
    if (!p.info) return false;
    if (setjmp(png_jmpbuf(p.png))) return false;
    png_set_read_fn(p.png, &p, ReadPngBytes);
    png_set_sig_bytes(p.png, 8);
    png_set_keep_unknown_chunks(p.png, PNG_HANDLE_CHUNK_NEVER, UnusedPngChunks,
                                sizeof UnusedPngChunks / 5);
    // Image data is read and inflated in pieces of this size, and a cut-off
    // file loses the whole piece it ends in: keep it small.
    png_set_compression_buffer_size(p.png, 512);
    png_read_info(p.png, p.info);
    p.width = png_get_image_width(p.png, p.info);
    p.height = png_get_image_height(p.png, p.info);
    return true;
}

// Every kind of PNG arrives as 8-bit B, G, R, A bytes. The overlay shows words
// whose alpha byte is 0, so opaque must be 0: alpha is inverted, and pictures
// without alpha get a filler of 0.
static void SetPngTransforms(png_structp png, png_infop info) {
    png_set_strip_16(png);
    png_set_expand(png); // palettes to RGB, small greys to 8 bits, tRNS to alpha
    png_set_gray_to_rgb(png);
    if ((png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) ||
        png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_invert_alpha(png);
    else
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_set_bgr(png);
}

static void ReadPngRows(PictureFile& p, uint32_t* pixels) {
    SetPngTransforms(p.png, p.info);
    int passes = png_set_interlace_handling(p.png);
    png_read_update_info(p.png, p.info);
    if (png_get_rowbytes(p.png, p.info) != p.width * 4) return; // never write past a row
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < p.height; ++y)
            png_read_row(p.png, reinterpret_cast<png_bytep>(pixels + y * p.width), nullptr);
}

// A cut-off or corrupt file keeps the rows decoded before the damage.
static void DecodePng(PictureFile& p, uint32_t* pixels) {
    if (setjmp(png_jmpbuf(p.png))) return;
    ReadPngRows(p, pixels);
}

static void JpegError(j_common_ptr jpeg) {
    auto& p = *static_cast<PictureFile*>(jpeg->client_data);
    char message[JMSG_LENGTH_MAX];
    jpeg->err->format_message(jpeg, message);
    SetReason(p, "%s", message);
    std::longjmp(p.jpegJump, 1);
}

// Corrupt-data warnings: libjpeg goes on and shows what it can.
static void JpegMessage(j_common_ptr, int) {}

// Called as libjpeg reads each scan, among other times.
static void CountJpegScans(j_common_ptr jpeg) {
    if (reinterpret_cast<j_decompress_ptr>(jpeg)->input_scan_number <= MaxJpegScans) return;
    auto& p = *static_cast<PictureFile*>(jpeg->client_data);
    SetReason(p,
              "a progressive JPEG of more than %d scans: each would go over the whole "
              "picture; to make a plain one: convert in.jpg -interlace none out.jpg",
              MaxJpegScans);
    p.refused = true;
    std::longjmp(p.jpegJump, 1);
}

static bool ReadJpegHeader(PictureFile& p) {
    p.jpeg.err = jpeg_std_error(&p.jpegErrors);
    p.jpegErrors.error_exit = JpegError; // the default one calls exit()
    p.jpegErrors.emit_message = JpegMessage;
    p.jpeg.client_data = &p;
    if (setjmp(p.jpegJump)) return false;
    jpeg_create_decompress(&p.jpeg);
    p.jpegProgress.progress_monitor = CountJpegScans;
    p.jpeg.progress = &p.jpegProgress;
    jpeg_stdio_src(&p.jpeg, p.file);
    jpeg_read_header(&p.jpeg, TRUE);
    p.width = p.jpeg.image_width;
    p.height = p.jpeg.image_height;
    return true;
}

// C, M, Y, K bytes to B, G, R and an alpha of 0, in place. Adobe's CMYK JPEGs
// store inverted inks; others store plain inks.
static void CmykToWords(uint8_t* row, uint32_t width, bool inverted) {
    for (uint32_t x = 0; x < width; ++x, row += 4) {
        int c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        row[0] = static_cast<uint8_t>(y * k / 255);
        row[1] = static_cast<uint8_t>(m * k / 255);
        row[2] = static_cast<uint8_t>(c * k / 255);
        row[3] = 0;
    }
}

static void ReadJpegRows(PictureFile& p, uint32_t* pixels) {
    bool cmyk = p.jpeg.jpeg_color_space == JCS_CMYK || p.jpeg.jpeg_color_space == JCS_YCCK;
    p.jpeg.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&p.jpeg);
    if (p.jpeg.output_width != p.width || p.jpeg.output_height != p.height ||
        p.jpeg.output_components != 4)
        return;
    while (p.jpeg.output_scanline < p.height) {
        uint32_t* row = pixels + p.jpeg.output_scanline * p.width;
        JSAMPROW samples = reinterpret_cast<JSAMPROW>(row);
        jpeg_read_scanlines(&p.jpeg, &samples, 1);
        if (cmyk)
            CmykToWords(samples, p.width, p.jpeg.saw_Adobe_marker);
        else
            for (uint32_t x = 0; x < p.width; ++x) row[x] &= 0x00FFFFFF; // no alpha: opaque
    }
}

static void DecodeJpeg(PictureFile& p, uint32_t* pixels) {
    if (setjmp(p.jpegJump)) {
        // Rows from the one being written on are blank, as if never reached.
        uint32_t done = p.jpeg.output_scanline;
        if (done < p.height)
            std::memset(pixels + done * p.width, 0, (p.height - done) * p.width * 4);
        return;
    }
    ReadJpegRows(p, pixels);
}

static void ClosePicture(PictureFile& p) {
    if (p.png) png_destroy_read_struct(&p.png, &p.info, nullptr);
    jpeg_destroy_decompress(&p.jpeg); // does nothing if never created
    if (p.file) std::fclose(p.file);
}

static void SayIfOutOfShape(const PictureFile& p) {
    const ExpectedPicture* e = ExpectedOf(p.name);
    if (!e || (p.width == e->width && p.height >= e->height)) return;
    uint64_t rows = (uint64_t{p.width} * p.height + e->width - 1) / e->width;
    bool partial = rows < e->height;
    char fill[48];
    if (partial)
        std::snprintf(fill, sizeof fill, "the top %u of %u rows", unsigned(rows), e->height);
    else
        std::snprintf(fill, sizeof fill, "all %u rows", e->height);
    Complain("%s: %u × %u pixels, expected %u × %u; read in rows of %u, it fills %s%s%s%s", p.name,
             p.width, p.height, e->width, e->height, e->width, fill,
             p.width != e->width ? " out of shape" : "", partial ? "; " : "",
             partial ? e->uncovered : "");
}

// The loader's message on stdout, then the reason on stderr.
static int32_t Fail(PictureFile& p, const char* message) {
    std::printf(message, p.name);
    std::fflush(stdout); // before the reason, wherever the two streams go
    if (p.reason[0]) Complain("%s: %s", p.name, p.reason);
    ClosePicture(p);
    return 0;
}

int32_t LoadPicture(const char* name, uint32_t** picture) {
    PictureFile p{};
    p.name = name;
    if (!OpenPicture(p)) return Fail(p, "Couldn't load %s\n");
    if (!(p.format == Png ? ReadPngHeader(p) : ReadJpegHeader(p)))
        return Fail(p, "Couldn't get BitMapHeader\n");
    if (!FitsBuffer(p)) return Fail(p, "Couldn't load %s\n");
    // Cleared: whatever the picture does not cover stays 0.
    auto* pixels = static_cast<uint32_t*>(std::calloc(1, PictureBufferBytes));
    if (!pixels) {
        *picture = nullptr;
        SetReason(p, "no memory for the picture buffer");
        return Fail(p, "Not enough memory\n");
    }
    SayIfOutOfShape(p);
    if (p.format == Png)
        DecodePng(p, pixels);
    else
        DecodeJpeg(p, pixels);
    if (p.refused) {
        std::free(pixels);
        return Fail(p, "Couldn't load %s\n");
    }
    // Damage after the header: the rows before it are shown, and this says why no more.
    if (p.reason[0]) Complain("%s: %s", p.name, p.reason);
    ClosePicture(p);
    *picture = pixels;
    return 1;
}
