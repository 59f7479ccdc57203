// The reader against scripted streams in whole frames, as vorbisfile's, and a card often full.
#include "assets/music.h"

#include <gtest/gtest.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <vector>

static constexpr long Forever = -1000; // a script step: holes without end

struct Step {
    long bytes; // > 0: that many bytes, handed out 840 at a time; <= 0: that result
    int channels = 2;
    long rate = 44100;
};

static struct {
    size_t at = 0, reads = 0, puts = 0; // at: the step being read
    std::string decoded, played;        // played: all that was taken, of playable streams
    std::vector<std::tuple<long, int, long>> runs; // rate, channels, bytes of each run taken
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
    for (long i = 0; i < count; ++i) buffer[i] = static_cast<char>((R.decoded.size() + i) * 97);
    if (step.rate >= 1 && step.rate <= 384000 && step.channels <= 8)
        R.decoded.append(buffer, static_cast<size_t>(count));
    *rate = step.rate;
    *channels = step.channels;
    if ((step.bytes -= count) == 0) ++R.at;
    return count;
}

// Refuses every other put that does not wait: what it refused must come again.
static bool Put(const void* data, long bytes, long rate, int channels, bool wait) {
    if (!wait && R.puts++ % 2 == 0) return false;
    EXPECT_EQ(bytes % (2 * channels), 0);
    EXPECT_LE(bytes, std::max(1L, rate / 20) * 2 * channels) << "more than 50 ms at once";
    if (R.runs.empty() || std::get<0>(R.runs.back()) != rate ||
        std::get<1>(R.runs.back()) != channels)
        R.runs.emplace_back(rate, channels, 0);
    std::get<2>(R.runs.back()) += bytes;
    R.played.append(static_cast<const char*>(data), static_cast<size_t>(bytes));
    return true;
}

TEST(MusicStream, PlaysEveryPlayableStreamWholeUntilItsEndAnErrorOrTooManyHoles) {
    std::vector<Step> holes(3 * 65, {OV_HOLE}); // 64 in a row are not yet too many
    holes[0] = holes[65] = holes[130] = {1000};
    struct {
        std::vector<Step> script;                      // read, and so used up
        std::vector<std::tuple<long, int, long>> runs; // as played
        std::string said;                              // on stderr
        int repeats = 1;                               // of each frame, for slow sound
    } cases[] = {
        {{{5000, 2}, {7200, 6, 48000}, {3000, 1, 22050}, {4094, 1, 22050}, {12, 6}},
         {{44100, 2, 5000}, {48000, 6, 7200}, {22050, 1, 7094}, {44100, 6, 12}},
         ""},
        // skipped, with a line, and the music plays on
        {{{1000, 2}, {6000, 2, 700000}, {900, 10}, {5000, 2, 0}, {1000, 1}},
         {{44100, 2, 1000}, {44100, 1, 1000}},
         "bumpwave: testing.ogg: a stream of 2 channels at 700000 Hz: skipped\n"
         "bumpwave: testing.ogg: a stream of 10 channels at 44100 Hz: skipped\n"
         "bumpwave: testing.ogg: a stream of 2 channels at 0 Hz: skipped\n"},
        {{{4000, 1, 2000}},
         {{8000, 1, 16000}},
         "bumpwave: testing.ogg: 2000 Hz music plays 4 times slower than at 8000 Hz: what lasts "
         "1 s at 8000 Hz lasts 4.0 s\n",
         4},
        {{}, {}, ""},                                            // the end,
        {{{5000}, {OV_EREAD}, {3000}}, {{44100, 2, 5000}}, ""},  // an error,
        {holes, {{44100, 2, 3000}}, ""},                         // not 64 holes,
        {{{100}, {OV_HOLE}, {Forever}}, {{44100, 2, 100}}, ""}}; // but 65 end the music
    for (auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        R = {};
        BeginReading();
        testing::internal::CaptureStderr();
        while (PumpMusic(Read, &c.script, Put, false)) {
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.said);
        std::string repeated;
        for (size_t at = 0; at < R.decoded.size(); at += 2)
            for (int i = 0; i < c.repeats; ++i) repeated.append(R.decoded, at, 2);
        EXPECT_EQ(R.played, repeated);
        EXPECT_EQ(R.runs, c.runs);
        EXPECT_FALSE(PumpMusic(Read, &c.script, Put, true)) << "ended for good";
        EXPECT_LT(R.reads, 1000u);
    }
}
