#include "effects/tables.h"

#include <gtest/gtest.h>

#include <array>

namespace {

float Spot(int row, int column) {
    return SpotTable[row * SpotSize + column];
}

class Tables : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(InitEffects(1234)); }
    void TearDown() override { FreeWaveTables(); }
};

std::array<int32_t, 12> Draws() {
    const PlasmaPhaseSet& p = PlasmaPhases;
    return {p.redRowPhase,      p.greenRowPhase,   p.blueRowPhase, p.redColumnPhase,
            p.greenColumnPhase, p.blueColumnPhase, redLight.dx,    redLight.dy,
            greenLight.dx,      greenLight.dy,     blueLight.dx,   blueLight.dy};
}

} // namespace

TEST_F(Tables, SpotPeaksAtTheFourMiddleEntriesAndFadesToZero) {
    for (int r : {63, 64}) {
        for (int c : {63, 64}) {
            EXPECT_FLOAT_EQ(Spot(r, c), 247.68629f);
        }
    }
    EXPECT_FLOAT_EQ(Spot(63, 1), 2.8750305f);
    EXPECT_FLOAT_EQ(Spot(32, 32), 72.323807f);
    EXPECT_FLOAT_EQ(Spot(63, 32), 126.7578f);
    EXPECT_EQ(Spot(63, 0), 0.0f);
    EXPECT_EQ(Spot(0, 63), 0.0f);
    EXPECT_EQ(Spot(0, 0), 0.0f);
    EXPECT_FLOAT_EQ(SpotWeight[63 * SpotSize + 63], 0.97131878f);
}

TEST_F(Tables, SpotIsSymmetricAndMirroredWithTheRightLitArea) {
    int lit = 0;
    float largest = 0, largestWeight = 0;
    for (int r = 0; r < SpotSize; ++r) {
        for (int c = 0; c < SpotSize; ++c) {
            float v = Spot(r, c);
            ASSERT_EQ(v, Spot(c, r));
            ASSERT_EQ(v, Spot(127 - r, c));
            ASSERT_EQ(v, Spot(r, 127 - c));
            ASSERT_EQ(SpotWeight[r * SpotSize + c], v / 255.0f);
            bool border = r == 0 || r == 127 || c == 0 || c == 127;
            ASSERT_TRUE(!border || v == 0.0f);
            lit += v > 0;
            largest = std::max(largest, v);
            largestWeight = std::max(largestWeight, SpotWeight[r * SpotSize + c]);
        }
    }
    EXPECT_EQ(lit, 12392);
    EXPECT_EQ(largest, Spot(63, 63));
    EXPECT_LT(largestWeight, 1.0f);
}

TEST_F(Tables, PlasmaWavesSpanOnePeriod) {
    EXPECT_EQ(PlasmaRowWave[0], 128.0f);
    EXPECT_FLOAT_EQ(PlasmaRowWave[1], 129.66238f);
    EXPECT_EQ(PlasmaRowWave[120], 255.0f);
    EXPECT_EQ(PlasmaRowWave[240], 128.0f);
    EXPECT_EQ(PlasmaRowWave[360], 1.0f);
    EXPECT_FLOAT_EQ(PlasmaRowWave[479], 126.33762f);
    EXPECT_EQ(PlasmaColumnWave[0], 255.0f);
    EXPECT_EQ(PlasmaColumnWave[160], 128.0f);
    EXPECT_EQ(PlasmaColumnWave[320], 1.0f);
    // 127.99999999999997 in double, but the table holds floats.
    EXPECT_EQ(PlasmaColumnWave[480], 128.0f);
    EXPECT_FLOAT_EQ(PlasmaColumnWave[639], 254.99388f);

    BuildPlasmaWaves(127, 126);
    EXPECT_EQ(PlasmaRowWave[120], 253.0f);
    EXPECT_EQ(PlasmaRowWave[360], 1.0f);
    EXPECT_EQ(PlasmaColumnWave[320], 1.0f);
}

TEST_F(Tables, DotWavesSpanOnePeriod) {
    EXPECT_EQ(DotColumnWave[0], 0.0f);
    EXPECT_FLOAT_EQ(DotColumnWave[1], 0.24543299f);
    EXPECT_EQ(DotColumnWave[160], 25.0f);
    EXPECT_EQ(DotColumnWave[480], -25.0f);
    EXPECT_EQ(DotRowWave[0], 25.0f);
    EXPECT_EQ(DotRowWave[240], -25.0f);
    EXPECT_FLOAT_EQ(DotRowWave[479], 24.997858f);
    // Not exactly 0: the float sum with 54 must still truncate to 54.
    EXPECT_LT(DotRowWave[360], 0.0f);
    EXPECT_EQ(static_cast<int>(54.0f + DotRowWave[360]), 54);
}

TEST_F(Tables, TwelveDrawsLandInRangeAndRepeatForTheSameSeed) {
    std::array<int32_t, 12> first = Draws();
    for (int i = 0; i < 3; ++i) EXPECT_LT(static_cast<uint32_t>(first[i]), 480u);
    for (int i = 3; i < 6; ++i) EXPECT_LT(static_cast<uint32_t>(first[i]), 640u);
    for (int i = 6; i < 12; ++i) EXPECT_TRUE(first[i] >= 1 && first[i] <= 3);
    EXPECT_EQ(redLight.x, 100);
    EXPECT_EQ(greenLight.y, 200);
    EXPECT_EQ(blueLight.x, 300);

    FreeWaveTables();
    ASSERT_TRUE(InitEffects(1234));
    EXPECT_EQ(Draws(), first);
    // The draws follow srand/rand exactly, in their order.
    std::srand(1234);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(first[i], std::rand() % 480);
    for (int i = 3; i < 6; ++i) EXPECT_EQ(first[i], std::rand() % 640);
    for (int i = 6; i < 12; ++i) EXPECT_EQ(first[i], std::rand() % 3 + 1);
}

namespace {
int allocationsLeft;
void* FailingAllocate(size_t size) {
    return allocationsLeft-- > 0 ? std::malloc(size) : nullptr;
}
} // namespace

TEST(TablesAllocation, AFailedPairStopsTheBuildAndLeavesTheRestToFree) {
    allocationsLeft = 1; // the row wave only
    EXPECT_FALSE(InitEffects(1, FailingAllocate));
    EXPECT_NE(PlasmaRowWave, nullptr);
    EXPECT_EQ(PlasmaColumnWave, nullptr);
    EXPECT_EQ(DotColumnWave, nullptr); // the second pair is never tried
    FreeWaveTables();

    allocationsLeft = 3; // all but DotRowWave
    EXPECT_FALSE(InitEffects(1, FailingAllocate));
    EXPECT_NE(PlasmaColumnWave, nullptr);
    EXPECT_NE(DotColumnWave, nullptr);
    EXPECT_EQ(DotRowWave, nullptr);
    EXPECT_EQ(PlasmaRowWave[120], 255.0f); // built before the failure
    FreeWaveTables();                      // leak-checked under the sanitizer build
    EXPECT_EQ(PlasmaRowWave, nullptr);
}
