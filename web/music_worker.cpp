// The page's music and the user's files, on a Web Worker, so that the page's
// own thread never decodes: the demo's own reader and pump, into the page's
// AudioWorklet (music_worklet.js). music_worker.js calls:
//
//   PlayMusicFrom  opens testing.ogg in the current folder for a show whose
//                  worklet plays `rate` stereo frames a second, skipping the
//                  first `seconds` of it
//   PumpAhead      pumps while the worklet has less than a second to play;
//                  0 once all the music has gone to it
//   MusicPlayed    the worklet has played that many more frames
//   CheckFile      the demo's own loader over a file the user chose
//
// What the reader says is said in the order it reads, between the blocks.
#include "assets/music.h"
#include "assets/picture.h"

#include <SDL.h>
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// Samples to the worklet: `frames` stereo float frames at its rate, and with
// `kept` the music's own samples they were made from.
EM_JS(void, PostSamples,
      (const float* samples, int frames, const int16_t* kept, int count, long rate, int channels), {
          postSamples(HEAPF32.slice(samples >> 2, (samples >> 2) + 2 * frames),
                      kept ? HEAP16.slice(kept >> 1, (kept >> 1) + count) : null, rate, channels);
      });
// Whether enough of the file has come for the reader to read on.
EM_JS(int, MusicArrived, (), { return musicArrived(); });

static constexpr int OutFrames = 4096;

static struct {
    SDL_AudioStream* converter; // from the music's format to the worklet's
    long rate, outRate;
    int channels;
    long taken;   // bytes of the block being put that the converter has
    double ahead; // frames posted and not yet played
    bool keep;
    float out[2 * OutFrames];
    int16_t kept[4096];
} W;

// What the converter has ready, to the worklet; `kept` goes with the first post.
static void PostConverted(const char* music, long bytes) {
    int count = 0;
    for (long i = 0; W.keep && music && i + 1 < bytes; i += 2)
        W.kept[count++] = static_cast<int16_t>(static_cast<uint8_t>(music[i]) << 8 |
                                               static_cast<uint8_t>(music[i + 1]));
    for (int got; (got = SDL_AudioStreamGet(W.converter, W.out, sizeof W.out)) > 0; count = 0) {
        PostSamples(W.out, got / 8, count ? W.kept : nullptr, count, W.rate, W.channels);
        W.ahead += got / 8;
    }
    if (count) PostSamples(W.out, 0, W.kept, count, W.rate, W.channels);
}

// The converter's last frames out, as a stream ends.
static void EndConverter() {
    if (!W.converter) return;
    SDL_AudioStreamFlush(W.converter);
    PostConverted(nullptr, 0);
    SDL_FreeAudioStream(W.converter);
    W.converter = nullptr;
}

// The pump's sink: the block goes through the converter in pieces of about a
// tenth of a second, whatever its rate, until the worklet has a second ahead;
// the rest of it is taken when the pump offers it again.
static bool PutInWorklet(const void* data, long bytes, long rate, int channels, bool) {
    if (!W.converter || rate != W.rate || channels != W.channels) {
        EndConverter();
        W.converter =
            SDL_NewAudioStream(AUDIO_S16MSB, static_cast<Uint8>(channels), static_cast<int>(rate),
                               AUDIO_F32SYS, 2, static_cast<int>(W.outRate));
        if (!W.converter) return true; // SDL said why; this stream is dropped
        W.rate = rate;
        W.channels = channels;
    }
    const long piece = std::max(1L, rate / 10) * 2 * channels;
    for (const char* music = static_cast<const char*>(data); W.taken < bytes;) {
        if (W.ahead >= W.outRate || !MusicArrived()) return false;
        const long count = std::min(piece, bytes - W.taken);
        SDL_AudioStreamPut(W.converter, music + W.taken, static_cast<int>(count));
        PostConverted(music + W.taken, count);
        W.taken += count;
    }
    W.taken = 0;
    return true;
}

extern "C" {

EMSCRIPTEN_KEEPALIVE int PlayMusicFrom(double rate, int keep, double seconds) {
    EndConverter();
    W = {};
    W.outRate = static_cast<long>(rate);
    W.keep = keep != 0;
    const bool open = OpenMusicFileAt(seconds);
    std::fflush(stdout);
    return open;
}

EMSCRIPTEN_KEEPALIVE int PumpAhead() {
    const bool more = PumpMusicFile(PutInWorklet);
    if (!more) EndConverter();
    std::fflush(stdout);
    return more;
}

EMSCRIPTEN_KEEPALIVE void MusicPlayed(double frames) {
    W.ahead -= frames;
}

// Runs the demo's own loader over the user's file of `kind` (0 the bump
// picture, 1 the logo, 2 the music) that music_worker.js put at /check/file,
// under the name a show reads: 1 when a show can use it, else 0, with the
// loader's messages said as a show would say them.
EMSCRIPTEN_KEEPALIVE int CheckFile(int kind) {
    const char* name = kind == 0 ? BumpPictureName : kind == 1 ? LogoPictureName : "testing.ogg";
    int usable = chdir("/check") == 0 && std::rename("file", name) == 0;
    if (usable && kind == 2) {
        char block[8192];
        long rate;
        int channels;
        usable = OpenMusicFile() && ReadMusic(block, sizeof block, &rate, &channels) > 0;
        CloseMusicFile();
    } else if (usable) {
        uint32_t* picture = nullptr;
        usable = LoadPicture(name, &picture);
        std::free(picture);
    }
    unlink(name);
    std::fflush(stdout);
    return usable;
}

} // extern "C"

int main() {
    return 0; // music_worker.js drives it from here on
}
