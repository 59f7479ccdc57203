// The device's buffer is a short chain of SDL audio streams, one for each run
// of sound of one format, in the order they play. The music thread puts sound
// in (converting it to the device's format) while the chain holds less than
// BufferMilliseconds; SDL's callback, on SDL's audio thread, only takes
// converted bytes from the first stream of the chain.
#include "platform/audio.h"

#include "platform/files.h"
#include "platform/subsystems.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

// Sound kept ahead of the card. A music thread woken 100 ms late must not be
// heard; under the sanitizers on a busy machine it has been over 200 ms late.
static constexpr uint64_t BufferMilliseconds = 1000;
// Sound taken before the card starts playing: the music starts soon, and
// the rest of the buffer fills far faster than it plays.
static constexpr uint64_t StartMilliseconds = 100;
// A device whose callback has not run while the music thread waited this long
// has stopped. Generous: the disk driver can wait that long for a busy disk.
// Counted in the thread's own timed waits, not on the clock: a process stopped
// and resumed has seen no time pass, and its device may not have run yet.
static constexpr int PullWaitMilliseconds = 100;
static constexpr int StallWaits = 5000 / PullWaitMilliseconds;
// A stopped show's music ramps down to silence this fast: no click, and gone
// before the eye has noticed the window close.
static constexpr uint64_t FadeMilliseconds = 50;
// Formats in the chain at once; a file of many short streams waits for room.
static constexpr int MaxConverters = 4;

// Sound of one format, converted to the device's, until the callback takes it.
struct Converter {
    SDL_AudioStream* stream;
    long rate;
    int channels;
    uint64_t framesIn; // put in
    uint64_t bytesOut; // taken out by the callback
    bool ended;        // no more input: `left` bytes remain to play
    uint64_t left;
};

// Everything of one open device; OpenSound starts from all zeros.
struct Card {
    SDL_AudioDeviceID device;
    SDL_AudioSpec spec;             // what the device plays
    uint64_t bufferBytes;           // BufferMilliseconds of it
    uint64_t startBytes;            // StartMilliseconds of it
    long refusedRate;               // the format of the last sound that could not be
    int refusedChannels;            // converted: dropped without another word
    Converter chain[MaxConverters]; // a ring: `count` of them from `first` on
    int first, count;
    bool started;   // enough was buffered once: play from it
    bool lost;      // the device takes no more sound
    uint64_t pulls; // callbacks run
    uint64_t pullsSeen;
    int quietWaits;                // timed-out waits in a row that saw no callback run
    uint64_t fadeFrames, fadeLeft; // the ramp's length, and what remains of it

    uint64_t bytesPlayed; // sound, not silence, the callback has handed over
};

static struct {
    Card card;
    // Guards `card`; `pulled` is told each time the callback has run.
    std::mutex lock;
    std::condition_variable pulled;
    std::atomic<bool> fadeAsked; // from any thread; the ramp is the callback's
    std::atomic<bool> cut;       // faded while paused: silent from then on
    // The lock guards `paused`, `device` and the device's pause, which the
    // music thread sets as it opens the card and any thread as it pauses.
    std::mutex pauseLock;
    std::atomic<bool> paused;
    SDL_AudioDeviceID device; // the open card, for PauseSound
    // Seconds of sound the open card has played, for any thread to read
    // without waiting on the card's lock.
    std::atomic<double> secondsPlayed;
} A;

// A device given up without closing it, for the rest of the process: it is
// never opened again.
static bool Stuck;

// Scales the samples about to play down along the ramp, then silences them for
// good: once it ends, the device is as good as lost.
static void FadeOut(Uint8* out, int length) {
    Card& c = A.card;
    if (!c.fadeFrames) c.fadeFrames = c.fadeLeft = c.spec.freq * FadeMilliseconds / 1000 + 1;
    const int frameBytes = 2 * c.spec.channels;
    for (int at = 0; at + frameBytes <= length; at += frameBytes) {
        for (Uint8* s = out + at; s < out + at + frameBytes; s += 2) {
            // Big-endian, as the device was opened.
            int64_t sample = static_cast<int16_t>(s[0] << 8 | s[1]);
            sample = sample * static_cast<int64_t>(c.fadeLeft) / static_cast<int64_t>(c.fadeFrames);
            s[0] = static_cast<Uint8>(static_cast<uint16_t>(sample) >> 8);
            s[1] = static_cast<Uint8>(sample);
        }
        if (c.fadeLeft) --c.fadeLeft;
    }
    if (c.fadeLeft == 0) c.lost = true;
}

