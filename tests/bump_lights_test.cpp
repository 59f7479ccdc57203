#include "effects/bump_lights.h"
#include "effects/tables.h"
#include "effects/vector_path.h"
#include "tests/literal_effects.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int Pixels = FrameWidth * FrameHeight;

std::vector<uint32_t> ReferenceFrame(const std::vector<uint32_t>& picture) {
    std::vector<uint32_t> frame(Pixels);
    literal::BumpLights(frame.data(), picture.data());
    return frame;
}

class BumpLights : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InitEffects(7));
        frame = AllocateFrame(FrameWidth, FrameHeight);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override {
        FreeFrame(frame);
        FreeWaveTables();
    }
    uint32_t Pixel(int x, int y) const { return frame->pixels[y * FrameWidth + x]; }
    std::vector<uint32_t> Drawn() const { return {frame->pixels, frame->pixels + Pixels}; }
    // Lights at positions whose flat-picture spot entry is 0 draw nothing.
    void PlaceLights(Light red, Light green = {200, 200, 1, 1}, Light blue = {300, 300, 1, 1}) {
        redLight = red;
        greenLight = green;
        blueLight = blue;
    }
    Frame* frame = nullptr;
    std::vector<uint32_t> flat = std::vector<uint32_t>(Pixels, 0xFF808080);
};

} // namespace

TEST_F(BumpLights, FlatPictureLevelsFollowTheLightPosition) {
    PlaceLights({100, 100, 1, 1});
    RenderBumpLights(frame, flat.data());
    EXPECT_EQ(Pixel(163, 163), 92u << 16);
    EXPECT_EQ(Pixel(132, 163), 47u << 16);
    EXPECT_EQ(Pixel(101, 163), 1u << 16);
    EXPECT_EQ(Pixel(100, 163), 0u); // the window starts at x + 1
    EXPECT_EQ(Pixel(227, 163), 0u); // window column 127 is never lit

    PlaceLights({128, 128, 1, 1});
    RenderBumpLights(frame, flat.data());
    EXPECT_EQ(Pixel(191, 191), 0x00F00000u);

    // A float product gives 146 here; a double product would give 145.
    PlaceLights({108, 120, 1, 1});
    RenderBumpLights(frame, flat.data());
    EXPECT_EQ(Pixel(164, 183), 146u << 16);
}

TEST_F(BumpLights, LightsAtDarkSpotEntriesDrawNothing) {
    for (int origin : {200, 300, 192}) {
        PlaceLights({origin, origin, 1, 1}, {origin, origin, 1, 1}, {origin, origin, 1, 1});
        RenderBumpLights(frame, flat.data());
        for (int i = 0; i < Pixels; ++i) ASSERT_EQ(frame->pixels[i], 0u) << origin << " " << i;
    }
}

TEST_F(BumpLights, EachLightWritesOnlyItsChannelAndOverlapsCombine) {
    // Blue at (384, 256) reduces to u = v = 64 as well, in a window of its own.
    PlaceLights({128, 128, 1, 1}, {128, 128, 1, 1}, {384, 256, 1, 1});
    RenderBumpLights(frame, flat.data());
    EXPECT_EQ(Pixel(191, 191), 0x00F0F000u); // red and green share a window
    EXPECT_EQ(Pixel(447, 319), 0x000000F0u);
    EXPECT_EQ(Pixel(300, 100), 0u);
    for (int i = 0; i < Pixels; ++i) {
        uint32_t p = frame->pixels[i];
        ASSERT_EQ(p & 0xFF000000u, 0u);
        ASSERT_LE(p >> 16 & 255, 240u);
        ASSERT_LE(p >> 8 & 255, 240u);
        ASSERT_LE(p & 255, 240u);
    }
}

TEST_F(BumpLights, LightsBounceJustPastTheLimits) {
    PlaceLights({500, 341, 3, 1}, {501, 100, 1, 1}, {12, 12, -2, -2});
    RenderBumpLights(frame, flat.data());
    EXPECT_EQ(redLight.x, 503);
    EXPECT_EQ(redLight.dx, -3);
    EXPECT_EQ(redLight.y, 342);
    EXPECT_EQ(redLight.dy, -1);
    EXPECT_EQ(greenLight.x, 502);
    EXPECT_EQ(greenLight.dx, -1);
    EXPECT_EQ(blueLight.x, 10);
    EXPECT_EQ(blueLight.dx, 2);
    EXPECT_EQ(blueLight.dy, 2);
    RenderBumpLights(frame, flat.data());
    EXPECT_EQ(redLight.x, 500);
    EXPECT_EQ(redLight.dx, -3);

    PlaceLights({498, 338, 3, 3});
    RenderBumpLights(frame, flat.data());
    EXPECT_EQ(redLight.x, 501); // exactly on the limit keeps its direction
    EXPECT_EQ(redLight.dx, 3);
    EXPECT_EQ(redLight.y, 341);
    EXPECT_EQ(redLight.dy, 3);
}

TEST_F(BumpLights, AFailedLockDrawsNothingButTheLightsStillMove) {
    for (int i = 0; i < Pixels; ++i) frame->pixels[i] = 0x12345678u;
    PlaceLights({128, 128, 2, 3});
    FailNextLock(frame);
    RenderBumpLights(frame, flat.data());
    for (int i = 0; i < Pixels; ++i) ASSERT_EQ(frame->pixels[i], 0x12345678u);
    EXPECT_EQ(redLight.x, 130);
    EXPECT_EQ(redLight.y, 131);
}

TEST_F(BumpLights, BothPathsMatchTheReferenceOverSharpEdgesForManyFrames) {
    // Random channels make steps of up to ±255, so u and v also run below 0
    // near the top-left limits and far above 127 elsewhere.
    std::mt19937 random(99);
    std::vector<uint32_t> picture(Pixels);
    for (uint32_t& word : picture) word = random();
    const bool avx2 = UseAvx2;
    for (bool vectorised : {false, avx2}) {
        UseAvx2 = vectorised;
        PlaceLights({9, 9, -1, -2}, {200, 200, 3, 1}, {480, 330, 2, 3});
        for (int step = 0; step < 60; ++step) {
            std::vector<uint32_t> expected = ReferenceFrame(picture);
            RenderBumpLights(frame, picture.data());
            ASSERT_EQ(Drawn(), expected) << "frame " << step << " avx2 " << vectorised;
        }
    }
    UseAvx2 = avx2;
}

TEST_F(BumpLights, HonoursAPaddedStride) {
    Frame* padded = AllocateFrame(FrameWidth, FrameHeight, 2560 + 48);
    ASSERT_NE(padded, nullptr);
    const int rowWords = (2560 + 48) / 4;
    for (int i = 0; i < rowWords * FrameHeight; ++i) padded->pixels[i] = 0xDEADBEEF;
    std::vector<uint32_t> picture(Pixels);
    for (int i = 0; i < Pixels; ++i) picture[i] = (i * 2654435761u) >> 8;
    Light red = redLight, green = greenLight, blue = blueLight;
    RenderBumpLights(frame, picture.data());
    PlaceLights(red, green, blue);
    RenderBumpLights(padded, picture.data());
    for (int y = 0; y < FrameHeight; ++y) {
        for (int x = 0; x < FrameWidth; ++x)
            ASSERT_EQ(padded->pixels[y * rowWords + x], Pixel(x, y)) << x << "," << y;
        for (int x = FrameWidth; x < rowWords; ++x) ASSERT_EQ(padded->pixels[y * rowWords + x], 0u);
    }
    FreeFrame(padded);
}
