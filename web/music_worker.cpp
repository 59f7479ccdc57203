// The page's music and the checks of the user's files, on a Web Worker, so
// that the page's own thread never decodes: the demo's own reader and pump,
// through SDL's converter into the page's AudioWorklet (music_worklet.js).
// music_worker.js calls these; what the reader says is said in the order it
// reads, between the blocks.
#include "assets/music.h"
#include "assets/picture.h"
#include "platform/files.h"

#include <SDL.h>
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

// Samples to the worklet: `frames` stereo float frames at its rate, and with
// `kept` the music's own samples they were made from.
EM_JS(void, PostSamples,
      (const float* samples, int frames, const int16_t* kept, int count, long rate, int channels), {
          const floats = HEAPF32.slice(samples >> 2, (samples >> 2) + 2 * frames);
          const own = kept ? HEAP16.slice(kept >> 1, (kept >> 1) + count) : null;
          music.worklet.postMessage({samples : floats, kept : own, rate, channels},
                                    own ? [ floats.buffer, own.buffer ] : [floats.buffer]);
      });
// Whether enough of the file has come for the reader to read on.
EM_JS(int, MusicArrived, (), { return musicArrived(); });
// A check's answer to the page.
EM_JS(void, AnswerCheck, (int usable, const char* said),
      { postMessage({usable : !!usable, said : UTF8ToString(said)}); });

static constexpr int OutFrames = 4096;

static struct {
    SDL_AudioStream* converter; // from the music's format to the worklet's
    long rate, outRate;
    int channels;
    double ahead; // frames posted and not yet played
    bool keep;
    float out[2 * OutFrames];
    int16_t kept[4096];
} W;

// What the converter has ready, to the worklet; `kept` goes with the first post.
static void PostConverted(const char* music, long bytes) {
    int count = 0;
    for (long i = 0; W.keep && music && i + 1 < bytes && count < int(std::size(W.kept)); i += 2)
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

// The pump's sink, which gives a twentieth of a second at most: taken while
// the worklet has less than a second ahead and the file has come this far.
static bool PutInWorklet(const void* data, long bytes, long rate, int channels, bool) {
    if (W.ahead >= W.outRate || !MusicArrived()) return false;
    if (!W.converter || rate != W.rate || channels != W.channels) {
        EndConverter();
        W.converter =
            SDL_NewAudioStream(AUDIO_S16MSB, static_cast<Uint8>(channels), static_cast<int>(rate),
                               AUDIO_F32SYS, 2, static_cast<int>(W.outRate));
        if (!W.converter) return true; // SDL said why; this stream is dropped
        W.rate = rate;
        W.channels = channels;
    }
    SDL_AudioStreamPut(W.converter, data, static_cast<int>(bytes));
    PostConverted(static_cast<const char*>(data), bytes);
    return true;
}

extern "C" {

// Opens testing.ogg in the current folder for a worklet of `rate` stereo
// frames a second, from `seconds` on; a file it cannot open pumps nothing.
EMSCRIPTEN_KEEPALIVE void PlayMusicFrom(double rate, int keep, double seconds) {
    EndConverter();
    W = {};
    W.outRate = static_cast<long>(rate);
    W.keep = keep != 0;
    OpenMusicFileAt(seconds);
    std::fflush(stdout);
}

// Pumps while the worklet has less than a second to play; 0 once all the
// music has gone to it.
EMSCRIPTEN_KEEPALIVE int PumpAhead() {
    const bool more = PumpMusicFile(PutInWorklet);
    if (!more) EndConverter();
    std::fflush(stdout);
    return more;
}

// The worklet has played that many more frames.
EMSCRIPTEN_KEEPALIVE void MusicPlayed(double frames) {
    W.ahead -= frames;
}

// The demo's own loader over /check/file as the show's file of `kind` (bump,
// logo or music): whether a show can use it, with the loader's reasons
// ("PROGRAM: NAME: why"), else all it said. A usable music is kept.
EMSCRIPTEN_KEEPALIVE void CheckFile(const char* kind) {
    const std::string_view music = "testing.ogg";
    const char* name = kind == std::string_view("bump")   ? BumpPictureName
                       : kind == std::string_view("logo") ? LogoPictureName
                                                          : music.data();
    const int out = dup(1), err = dup(2),
              said = open("/check/said", O_RDWR | O_CREAT | O_TRUNC, 0600);
    dup2(said, 1);
    dup2(said, 2);
    bool usable = chdir("/check") == 0 && std::rename("file", name) == 0;
    if (usable && name == music) {
        char block[8192];
        long rate;
        int channels;
        usable = OpenMusicFile() && ReadMusic(block, sizeof block, &rate, &channels) > 0;
        CloseMusicFile();
        usable = usable && std::rename(name, "/user/testing.ogg") == 0;
    } else if (usable) {
        uint32_t* picture = nullptr;
        usable = LoadPicture(name, &picture);
        std::free(picture);
    }
    unlink(name);
    std::fflush(stdout);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    FILE* lines = fdopen(said, "r");
    std::rewind(lines);
    std::string reasons, all;
    const std::string program = std::string(ProgramName) + ": ";
    for (char read[512]; std::fgets(read, sizeof read, lines);) {
        const std::string_view line(read, std::strcspn(read, "\n"));
        const size_t why = line.starts_with(program) ? line.find(": ", program.size()) : line.npos;
        std::string& to = why == line.npos ? all : reasons;
        if (!line.empty())
            to +=
                (to.empty() ? "" : "; ") + std::string(line.substr(why == line.npos ? 0 : why + 2));
    }
    std::fclose(lines);
    AnswerCheck(usable, (reasons.empty() ? all : reasons).c_str());
}

} // extern "C"

int main() {
    return 0; // music_worker.js drives it from here on
}
