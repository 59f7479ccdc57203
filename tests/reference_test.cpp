// The fast plasma and dot grid against the rules written out literally, frame
// after frame, for several seeds, with and without the picture, on both the
// vectorised and the portable paths.
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "effects/vector_path.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

constexpr int W = FrameWidth, H = FrameHeight;

int Byte(float value) {
    return static_cast<int>(value) & 255;
}

void LiteralPlasma(std::vector<uint32_t>& frame, const uint32_t* picture, PlasmaPhaseSet& p) {
    for (int y = 0; y < H; ++y) {
        int iR = p.redRowPhase + y, iG = p.greenRowPhase + y, iB = p.blueRowPhase + y;
        if (iR > 479) iR -= 480;
        if (iG > 479) iG -= 480;
        if (iB > 479) iB -= 480;
        for (int x = 0; x < W; ++x) {
            int jR = p.redColumnPhase + x, jG = p.greenColumnPhase + x, jB = p.blueColumnPhase + x;
            if (jR > 639) jR -= 640;
            if (jG > 639) jG -= 640;
            if (jB > 639) jB -= 640;
            uint32_t red = (Byte(PlasmaRowWave[iR]) + Byte(PlasmaColumnWave[jR])) / 2;
            uint32_t green = (Byte(PlasmaRowWave[iG]) + Byte(PlasmaColumnWave[jG])) / 2;
            uint32_t blue = (Byte(PlasmaRowWave[iB]) + Byte(PlasmaColumnWave[jB])) / 2;
            frame[y * W + x] = red << 16 | green << 8 | blue;
        }
    }
    p = {(p.redRowPhase + 1) % 480,      (p.greenRowPhase + 2) % 480,
         (p.blueRowPhase + 3) % 480,     (p.redColumnPhase + 1) % 640,
         (p.greenColumnPhase + 2) % 640, (p.blueColumnPhase + 3) % 640};
    if (!picture) return;
    for (int k = 0; k < 200; ++k) {
        for (int m = 0; m < 320; ++m) {
            uint32_t w = picture[320 * k + m];
            if (w < 0x00F0F0F0u) frame[(280 + k) * W + 160 + m] = w;
        }
    }
}

void LiteralDots(std::vector<uint32_t>& frame, uint32_t& rowCounter, uint32_t& columnCounter) {
    for (uint32_t r = 50; r < 430; r += 4) {
        uint32_t colour = r < 160 ? 0x00008400u : r < 320 ? 0x00FFFFFFu : 0x00FF0000u;
        for (uint32_t c = 50; c < 590; c += 4) {
            uint32_t p = r * c;
            int y = static_cast<int>(static_cast<float>(r) + DotRowWave[(p + rowCounter) % 480]);
            if (y < 0)
                y += 480;
            else if (y > 479)
                y -= 480;
            if (y < 51 || y > 429) continue;
            int x =
                static_cast<int>(static_cast<float>(c) + DotColumnWave[(p + columnCounter) % 640]);
            if (x < 0)
                x += 640;
            else if (x > 639)
                x -= 640;
            if (x < 51 || x > 589) continue;
            frame[y * W + x] = frame[y * W + x + 1] = colour;
            frame[(y + 1) * W + x] = frame[(y + 1) * W + x + 1] = colour;
        }
    }
    columnCounter = (columnCounter + 1) % 640;
    rowCounter = (rowCounter + 1) % 480;
}

} // namespace

TEST(Reference, FastRenderersDrawTheLiteralFramesBitForBit) {
    std::vector<uint32_t> picture(W * H);
    std::mt19937 random(11);
    // Mostly keyed-out white with opaque strokes, some alpha and some near-key words.
    for (uint32_t& word : picture) {
        uint32_t roll = random() % 8;
        word = roll < 4 ? 0x00FFFFFFu : roll < 6 ? random() & 0x00FFFFFFu : random();
    }
    BitMap* frame = p96AllocBitMap(W, H);
    ASSERT_NE(frame, nullptr);
    const bool avx2 = UseAvx2;
    for (unsigned seed : {1u, 42u, 2026u}) {
        for (bool vectorised : {false, avx2}) {
            UseAvx2 = vectorised;
            ASSERT_TRUE(InitEffects(seed));
            DotRowCounter = DotColumnCounter = 0;
            PlasmaPhaseSet phases = PlasmaPhases;
            uint32_t rowCounter = 0, columnCounter = 0;
            std::vector<uint32_t> expected(W * H);
            for (int step = 0; step < 40; ++step) {
                // Fade the tables now and then, as the timeline does.
                if (step % 10 == 5) BuildPlasmaWaves(255 - step, step);
                const uint32_t* overlay = step % 3 == 0 ? picture.data() : nullptr;
                LiteralPlasma(expected, overlay, phases);
                RenderPlasma(frame, overlay);
                if (step % 2) {
                    LiteralDots(expected, rowCounter, columnCounter);
                    RenderDotGrid(frame);
                }
                ASSERT_EQ(std::vector<uint32_t>(frame->pixels, frame->pixels + W * H), expected)
                    << "seed " << seed << " frame " << step << " avx2 " << vectorised;
            }
            FreeWaveTables();
        }
    }
    UseAvx2 = avx2;
    p96FreeBitMap(frame);
}

TEST(Reference, PaddedRowsGetTheSamePixelsAndKeepTheirPadding) {
    const int rowWords = (2560 + 72) / 4;
    BitMap* packed = p96AllocBitMap(W, H);
    BitMap* padded = p96AllocBitMap(W, H, rowWords * 4);
    ASSERT_TRUE(packed && padded);
    for (int i = 0; i < rowWords * H; ++i) padded->pixels[i] = 0x00ABCDEF;
    std::vector<uint32_t> picture(W * H, 0x00123456);
    ASSERT_TRUE(InitEffects(77));
    for (BitMap* frame : {packed, padded}) {
        PlasmaPhases = {1, 2, 3, 4, 5, 6};
        DotRowCounter = DotColumnCounter = 9;
        RenderPlasma(frame, picture.data());
        RenderDotGrid(frame);
    }
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(padded->pixels[y * rowWords + x], packed->pixels[y * W + x]) << x << "," << y;
        for (int x = W; x < rowWords; ++x) ASSERT_EQ(padded->pixels[y * rowWords + x], 0x00ABCDEFu);
    }
    FreeWaveTables();
    p96FreeBitMap(packed);
    p96FreeBitMap(padded);
}
