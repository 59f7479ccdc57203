// bumpwave-make-pictures OUTDIR: draws the demo's own pictures, the same on
// every run: OUTDIR/bumpmap.png, the relief the three lights move over (red
// bubbles and rings, green wavy ridges, blue bricks), and OUTDIR/boys.jpg, the
// logo pasted over the plasma, on a white that the overlay keys out.

#include <cstdio> // before jpeglib.h

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr double Pi = 3.14159265358979323846;

// A fixed-seed generator, so that every build draws the same relief.
double Between(uint32_t& state, double low, double high) {
    state = state * 1664525u + 1013904223u;
    return low + (high - low) * ((state >> 8) / 16777216.0);
}

using Rgb = std::array<double, 3>;

struct Image {
    int width, height;
    std::vector<uint8_t> bytes; // RGB, a byte a channel, rows top to bottom
};

Image Draw(int width, int height, auto pixel) {
    Image image{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            for (double v : pixel(x, y))
                image.bytes.push_back(uint8_t(std::lround(std::clamp(v, 0.0, 255.0))));
    }
    return image;
}

// Red: domes and rings, each with a steep rim that the lights outline.
double Bubbles(int x, int y) {
    double height = 30;
    uint32_t seed = 1987;
    for (int i = 0; i < 90; ++i) {
        double bx = Between(seed, 0, 640), by = Between(seed, 0, 480),
               radius = Between(seed, 10, 40);
        double d = std::hypot(x - bx, y - by) / radius;
        double q = i % 3 == 0 ? (d - 0.7) / 0.3 : d; // a ring is a dome bent round a circle
        if (q > -1 && q < 1) height = std::max(height, 40 + 200 * std::sqrt(1 - q * q));
    }
    return height;
}

// Green: diagonal ridges that wander, rounded on top with sharp grooves between.
double Ridges(int x, int y) {
    double u = (x + y) * 2 * Pi / 36 + 3.0 * std::sin(x / 83.0) + 2.4 * std::sin(y / 57.0 + 1);
    return 25 + 205 * std::abs(std::sin(u / 2));
}

// Blue: a brick wall with bevelled edges, each brick tilted a little.
double Bricks(int x, int y) {
    constexpr int Width = 64, Height = 32, Mortar = 3, Bevel = 6;
    int row = y / Height;
    int shifted = x + (row % 2) * Width / 2;
    int column = shifted / Width;
    int bx = shifted % Width, by = y % Height;
    int edge = std::min({bx, Width - 1 - bx, by, Height - 1 - by}) - Mortar;
    if (edge < 0) return 20;
    uint32_t seed = row * 97 + column * 13 + 5;
    double tiltX = Between(seed, -0.8, 0.8), tiltY = Between(seed, -0.8, 0.8);
    double top = 175 + tiltX * (bx - Width / 2) + tiltY * (by - Height / 2);
    return edge >= Bevel ? top : 60 + (top - 60) * std::sin((edge + 0.5) / Bevel * Pi / 2);
}

// A 5 × 7 pixel font: the letters of BUMPWAVE in order.
const char* const Letters[8] = {
    "####.#...##...#####.#...##...#####.", "#...##...##...##...##...##...#.###.",
    "#...###.###.#.##.#.##...##...##...#", "####.#...##...#####.#....#....#....",
    "#...##...##...##.#.##.#.###.###...#", ".###.#...##...#######...##...##...#",
    "#...##...##...##...#.#.#..#.#...#..", "######....#....####.#....#....#####"};

Rgb FromHsv(double hue, double saturation, double value) {
    auto channel = [&](double n) {
        double k = std::fmod(n + hue / 60, 6);
        return 255 * value * (1 - saturation * std::clamp(std::min(k, 4 - k), 0.0, 1.0));
    };
    return {channel(5), channel(3), channel(1)};
}

