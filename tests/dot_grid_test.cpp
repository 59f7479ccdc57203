#include "effects/dot_grid.h"
#include "effects/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int Pixels = FrameWidth * FrameHeight;
constexpr uint32_t Background = 0x00102030;

class DotGrid : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InitEffects(5));
        DotRowCounter = DotColumnCounter = 0;
        frame = AllocateFrame(FrameWidth, FrameHeight);
        ASSERT_NE(frame, nullptr);
        std::fill(frame->pixels, frame->pixels + Pixels, Background);
    }
    void TearDown() override {
        FreeFrame(frame);
        FreeWaveTables();
    }
    uint32_t Pixel(int x, int y) const { return frame->pixels[y * FrameWidth + x]; }
    void FlattenWaves() {
        std::fill(DotRowWave, DotRowWave + PlasmaRowCount, 0.0f);
        std::fill(DotColumnWave, DotColumnWave + PlasmaColumnCount, 0.0f);
    }
    // Gives every grid point the same push and draws once.
    void PushAll(float down, float right) {
        std::fill(DotRowWave, DotRowWave + PlasmaRowCount, down);
        std::fill(DotColumnWave, DotColumnWave + PlasmaColumnCount, right);
        std::fill(frame->pixels, frame->pixels + Pixels, Background);
        RenderDotGrid(frame);
    }
    int DotPixels() const {
        return static_cast<int>(std::count_if(frame->pixels, frame->pixels + Pixels,
                                              [](uint32_t p) { return p != Background; }));
    }
    Frame* frame = nullptr;
};

} // namespace

TEST_F(DotGrid, ColoursComeInThreeBands) {
    RenderDotGrid(frame);
    EXPECT_EQ(DotColours[0], 0x00008400u);
    EXPECT_EQ(DotColours[159], 0x00008400u);
    EXPECT_EQ(DotColours[160], 0x00FFFFFFu);
    EXPECT_EQ(DotColours[319], 0x00FFFFFFu);
    EXPECT_EQ(DotColours[320], 0x00FF0000u);
    EXPECT_EQ(DotColours[479], 0x00FF0000u);
}

TEST_F(DotGrid, FirstCallPlacesAndDropsDotsByTheWaves) {
    RenderDotGrid(frame);
    // r = 50, c = 58: p = 2900, rows entry 20 (about 24.15), columns entry 340 (about -4.88).
    for (auto [x, y] : {std::pair{53, 74}, {54, 74}, {53, 75}, {54, 75}})
        EXPECT_EQ(Pixel(x, y), 0x00008400u) << x << "," << y;
    // r = c = 50 lands at x = 36, left of the window: nothing there.
    EXPECT_EQ(Pixel(36, 56), Background);
    EXPECT_EQ(Pixel(37, 57), Background);
}

TEST_F(DotGrid, FlatWavesDrawTheWholeGridInsideTheWindow) {
    FlattenWaves();
    RenderDotGrid(frame);
    EXPECT_EQ(DotPixels(), 12596 * 4); // row 50 and column 50 fall outside
    EXPECT_EQ(Pixel(54, 54), 0x00008400u);
    EXPECT_EQ(Pixel(587, 427), 0x00FF0000u);
    EXPECT_EQ(Pixel(50, 54), Background);
    EXPECT_EQ(Pixel(54, 50), Background);
    EXPECT_EQ(Pixel(590, 427), Background);
}

TEST_F(DotGrid, WindowEdgesAndSingleWraps) {
    // Grid row 426 pushed 3 down lands on 429 (drawn, rows 429 and 430); 4 down on 430 (not).
    PushAll(3.0f, 0.0f);
    EXPECT_EQ(Pixel(54, 430), 0x00FF0000u);
    PushAll(4.0f, 0.0f);
    EXPECT_EQ(Pixel(54, 430), Background);
    EXPECT_EQ(Pixel(54, 431), Background);
    // Grid column 586 pushed 3 right lands on 589 (drawn, columns 589 and 590); 4 on 590 (not).
    PushAll(0.0f, 3.0f);
    EXPECT_EQ(Pixel(590, 54), 0x00008400u);
    PushAll(0.0f, 4.0f);
    EXPECT_EQ(Pixel(590, 54), Background);
    // 50 − 53 = −3 wraps to 477 and 426 + 59 = 485 wraps to 5: both outside, after one wrap.
    PushAll(-53.0f, 0.0f);
    EXPECT_EQ(Pixel(54, 477), Background);
    PushAll(59.0f, 0.0f);
    EXPECT_EQ(Pixel(54, 5), Background);
    // 50 − 450 = −400 wraps to 80 and 90 − 590 = −500 wraps to 140: both drawn.
    PushAll(-450.0f, 0.0f);
    EXPECT_EQ(Pixel(54, 80), 0x00008400u);
    PushAll(0.0f, -590.0f);
    EXPECT_EQ(Pixel(140, 54), 0x00008400u);
}

TEST_F(DotGrid, CountersAdvanceOncePerCallEvenWithoutALock) {
    FailNextLock(frame);
    RenderDotGrid(frame);
    EXPECT_EQ(DotPixels(), 0);
    EXPECT_EQ(DotRowCounter, 1u);
    EXPECT_EQ(DotColumnCounter, 1u);
    for (int call = 1; call < 480; ++call) RenderDotGrid(frame);
    EXPECT_EQ(DotRowCounter, 0u);
    EXPECT_EQ(DotColumnCounter, 480u);
    for (int call = 480; call < 640; ++call) RenderDotGrid(frame);
    EXPECT_EQ(DotColumnCounter, 0u);
    EXPECT_EQ(DotRowCounter, 160u);
}

TEST_F(DotGrid, SumsAreFormedInSinglePrecision) {
    // DotRowWave[360] is a hair below 0: in float 54 plus it truncates to 54,
    // in double to 53. After 324 calls, grid point (54, 54) reads entry 360.
    for (int call = 0; call < 324; ++call) RenderDotGrid(frame);
    std::fill(frame->pixels, frame->pixels + Pixels, Background);
    RenderDotGrid(frame);
    EXPECT_EQ(Pixel(63, 54), 0x00008400u);
    EXPECT_EQ(Pixel(63, 53), Background);
}
