// The streaming loop against a decoder that hands out chosen byte counts and a
// device that plays a write only when it is waited for.
#include "assets/music.h"
#include "platform/audio.h"

#include <gtest/gtest.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <deque>
#include <vector>

namespace {

constexpr long Forever = -1000; // a script step: holes without end

struct Write {
    SoundBlock* block;
    const void* data;
    uint32_t length;
};

std::vector<long> Script; // > 0: up to that many bytes; <= 0: that result
size_t ScriptAt;
long Made; // bytes decoded so far
int Reads;
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

long Read(void*, char* buffer, int length) {
    ++Reads;
    if (ScriptAt == Script.size()) return 0;
    long& step = Script[ScriptAt];
    if (step == Forever) return OV_HOLE;
    if (step <= 0) return Script[ScriptAt++];
    long count = std::min<long>(step, length);
    for (long i = 0; i < count; ++i) buffer[i] = static_cast<char>(Pattern(Made++));
    if ((step -= count) == 0) ++ScriptAt;
    return count;
}

void Send(SoundBlock* block) {
    Writes.push_back({block, block->data, block->length});
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

void Stream(std::vector<long> script) {
    Script = std::move(script);
    ScriptAt = 0;
    Made = Reads = 0;
    Writes.clear();
    Queued.clear();
    Played.clear();
    MostQueued = 0;
    First = Second = SoundBlock{};
    StreamMusic({Read, Send, Wait, Check}, nullptr, &First, &Second);
}

} // namespace

TEST(MusicStream, PlaysStreamsOfAnyLengthWholeWithoutEmptyWrites) {
    for (long total : {1000L, 4096L, 3 * 4096L, 2 * 4096L + 4, 20000L}) {
        SCOPED_TRACE(total);
        std::vector<long> script;
        for (long left = total; left > 0; left -= 700) script.push_back(std::min(700L, left));
        Stream(script);
        EXPECT_EQ(Played, Expected(total));
        EXPECT_EQ(Writes.size(), static_cast<size_t>((total + 4095) / 4096));
        for (const Write& write : Writes) EXPECT_GT(write.length, 0u);
        EXPECT_TRUE(Queued.empty()); // both writes waited for before the end
    }
}

TEST(MusicStream, AnEmptyStreamWritesNothing) {
    Stream({});
    EXPECT_TRUE(Writes.empty());
    EXPECT_TRUE(Played.empty());
}

TEST(MusicStream, AnErrorEndsTheMusicAfterWhatWasDecoded) {
    Stream({5000, OV_EREAD, 3000});
    EXPECT_EQ(Played, Expected(5000));
}

TEST(MusicStream, HolesAreSkippedAndTheRestPlayed) {
    std::vector<long> script = {3000, OV_HOLE, 3000};
    for (int i = 0; i < 40; ++i) script.push_back(OV_HOLE);
    script.push_back(3000);
    Stream(script);
    EXPECT_EQ(Played, Expected(9000));
}

TEST(MusicStream, EndlessHolesEndTheMusic) {
    Stream({100, Forever});
    EXPECT_EQ(Played, Expected(100));
    EXPECT_LT(Reads, 1000);
}

TEST(MusicStream, EachBufferTravelsInItsOwnBlockInTurn) {
    Stream({5 * 4096});
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