// Bold letters, one hue each and darker towards their feet, bevelled like
// blocks, over a wave, in a dark outline with a soft drop shadow. Every colour
// stays below 0xF0 in red, so nothing of the logo is keyed out with the white.
Image Logo() {
    constexpr int Width = 320, Height = 200, Outline = 3, Shadow = 4, Cell = 8;
    // What covers each pixel: 0 nothing, 1..8 a letter, 9 the wave.
    std::vector<int> shape(Width * Height, 0);
    for (int letter = 0; letter < 8; ++letter) {
        int line = letter / 4, left = 44 + line * 48 + letter % 4 * 6 * Cell, top = 15 + line * 66;
        for (int cell = 0; cell < 35; ++cell) {
            if (Letters[letter][cell] != '#') continue;
            int x = left + cell % 5 * Cell, y = top + cell / 5 * Cell;
            for (int row = y; row < y + Cell; ++row)
                std::fill_n(&shape[row * Width + x], Cell, letter + 1);
        }
    }
    for (int x = 40; x < 280; ++x) {
        double middle = 163 + 9 * std::sin((x - 40) * 2 * Pi / 80);
        for (int y = int(middle) - 5; y <= int(middle) + 5; ++y) shape[y * Width + x] = 9;
    }
    auto at = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < Width && y < Height ? shape[y * Width + x] : 0;
    };
    auto outlined = [&](int x, int y) {
        for (int dy = -Outline; dy <= Outline; ++dy) {
            for (int dx = -Outline; dx <= Outline; ++dx)
                if (dx * dx + dy * dy <= Outline * Outline + 1 && at(x + dx, y + dy)) return true;
        }
        return false;
    };
    const double hues[] = {340, 20, 45, 95, 170, 200, 260, 300};
    return Draw(Width, Height, [&](int x, int y) -> Rgb {
        int id = at(x, y);
        if (id == 9) return FromHsv(170 + (x - 40) * 0.35, 0.85, 0.8 - 0.03 * (y % 4 == 0));
        if (id) {
            int top = 15 + (id - 1) / 4 * 66, cx = x % Cell, cy = (y - top) % Cell;
            double value = 0.82 - 0.3 * ((y - top) / 56.0);
            if (cx < 2 || cy < 2) value += 0.05; // the lit side of each block
            if (cx >= Cell - 2 || cy >= Cell - 2) value -= 0.12;
            return FromHsv(hues[id - 1], 0.8, std::min(value, 0.85));
        }
        if (outlined(x, y)) return {24, 16, 48};
        if (outlined(x - Shadow, y - Shadow)) return {150, 140, 175};
        return {255, 255, 255};
    });
}

// libpng reports errors by longjmp, so the jump point gets a function of its own.
bool WritePngRows(png_structp png, png_infop info, FILE* file, const Image& image) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) png_write_row(png, &image.bytes[y * image.width * 3]);
    png_write_end(png, nullptr);
    return true;
}

bool WritePng(const std::string& path, const Image& image) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written = info && WritePngRows(png, info, file, image);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

// Baseline, and without chroma subsampling, which would smear the letters'
// colours into the white around them.
bool WriteJpeg(const std::string& path, Image image) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    jpeg_compress_struct jpeg;
    jpeg_error_mgr errors;
    jpeg.err = jpeg_std_error(&errors);
    jpeg_create_compress(&jpeg);
    jpeg_stdio_dest(&jpeg, file);
    jpeg.image_width = image.width;
    jpeg.image_height = image.height;
    jpeg.input_components = 3;
    jpeg.in_color_space = JCS_RGB;
    jpeg_set_defaults(&jpeg);
    jpeg_set_quality(&jpeg, 92, TRUE);
    for (int i = 0; i < jpeg.num_components; ++i)
        jpeg.comp_info[i].h_samp_factor = jpeg.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&jpeg, TRUE);
    while (jpeg.next_scanline < jpeg.image_height) {
        JSAMPROW row = &image.bytes[jpeg.next_scanline * image.width * 3];
        jpeg_write_scanlines(&jpeg, &row, 1);
    }
    jpeg_finish_compress(&jpeg);
    jpeg_destroy_compress(&jpeg);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bumpwave-make-pictures OUTDIR\n");
        return 2;
    }
    std::string dir = argv[1];
    Image relief = Draw(640, 480, [](int x, int y) {
        return Rgb{Bubbles(x, y), Ridges(x, y), Bricks(x, y)};
    });
    if (!WritePng(dir + "/bumpmap.png", relief) || !WriteJpeg(dir + "/boys.jpg", Logo())) {
        std::fprintf(stderr, "bumpwave-make-pictures: cannot write the pictures in %s\n", argv[1]);
        return 1;
    }
    return 0;
}