// Runs on SDL's audio thread.
static void Play(void*, Uint8* out, int length) {
    Card& card = A.card;
    Uint8* const start = out;
    const int total = length;
    std::lock_guard hold(A.lock);
    ++card.pulls;
    while (card.started && !card.lost && length > 0 && card.count > 0) {
        Converter& c = card.chain[card.first];
        int want = length;
        if (c.ended && c.left < static_cast<uint64_t>(want)) want = static_cast<int>(c.left);
        int got = want > 0 ? SDL_AudioStreamGet(c.stream, out, want) : 0;
        if (got < 0) got = 0;
        out += got;
        length -= got;
        c.bytesOut += static_cast<uint64_t>(got);
        if (c.ended) c.left -= static_cast<uint64_t>(got);
        if (c.ended && (c.left == 0 || got < want)) {
            // Played out: the next format follows in the same callback.
            card.first = (card.first + 1) % MaxConverters;
            --card.count;
        } else if (got < want) {
            break; // the music thread is late
        }
    }
    card.bytesPlayed += static_cast<uint64_t>(total - length);
    A.secondsPlayed =
        static_cast<double>(card.bytesPlayed / (2u * card.spec.channels)) / card.spec.freq;
    if (length > 0) std::memset(out, card.spec.silence, static_cast<size_t>(length));
    if (A.cut) {
        std::memset(start, card.spec.silence, static_cast<size_t>(total));
        card.lost = true;
    } else if (A.fadeAsked) {
        FadeOut(start, total);
    }
    A.pulled.notify_all();
}

static void NoSound() {
    std::fprintf(stderr, "%s: no sound: %s\n", ProgramName, SDL_GetError());
}

static bool Playable(long rate, int channels) {
    if (rate >= 1 && rate <= MaxSoundRate && channels >= 1 && channels <= MaxSoundChannels)
        return true;
    SDL_SetError("cannot play %ld Hz with %d channels", rate, channels);
    return false;
}

static uint64_t FrameBytes() {
    return 2u * A.card.spec.channels;
}

static Converter& Last() {
    Card& c = A.card;
    return c.chain[(c.first + c.count - 1) % MaxConverters];
}

// Bytes converted and not yet played.
static uint64_t Buffered() {
    Card& card = A.card;
    uint64_t bytes = 0;
    for (int i = 0; i < card.count; ++i) {
        const Converter& c = card.chain[(card.first + i) % MaxConverters];
        uint64_t ready = static_cast<uint64_t>(SDL_AudioStreamAvailable(c.stream));
        bytes += c.ended && c.left < ready ? c.left : ready;
    }
    return bytes;
}

// Ends the input of the last converter. Its resampler holds the last frames
// back until more follow: zeros push them out, and what comes after them is
// never played.
static void EndInput() {
    if (A.card.count == 0) return;
    Converter& c = Last();
    if (c.ended) return;
    const uint64_t freq = static_cast<uint64_t>(A.card.spec.freq);
    const uint64_t rate = static_cast<uint64_t>(c.rate);
    uint64_t total = (c.framesIn * freq + rate / 2) / rate * FrameBytes();
    static const char zeros[4096] = {};
    const int zeroBytes =
        static_cast<int>(sizeof zeros) - static_cast<int>(sizeof zeros) % (2 * c.channels);
    for (int i = 0; i < 256; ++i) {
        if (c.bytesOut + static_cast<uint64_t>(SDL_AudioStreamAvailable(c.stream)) >= total) break;
        if (SDL_AudioStreamPut(c.stream, zeros, zeroBytes) != 0) break;
    }
    SDL_AudioStreamFlush(c.stream);
    c.ended = true;
    c.left = total > c.bytesOut ? total - c.bytesOut : 0;
}

// A converter for sound of this format after the ones in the chain.
static bool AddConverter(long rate, int channels) {
    Card& card = A.card;
    EndInput();
    Converter& c = card.chain[(card.first + card.count) % MaxConverters];
    SDL_FreeAudioStream(c.stream); // one that has played out
    c = {};
    c.stream =
        SDL_NewAudioStream(AUDIO_S16MSB, static_cast<Uint8>(channels), static_cast<int>(rate),
                           card.spec.format, card.spec.channels, card.spec.freq);
    if (!c.stream) return false;
    c.rate = rate;
    c.channels = channels;
    ++card.count;
    return true;
}

enum class Put { Taken, Dropped, Full };

// Puts whole frames into the last converter.
static void Convert(const char* data, long bytes) {
    Converter& c = Last();
    const long frames = bytes / (2 * c.channels);
    if (SDL_AudioStreamPut(c.stream, data, static_cast<int>(frames * 2 * c.channels)) == 0)
        c.framesIn += static_cast<uint64_t>(frames);
}

// Puts the sound into the chain if it has room.
static Put PutInChain(const void* data, long bytes, long rate, int channels) {
    Card& card = A.card;
    if (card.lost || (rate == card.refusedRate && channels == card.refusedChannels))
        return Put::Dropped;
    if (card.count == 0 || Last().ended || Last().rate != rate || Last().channels != channels) {
        if (card.count == MaxConverters) return Put::Full;
        if (!Playable(rate, channels) || !AddConverter(rate, channels)) {
            NoSound();
            card.refusedRate = rate;
            card.refusedChannels = channels;
            return Put::Dropped;
        }
    }
    if (Buffered() >= card.bufferBytes) return Put::Full;
    Convert(static_cast<const char*>(data), bytes);
    if (Buffered() >= card.startBytes) card.started = true;
    return Put::Taken;
}

