// The fast plasma and dot grid against the rules written out literally, frame
// after frame, for several seeds, with and without the picture, on both the
// vectorised and the portable paths.
#include "effects/dot_grid.h"
#include "effects/plasma.h"
#include "effects/tables.h"
#include "effects/vector_path.h"
#include "tests/literal_effects.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using literal::H;
using literal::W;

TEST(Reference, FastRenderersDrawTheLiteralFramesBitForBit) {
    std::vector<uint32_t> picture(W * H);
    std::mt19937 random(11);
    // Mostly keyed-out white with opaque strokes, some alpha and some near-key words.
    for (uint32_t& word : picture) {
        uint32_t roll = random() % 8;
        word = roll < 4 ? 0x00FFFFFFu : roll < 6 ? random() & 0x00FFFFFFu : random();
    }
    Frame* frame = AllocateFrame(W, H);
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
                literal::Plasma(expected.data(), overlay, phases);
                RenderPlasma(frame, overlay);
                if (step % 2) {
                    literal::Dots(expected.data(), rowCounter, columnCounter);
                    RenderDotGrid(frame);
                }
                ASSERT_EQ(std::vector<uint32_t>(frame->pixels, frame->pixels + W * H), expected)
                    << "seed " << seed << " frame " << step << " avx2 " << vectorised;
            }
            FreeWaveTables();
        }
    }
    UseAvx2 = avx2;
    FreeFrame(frame);
}

TEST(Reference, PaddedRowsGetTheSamePixelsAndKeepTheirPadding) {
    const int rowWords = (2560 + 72) / 4;
    Frame* packed = AllocateFrame(W, H);
    Frame* padded = AllocateFrame(W, H, rowWords * 4);
    ASSERT_TRUE(packed && padded);
    for (int i = 0; i < rowWords * H; ++i) padded->pixels[i] = 0x00ABCDEF;
    std::vector<uint32_t> picture(W * H, 0x00123456);
    ASSERT_TRUE(InitEffects(77));
    for (Frame* frame : {packed, padded}) {
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
    FreeFrame(packed);
    FreeFrame(padded);
}
