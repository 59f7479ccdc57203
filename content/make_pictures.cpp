// bumpwave-make-pictures: draws the demo's own default pictures.
//
//   bumpwave-make-pictures OUTDIR
//
// writes OUTDIR/bumpmap.png, the relief the three lights move over (each
// channel a relief of its own: red bubbles and rings, green wavy ridges, blue
// bricks), and OUTDIR/boys.jpg, the logo pasted over the plasma on a white
// background that the overlay keys out. The output is the same on every run.

#include <cstdio> // before jpeglib.h

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr double Pi = 3.14159265358979323846;

// A fixed-seed generator, so that every build draws the same relief.
struct Random {
    uint32_t state;
    double Next() { // 0 <= value < 1
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / 16777216.0;
    }
    double Between(double low, double high) { return low + (high - low) * Next(); }
};

struct Rgb {
    double r, g, b;
};

struct Image {
    int width, height;
    std::vector<Rgb> pixels;
    Image(int w, int h, Rgb fill) : width(w), height(h), pixels(size_t(w) * h, fill) {}
    Rgb& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bytes;
        auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); };
        for (const Rgb& p : pixels) bytes.insert(bytes.end(), {byte(p.r), byte(p.g), byte(p.b)});
        return bytes;
    }
};

// Red: domes and rings, each with a steep rim that the lights outline.
double Bubbles(int x, int y) {
    static const auto bubbles = [] {
        struct Bubble {
            double x, y, radius;
            bool ring;
        };
        std::vector<Bubble> list;
        Random random{1987};
        for (int i = 0; i < 90; ++i) {
            list.push_back({random.Between(0, 640), random.Between(0, 480), random.Between(10, 40),
                            i % 3 == 0});
        }
        return list;
    }();
    double height = 30;
    for (const auto& b : bubbles) {
        double d = std::hypot(x - b.x, y - b.y) / b.radius;
        double q = b.ring ? (d - 0.7) / 0.3 : d; // a ring is a dome bent round a circle
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
    Random random{uint32_t(row * 97 + column * 13 + 5)};
    double tiltX = random.Between(-0.8, 0.8), tiltY = random.Between(-0.8, 0.8);
    double top = 175 + tiltX * (bx - Width / 2) + tiltY * (by - Height / 2);
    return edge >= Bevel ? top : 60 + (top - 60) * std::sin((edge + 0.5) / Bevel * Pi / 2);
}

Image Relief() {
    Image image(640, 480, {0, 0, 0});
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) image.at(x, y) = {Bubbles(x, y), Ridges(x, y), Bricks(x, y)};
    }
    return image;
}

// A 5 × 7 pixel font, just the letters of the name.
const char* Glyph(char letter) {
    switch (letter) {
    case 'B':
        return "####.#...##...#####.#...##...#####.";
    case 'U':
        return "#...##...##...##...##...##...#.###.";
    case 'M':
        return "#...###.###.#.##.#.##...##...##...#";
    case 'P':
        return "####.#...##...#####.#....#....#....";
    case 'W':
        return "#...##...##...##.#.##.#.###.###...#";
    case 'A':
        return ".###.#...##...#######...##...##...#";
    case 'V':
        return "#...##...##...##...#.#.#..#.#...#..";
    default:
        return "######....#....####.#....#....#####"; // E
    }
}

Rgb FromHsv(double hue, double saturation, double value) {
    auto channel = [&](double n) {
        double k = std::fmod(n + hue / 60, 6);
        return 255 * value * (1 - saturation * std::clamp(std::min(k, 4 - k), 0.0, 1.0));
    };
    return {channel(5), channel(3), channel(1)};
}