// Waits for the callback to run once more. False when the device has stopped
// taking sound: then all it is given is dropped.
static bool AwaitPull(std::unique_lock<std::mutex>& hold) {
    Card& card = A.card;
    bool timedOut = A.pulled.wait_for(hold, std::chrono::milliseconds(PullWaitMilliseconds)) ==
                    std::cv_status::timeout;
    if (card.pulls != card.pullsSeen || A.paused) {
        card.pullsSeen = card.pulls;
        card.quietWaits = 0;
    } else if (timedOut) {
        ++card.quietWaits;
    }
    if (SDL_GetAudioDeviceStatus(card.device) == SDL_AUDIO_STOPPED) {
        card.lost = true; // unplugged, or its server gone: SDL stops calling us
    } else if (card.quietWaits >= StallWaits) {
        card.lost = Stuck = true; // its thread hangs where SDL cannot reach it
    }
    return !card.lost;
}

// About 20 ms a callback: the first sound comes soon, and any card keeps up.
static Uint16 CallbackFrames(long rate) {
    return static_cast<Uint16>(std::clamp(std::bit_floor(static_cast<uint64_t>(rate / 40)),
                                          uint64_t{128}, uint64_t{4096}));
}

// Makes `device` the one PauseSound pauses, paused as asked so far.
static void PublishDevice(SDL_AudioDeviceID device) {
    std::lock_guard hold(A.pauseLock);
    A.device = device;
    if (device) SDL_PauseAudioDevice(device, A.paused ? 1 : 0);
}

static void ReleaseCard() {
    Card& card = A.card;
    for (Converter& c : card.chain) SDL_FreeAudioStream(c.stream);
    card = {};
    ReleaseSubsystem(SDL_INIT_AUDIO);
}

bool OpenSound(long rate, int channels) {
    if (A.card.device || Stuck) return false;
    A.card = {};
    A.secondsPlayed = 0;
    A.fadeAsked = false;
    A.cut = false;
    if (!Playable(rate, channels) || !HoldSubsystem(SDL_INIT_AUDIO)) {
        NoSound();
        return false;
    }
    Card& card = A.card;
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(rate);
    wanted.format = AUDIO_S16MSB;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = CallbackFrames(rate);
    wanted.callback = Play;
    // No changes allowed: where the card wants another format SDL converts
    // ours, so the callback always delivers what it was given.
    card.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &card.spec, 0);
    if (!card.device) {
        NoSound();
        ReleaseCard();
        return false;
    }
    const uint64_t perMillisecond = static_cast<uint64_t>(card.spec.freq) * FrameBytes();
    card.bufferBytes = perMillisecond * BufferMilliseconds / 1000;
    card.startBytes = perMillisecond * StartMilliseconds / 1000;
    PublishDevice(card.device);
    return true;
}

bool PutSound(const void* data, long bytes, long rate, int channels, bool wait) {
    Card& card = A.card;
    if (!card.device || bytes <= 0) return true;
    std::unique_lock hold(A.lock);
    Put put = PutInChain(data, bytes, rate, channels);
    for (; put == Put::Full; put = PutInChain(data, bytes, rate, channels)) {
        card.started = true; // full: play from it
        if (!wait) break;
        AwaitPull(hold); // a device given up drops the sound
    }
    return put != Put::Full;
}

void CloseSound() {
    Card& card = A.card;
    if (!card.device) return;
    std::unique_lock hold(A.lock);
    card.started = true; // a short music never filled the buffer
    EndInput();
    while (card.count > 0 && AwaitPull(hold)) {
    }
    hold.unlock();
    PublishDevice(0);
    if (Stuck) {
        // Closing would wait for the device's thread without end: the device
        // and its buffer are left to the end of the process.
        card.device = 0;
        return;
    }
    SDL_CloseAudioDevice(card.device); // the callback has run for the last time
    ReleaseCard();
}

void DropSound() {
    Card& card = A.card;
    if (!card.device) return;
    std::lock_guard hold(A.lock);
    for (; card.count > 0; --card.count, card.first = (card.first + 1) % MaxConverters)
        SDL_AudioStreamClear(card.chain[card.first].stream);
    card.first = 0;
    card.started = false;
    card.bytesPlayed = 0;
    A.secondsPlayed = 0;
}

void FadeOutSound() {
    std::lock_guard hold(A.pauseLock);
    // A paused card is silent already: no ramp after it, however often asked.
    if (A.paused) A.cut = true;
    A.fadeAsked = true;
}

void PauseSound(bool paused) {
    std::lock_guard hold(A.pauseLock);
    A.paused = paused;
    if (A.device) SDL_PauseAudioDevice(A.device, paused ? 1 : 0);
}

double SoundSecondsPlayed() {
    return A.secondsPlayed;
}
