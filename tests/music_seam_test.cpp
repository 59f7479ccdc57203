// The streaming loop against a decoder that hands out chosen byte counts, as
// vorbisfile does (whole frames, a chained file's streams one after another),
// and a device that plays a write only when it is waited for.
#include "assets/music.h"
#include "platform/audio.h"

#include <gtest/gtest.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <deque>
#include <vector>

namespace {

constexpr long Forever = -1000; // a script step: holes without end

struct Step {
    long bytes; // > 0: that many bytes, handed out 840 at a time; <= 0: that result
    int channels = 2;
    long rate = 44100;
};

struct Write {
    SoundBlock* block;
    const void* data;
    uint32_t length;
};

std::vector<Step> Script;
size_t ScriptAt;
long Made; // bytes decoded so far
int Reads;
std::vector<int> ChannelsMade; // the channel count of each byte decoded
std::vector<Write> Writes;
std::deque<SoundBlock*> Queued;
std::vector<uint8_t> Played;
size_t MostQueued;

uint8_t Pattern(long k) {
    return static_cast<uint8_t>((static_cast<uint32_t>(k) * 2654435761u) >> 24);
}

std::vector<uint8_t> Expected(long count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    for (long k = 0; k < count; ++k) bytes[static_cast<size_t>(k)] = Pattern(k);
    return bytes;
}

long Read(void*, char* buffer, int length, long* rate, int* channels) {
    ++Reads;
    if (ScriptAt == Script.size()) return 0;
    Step& step = Script[ScriptAt];
    if (step.bytes == Forever) return OV_HOLE;
    if (step.bytes <= 0) return Script[ScriptAt++].bytes;
    const int frame = 2 * step.channels;
    if (length < frame) return OV_EINVAL; // as ov_read says it
    long count = std::min<long>({step.bytes, 840, length / frame * frame});
    for (long i = 0; i < count; ++i) buffer[i] = static_cast<char>(Pattern(Made++));
    ChannelsMade.insert(ChannelsMade.end(), static_cast<size_t>(count), step.channels);
    *rate = step.rate;
    *channels = step.channels;
    if ((step.bytes -= count) == 0) ++ScriptAt;
    return count;
}

void Send(SoundBlock* block) {
    Writes.push_back({block, block->data, block->length});
    // One format a write, in whole frames of it.
    EXPECT_EQ(block->length % (2u * block->channels), 0u);
    size_t at = Played.size();
    for (const SoundBlock* q : Queued) at += q->length;
    EXPECT_EQ(std::count(ChannelsMade.begin() + at, ChannelsMade.begin() + at + block->length,
                         block->channels),
              block->length);
    block->pending = true;
    Queued.push_back(block);
    MostQueued = std::max(MostQueued, Queued.size());
}

// The device plays in order and reads a write's bytes only as it finishes it,
// so a buffer refilled too early is heard.
void Wait(SoundBlock* block) {
    while (block->pending) {
        SoundBlock* done = Queued.front();
        Queued.pop_front();
        auto* bytes = static_cast<const uint8_t*>(done->data);
        Played.insert(Played.end(), bytes, bytes + done->length);
        done->pending = false;
    }
}

bool Check(SoundBlock* block) {
    return !block->pending;
}

SoundBlock First, Second;

void Stream(std::vector<Step> script) {
    Script = std::move(script);
    ScriptAt = 0;
    Made = Reads = 0;
    ChannelsMade.clear();
    Writes.clear();
    Queued.clear();
    Played.clear();
    MostQueued = 0;
    First = Second = SoundBlock{};
    StreamMusic({Read, Send, Wait, Check}, nullptr, &First, &Second);
}

} // namespace

TEST(MusicStream, PlaysStreamsOfAnyLengthAndFormatWholeInFullWrites) {
    const std::vector<std::vector<Step>> cases = {
        {{1000}},
        {{4096}},
        {{3 * 4096}},
        {{2 * 4096 + 4}},
        {{20000}},
        // 4096 bytes hold no whole number of 3- or 6-channel frames
        {{20004, 3}},
        {{20004, 6, 48000}},
        // a chained file: each stream starts a write of its own
        {{5000, 2}, {7200, 6, 48000}, {3000, 1, 22050}, {4094, 1, 22050}, {12, 6}},
        {{4088}, {1200, 6}}}; // no whole frame of the second fits behind the first
    for (const std::vector<Step>& script : cases) {
        SCOPED_TRACE(testing::Message() << script.size() << " streams, first " << script[0].bytes
                                        << " bytes of " << script[0].channels << " channels");
        long total = 0;
        size_t writes = 0;
        for (const Step& s : script) {
            const long full = 4096 / (2 * s.channels) * (2 * s.channels);
            total += s.bytes;
            writes += static_cast<size_t>((s.bytes + full - 1) / full);
        }
        Stream(script);
        EXPECT_EQ(Played, Expected(total));
        EXPECT_EQ(Writes.size(), writes); // every buffer filled, none empty
        EXPECT_TRUE(Queued.empty());      // both writes waited for before the end
    }
}

TEST(MusicStream, TheMusicEndsAtItsEndAnErrorOrEndlessHolesButNotAtAHole) {
    std::vector<Step> holes = {{3000}, {OV_HOLE}, {3000}};
    holes.insert(holes.end(), 40, {OV_HOLE});
    holes.push_back({3000});
    const std::pair<std::vector<Step>, long> cases[] = {
        {{}, 0}, {{{5000}, {OV_EREAD}, {3000}}, 5000}, {holes, 9000}, {{{100}, {Forever}}, 100}};
    for (const auto& [script, played] : cases) {
        SCOPED_TRACE(played);
        Stream(script);
        EXPECT_EQ(Played, Expected(played));
        EXPECT_EQ(Writes.size(), static_cast<size_t>((played + 4095) / 4096));
        EXPECT_LT(Reads, 1000);
    }
}

TEST(MusicStream, EachBufferTravelsInItsOwnBlockInTurn) {
    Stream({{5 * 4096}});
    ASSERT_EQ(Writes.size(), 5u);
    EXPECT_EQ(Writes[0].block, &Second);
    EXPECT_EQ(Writes[1].block, &First);
    EXPECT_NE(Writes[0].data, Writes[1].data);
    for (size_t i = 1; i < Writes.size(); ++i) {
        EXPECT_EQ(Writes[i].block, Writes[i % 2].block);
        EXPECT_EQ(Writes[i].data, Writes[i % 2].data);
    }
    EXPECT_LE(MostQueued, 2u);
    EXPECT_EQ(Played, Expected(5 * 4096));
}
