#include "effects/plasma.h"
#include "effects/tables.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int Pixels = FrameWidth * FrameHeight;

class Plasma : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InitEffects(3));
        frame = AllocateFrame(FrameWidth, FrameHeight);
        ASSERT_NE(frame, nullptr);
    }
    void TearDown() override {
        FreeFrame(frame);
        FreeWaveTables();
    }
    uint32_t Pixel(int x, int y) const { return frame->pixels[y * FrameWidth + x]; }
    std::vector<uint32_t> Drawn() const { return {frame->pixels, frame->pixels + Pixels}; }
    Frame* frame = nullptr;
};

} // namespace

TEST(WaveBytes, TruncateTowardZeroAndKeepTheLowEightBits) {
    EXPECT_EQ(WaveByte(255.9f), 255u);
    EXPECT_EQ(WaveByte(256.7f), 0u);
    EXPECT_EQ(WaveByte(-0.5f), 0u);
    EXPECT_EQ(WaveByte(-1.5f), 255u);
    EXPECT_EQ(WaveByte(128.0f), 128u);
    EXPECT_EQ(WaveByte(3e9f), 0u); // beyond 32 bits: defined, not undefined
}

TEST_F(Plasma, PhasesZeroGiveGreyAtTheOrigin) {
    PlasmaPhases = {};
    RenderPlasma(frame, nullptr);
    EXPECT_EQ(Pixel(0, 0), 0x00BFBFBFu); // (128 + 255) / 2 in every channel
}

TEST_F(Plasma, EachChannelReadsItsOwnWrappedPhase) {
    // Distinct wave entries make every byte tell which index it came from.
    for (int i = 0; i < PlasmaRowCount; ++i) PlasmaRowWave[i] = static_cast<float>(i % 200);
    for (int i = 0; i < PlasmaColumnCount; ++i) PlasmaColumnWave[i] = 0.0f;
    PlasmaColumnWave[0] = 200.0f;
    PlasmaPhases = {0, 300, 0, 0, 0, 639};
    RenderPlasma(frame, nullptr);
    // Row 200 takes green from row entry 20; column 1 takes blue from column entry 0.
    EXPECT_EQ(Pixel(5, 200) >> 8 & 255, 20u / 2);
    EXPECT_EQ(Pixel(1, 0) & 255, (0u + 200u) / 2);
    EXPECT_EQ(Pixel(0, 0) & 255, 0u);

    PlasmaPhases = {479, 0, 478, 0, 639, 638};
    RenderPlasma(frame, nullptr);
    EXPECT_EQ(PlasmaPhases.redRowPhase, 0);
    EXPECT_EQ(PlasmaPhases.greenRowPhase, 2);
    EXPECT_EQ(PlasmaPhases.blueRowPhase, 1);
    EXPECT_EQ(PlasmaPhases.redColumnPhase, 1);
    EXPECT_EQ(PlasmaPhases.greenColumnPhase, 1);
    EXPECT_EQ(PlasmaPhases.blueColumnPhase, 1);
}

TEST_F(Plasma, WaveBytesWrapInsideTheFrame) {
    for (int i = 0; i < PlasmaRowCount; ++i) PlasmaRowWave[i] = 256.7f;      // byte 0
    for (int i = 0; i < PlasmaColumnCount; ++i) PlasmaColumnWave[i] = -1.5f; // byte 255
    RenderPlasma(frame, nullptr);
    for (int i = 0; i < Pixels; ++i) ASSERT_EQ(frame->pixels[i], 0x007F7F7Fu);
}

TEST_F(Plasma, OverlayLandsBottomCentreAndKeysOutBrightOrAlphaWords) {
    std::vector<uint32_t> picture(640 * 480, 0x00FFFFFF);
    picture[0] = 0x00000000;
    picture[319] = 0x00F0F0EF;
    picture[320] = 0x00123456;
    picture[63999] = 0x00010203;
    picture[1] = 0x00F0F0F0;
    picture[2] = 0x00FF0000;
    picture[3] = 0xFF000000;
    picture[64000] = 0x00000000; // beyond the block: never read
    const PlasmaPhaseSet phases = PlasmaPhases;
    RenderPlasma(frame, nullptr);
    std::vector<uint32_t> plain = Drawn();
    PlasmaPhases = phases;
    RenderPlasma(frame, picture.data());
    EXPECT_EQ(Pixel(160, 280), 0x00000000u);
    EXPECT_EQ(Pixel(479, 280), 0x00F0F0EFu);
    EXPECT_EQ(Pixel(160, 281), 0x00123456u);
    EXPECT_EQ(Pixel(479, 479), 0x00010203u);
    int changed = 0;
    for (int i = 0; i < Pixels; ++i) changed += frame->pixels[i] != plain[i];
    EXPECT_EQ(changed, 4); // the keyed words and everything outside the block show plasma

    std::vector<uint32_t> white(640 * 480, 0x00FFFFFF);
    PlasmaPhases = phases;
    RenderPlasma(frame, white.data());
    EXPECT_EQ(Drawn(), plain);
}

TEST_F(Plasma, AFailedLockChangesNothingAndTheNextCallDrawsTheSkippedFrame) {
    const PlasmaPhaseSet phases = PlasmaPhases;
    RenderPlasma(frame, nullptr);
    std::vector<uint32_t> expected = Drawn();
    PlasmaPhases = phases;
    for (int i = 0; i < Pixels; ++i) frame->pixels[i] = 0x00ABCDEF;
    FailNextLock(frame);
    RenderPlasma(frame, nullptr);
    for (int i = 0; i < Pixels; ++i) ASSERT_EQ(frame->pixels[i], 0x00ABCDEFu);
    EXPECT_EQ(PlasmaPhases.blueColumnPhase, phases.blueColumnPhase);
    RenderPlasma(frame, nullptr);
    EXPECT_EQ(Drawn(), expected);
}
