// The page's music, read on a Web Worker by the demo's one reader, so that the
// page's steps only hand the sound on. music_worker.js writes the music file
// the page posts where the reader looks, then calls these in turn:
//
//   BeginMusic   opens the file, saying why it cannot
//   ReadBlock    the next samples, all of one stream (BlockSamples, BlockRate,
//                BlockChannels say what was read)
//   EndMusic     closes the file, at its end or when the page stops the show
//
// What the reader says (a stream skipped, a file it cannot read) is said in
// the order it reads, between the blocks.
#include "assets/music.h"

#include <emscripten.h>

#include <cstdio>
#include <cstring>

// About a quarter of a second of 44.1 kHz stereo: few messages to the page,
// and a small part of what the worker keeps ahead of it.
static constexpr long BlockBytes = 45056;
static constexpr int ReadBytes = 4096;

// The block being read, and the first read of another stream, which starts
// the next block.
static struct {
    char samples[BlockBytes];
    long bytes, rate;
    int channels;
    char next[ReadBytes];
    long nextBytes, nextRate;
    int nextChannels;
} W;

extern "C" {

EMSCRIPTEN_KEEPALIVE int BeginMusic() {
    W = {};
    bool open = OpenMusicFile();
    std::fflush(stdout);
    return open;
}

// The byte count of the next block, 0 at the end of the music.
EMSCRIPTEN_KEEPALIVE long ReadBlock() {
    W.bytes = W.nextBytes;
    W.rate = W.nextRate;
    W.channels = W.nextChannels;
    std::memcpy(W.samples, W.next, static_cast<size_t>(W.nextBytes));
    W.nextBytes = 0;
    while (W.bytes + ReadBytes <= BlockBytes) {
        long rate;
        int channels;
        char* to = W.samples + W.bytes; // read in place: only another stream's moves aside
        long read = ReadMusic(to, ReadBytes, &rate, &channels);
        if (read <= 0) break;
        if (W.bytes > 0 && (rate != W.rate || channels != W.channels)) {
            std::memcpy(W.next, to, static_cast<size_t>(read));
            W.nextBytes = read;
            W.nextRate = rate;
            W.nextChannels = channels;
            break;
        }
        W.bytes += read;
        W.rate = rate;
        W.channels = channels;
    }
    std::fflush(stdout);
    return W.bytes;
}

EMSCRIPTEN_KEEPALIVE const char* BlockSamples() {
    return W.samples;
}

EMSCRIPTEN_KEEPALIVE long BlockRate() {
    return W.rate;
}

EMSCRIPTEN_KEEPALIVE int BlockChannels() {
    return W.channels;
}

EMSCRIPTEN_KEEPALIVE void EndMusic() {
    CloseMusicFile();
}

} // extern "C"

int main() {
    return 0; // music_worker.js drives it from here on
}