// What covers each logo pixel: 0 nothing, 1..8 a letter, 9 the wave.
std::vector<int> LogoShapes(int width, int height) {
    constexpr int Cell = 8;
    std::vector<int> shape(size_t(width) * height, 0);
    const char* lines[] = {"BUMP", "WAVE"};
    for (int line = 0; line < 2; ++line) {
        int left = 44 + line * 48, top = 15 + line * 66;
        for (int i = 0; i < 4; ++i) {
            const char* glyph = Glyph(lines[line][i]);
            for (int cell = 0; cell < 35; ++cell) {
                if (glyph[cell] != '#') continue;
                int x0 = left + i * 6 * Cell + cell % 5 * Cell, y0 = top + cell / 5 * Cell;
                for (int y = y0; y < y0 + Cell; ++y) {
                    for (int x = x0; x < x0 + Cell; ++x)
                        shape[size_t(y) * width + x] = line * 4 + i + 1;
                }
            }
        }
    }
    for (int x = 40; x < 280; ++x) {
        double middle = 163 + 9 * std::sin((x - 40) * 2 * Pi / 80);
        for (int y = int(middle) - 5; y <= int(middle) + 5; ++y) shape[size_t(y) * width + x] = 9;
    }
    return shape;
}

// Bold letters, one hue each and darker towards their feet, bevelled like
// blocks, in a dark outline with a soft drop shadow. Every colour stays below
// 0xF0 in red, so nothing of the logo is keyed out with the white around it.
Image Logo() {
    constexpr int Width = 320, Height = 200, Outline = 3, Shadow = 4, Cell = 8;
    std::vector<int> shape = LogoShapes(Width, Height);
    auto covered = [&](int x, int y, int reach) {
        for (int dy = -reach; dy <= reach; ++dy) {
            for (int dx = -reach; dx <= reach; ++dx) {
                int sx = x + dx, sy = y + dy;
                if (dx * dx + dy * dy > reach * reach + 1) continue;
                if (sx >= 0 && sy >= 0 && sx < Width && sy < Height &&
                    shape[size_t(sy) * Width + sx]) {
                    return true;
                }
            }
        }
        return false;
    };
    Image image(Width, Height, {255, 255, 255});
    const double hues[] = {340, 20, 45, 95, 170, 200, 260, 300};
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            int id = shape[size_t(y) * Width + x];
            if (id == 9) {
                image.at(x, y) = FromHsv(170 + (x - 40) * 0.35, 0.85, 0.8 - 0.03 * (y % 4 == 0));
            } else if (id) {
                int line = (id - 1) / 4, cx = x % Cell, cy = (y - 15 - line * 66) % Cell;
                double value = 0.82 - 0.3 * ((y - 15 - line * 66) / 56.0);
                if (cx < 2 || cy < 2) value += 0.05; // the lit side of each block
                if (cx >= Cell - 2 || cy >= Cell - 2) value -= 0.12;
                image.at(x, y) = FromHsv(hues[id - 1], 0.8, std::min(value, 0.85));
            } else if (covered(x, y, Outline)) {
                image.at(x, y) = {24, 16, 48};
            } else if (covered(x - Shadow, y - Shadow, Outline)) {
                image.at(x, y) = {150, 140, 175};
            }
        }
    }
    return image;
}

// libpng reports errors by longjmp, so the jump point gets a function of its own.
bool WritePngRows(png_structp png, png_infop info, FILE* file, const Image& image,
                  png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

bool WritePng(const std::string& path, const Image& image) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> bytes = image.Bytes();
    std::vector<png_bytep> rows;
    for (int y = 0; y < image.height; ++y) rows.push_back(&bytes[size_t(y) * image.width * 3]);
    bool written = info && WritePngRows(png, info, file, image, rows.data());
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

// Baseline, and without chroma subsampling, which would smear the letters'
// colours into the white around them.
bool WriteJpeg(const std::string& path, const Image& image, int quality) {
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
    jpeg_set_quality(&jpeg, quality, TRUE);
    for (int i = 0; i < jpeg.num_components; ++i) {
        jpeg.comp_info[i].h_samp_factor = jpeg.comp_info[i].v_samp_factor = 1;
    }
    std::vector<uint8_t> bytes = image.Bytes();
    jpeg_start_compress(&jpeg, TRUE);
    while (jpeg.next_scanline < jpeg.image_height) {
        JSAMPROW row = &bytes[size_t(jpeg.next_scanline) * image.width * 3];
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
    if (!WritePng(dir + "/bumpmap.png", Relief()) || !WriteJpeg(dir + "/boys.jpg", Logo(), 92)) {
        std::fprintf(stderr, "bumpwave-make-pictures: cannot write the pictures in %s\n", argv[1]);
        return 1;
    }
    return 0;
}
