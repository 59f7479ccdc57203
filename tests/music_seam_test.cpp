// The streaming loop against a decoder that hands out whole frames of scripted streams, as
// vorbisfile does, and a device that plays a write only when it is waited for.
#include "assets/music.h"
#include "platform/audio.h"

#include <gtest/gtest.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <deque>
#include <vector>

static constexpr long Forever = -1000; // a script step: holes without end

struct Step {
    long bytes; // > 0: that many bytes, handed out 840 at a time; <= 0: that result
    int channels = 2;
    long rate = 44100;
};

static struct {
    size_t at = 0, reads = 0, writes = 0; // at: the step being read
    std::string decoded, played;
    std::u32string formats; // rate and channel count of each byte decoded
    std::deque<SoundBlock*> queued;
    SoundBlock first{}, second{};
} R;

static long Read(void* decoder, char* buffer, int length, long* rate, int* channels) {
    auto& script = *static_cast<std::vector<Step>*>(decoder);
    ++R.reads;
    if (R.at == script.size()) return 0;
    Step& step = script[R.at];
    if (step.bytes == Forever) return OV_HOLE;
    if (step.bytes <= 0) return script[R.at++].bytes;
    const int frame = 2 * step.channels;
    if (length < frame) return OV_EINVAL; // as ov_read says it
    long count = std::min<long>({step.bytes, 840, length / frame * frame});
    // No two bytes 4096 apart alike, so that a stale buffer is heard.
    for (long i = 0; i < count; ++i)
        buffer[i] = static_cast<char>((R.decoded.size() + i) * 2654435761u >> 24);
    R.decoded.append(buffer, static_cast<size_t>(count));
    R.formats.append(static_cast<size_t>(count), static_cast<char32_t>(step.rate * 32 + frame));
    *rate = step.rate;
    *channels = step.channels;
    if ((step.bytes -= count) == 0) ++R.at;
    return count;
}

// The blocks take turns, the second first.
static void Send(SoundBlock* block) {
    EXPECT_EQ(block, R.writes % 2 ? &R.first : &R.second);
    ++R.writes;
    R.queued.emplace_back(block)->pending = true;
}

// Plays in order, one format a write, and reads a write only as it finishes it, so a buffer
// refilled too early is heard.
static void Wait(SoundBlock* block) {
    while (block->pending) {
        SoundBlock* done = R.queued.front();
        R.queued.pop_front();
        EXPECT_EQ(R.formats.substr(R.played.size(), done->length),
                  std::u32string(done->length, done->rate * 32 + 2 * done->channels));
        R.played.append(static_cast<const char*>(done->data), done->length);
        done->pending = false;
    }
}

TEST(MusicStream, PlaysEveryStreamWholeInFullWritesUntilItsEndAnErrorOrEndlessHoles) {
    std::vector<Step> holes(3 * 41, {OV_HOLE}); // 40 in a row are not yet too many
    holes[0] = holes[41] = holes[82] = {1000};
    struct {
        std::vector<Step> script; // read, and so used up
        size_t played, writes;    // each stream's writes full but its last
    } cases[] = {
        {{{3 * 4096}}, 3 * 4096, 3},
        {{{2 * 4096 + 4}}, 2 * 4096 + 4, 3},
        {{{20004, 3, 48000}}, 20004, 5}, // 4096 bytes hold no whole number of 3-channel frames
        {{{5000, 2}, {7200, 6, 48000}, {3000, 1, 22050}, {4094, 1, 22050}, {12, 6}}, 19306, 7},
        {{{4088}, {1200, 6}}, 5288, 2}, // no whole frame of the second fits behind the first
        {{}, 0, 0},                     // the end,
        {{{5000}, {OV_EREAD}, {3000}}, 5000, 2}, // an error,
        {holes, 3000, 1},                        // not holes,
        {{{100}, {Forever}}, 100, 1}};           // but endless holes end the music
    for (auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        R = {};
        StreamMusic({Read, Send, Wait, [](SoundBlock* b) { return !b->pending; }}, &c.script,
                    &R.first, &R.second);
        EXPECT_EQ(R.played, R.decoded); // in whole, both writes waited for before the end
        EXPECT_EQ(R.played.size(), c.played);
        EXPECT_EQ(R.writes, c.writes);
        EXPECT_LT(R.reads, 1000u);
    }
}
