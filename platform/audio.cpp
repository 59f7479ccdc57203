// The device's buffer is a short chain of SDL audio streams, one for each run
// of blocks of one format, in the order they play. The music thread puts the
// blocks in (converting them to the device's format) while the chain holds
// less than BufferMilliseconds; SDL's callback, on SDL's audio thread, only
// takes converted bytes from the first stream of the chain.
#include "platform/audio.h"

#include "platform/subsystems.h"

#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstring>

// Sound kept ahead of the card. A music thread woken 100 ms late must not be
// heard; under the sanitizers on a busy machine it has been over 200 ms late.
static constexpr uint64_t BufferMilliseconds = 1000;
// Sound decoded before the card starts playing: the music starts soon, and
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
static constexpr long MaxRate = 384000;
static constexpr int MaxChannels = 8;
// Formats in the chain at once; a file of many short streams waits for room.
static constexpr int MaxConverters = 4;

// Blocks of one format, converted to the device's, until the callback takes them.
struct Converter {
    SDL_AudioStream* stream;
    long rate;
    int channels;
    uint64_t framesIn; // put in
    uint64_t bytesOut; // taken out by the callback
    bool ended;        // no more input: `left` bytes remain to play
    uint64_t left;
};

static SDL_AudioDeviceID Device;
static SDL_AudioSpec Spec;   // what the device plays
static uint64_t BufferBytes; // BufferMilliseconds of it
static uint64_t StartBytes;  // StartMilliseconds of it
static bool Stuck;           // a device given up without closing it
static long RefusedRate;     // the format of the last blocks that could not be
static int RefusedChannels;  // converted: skipped without another word

// The lock guards the rest; Pulled is broadcast each time the callback has run.
static SDL_mutex* Lock;
static SDL_cond* Pulled;
static Converter Chain[MaxConverters]; // a ring: Count of them from First on
static int First, Count;
static SoundBlock* Head; // the blocks not yet taken, in order
static SoundBlock* Tail;
static bool Started;   // enough was buffered once: play from it
static bool Lost;      // the device takes no more sound: blocks complete unplayed
static uint64_t Pulls; // callbacks run
static uint64_t PullsSeen;
static int QuietWaits; // timed-out waits in a row that saw no callback run
// Asked once, from any thread, for the rest of the process; the ramp is the callback's.
static std::atomic<bool> FadeAsked;
static uint64_t FadeFrames, FadeLeft; // the ramp's length, and what remains of it

// Scales the samples about to play down along the ramp, then silences them for
// good: once it ends, the device is as good as lost.
static void FadeOut(Uint8* out, int length) {
    if (!FadeFrames) FadeFrames = FadeLeft = Spec.freq * FadeMilliseconds / 1000 + 1;
    const int frameBytes = 2 * Spec.channels;
    for (int at = 0; at + frameBytes <= length; at += frameBytes) {
        for (Uint8* s = out + at; s < out + at + frameBytes; s += 2) {
            // Big-endian, as the device was opened.
            int64_t sample = static_cast<int16_t>(s[0] << 8 | s[1]);
            sample = sample * static_cast<int64_t>(FadeLeft) / static_cast<int64_t>(FadeFrames);
            s[0] = static_cast<Uint8>(static_cast<uint16_t>(sample) >> 8);
            s[1] = static_cast<Uint8>(sample);
        }
        if (FadeLeft) --FadeLeft;
    }
    if (FadeLeft == 0) Lost = true;
}

// Runs on SDL's audio thread.
static void Play(void*, Uint8* out, int length) {
    Uint8* const start = out;
    const int total = length;
    SDL_LockMutex(Lock);
    ++Pulls;
    while (Started && !Lost && length > 0 && Count > 0) {
        Converter& c = Chain[First];
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
            First = (First + 1) % MaxConverters;
            --Count;
        } else if (got < want) {
            break; // the music thread is late
        }
    }
    if (length > 0) std::memset(out, Spec.silence, static_cast<size_t>(length));
    if (FadeAsked) FadeOut(start, total);
    SDL_CondBroadcast(Pulled);
    SDL_UnlockMutex(Lock);
}

static void NoSound() {
    std::fprintf(stderr, "bumpwave: no sound: %s\n", SDL_GetError());
}

static bool Playable(long rate, int channels) {
    if (rate >= 1 && rate <= MaxRate && channels >= 1 && channels <= MaxChannels) return true;
    SDL_SetError("cannot play %ld Hz with %d channels", rate, channels);
    return false;
}

static uint64_t FrameBytes() {
    return 2u * Spec.channels;
}

// Bytes converted and not yet played.
static uint64_t Buffered() {
    uint64_t bytes = 0;
    for (int i = 0; i < Count; ++i) {
        const Converter& c = Chain[(First + i) % MaxConverters];
        uint64_t ready = static_cast<uint64_t>(SDL_AudioStreamAvailable(c.stream));
        bytes += c.ended && c.left < ready ? c.left : ready;
    }
    return bytes;
}

// Ends the input of the last converter. Its resampler holds the last frames
// back until more follow: zeros push them out, and what comes after them is
// never played.
static void EndInput() {
    if (Count == 0) return;
    Converter& c = Chain[(First + Count - 1) % MaxConverters];
    if (c.ended) return;
    uint64_t frames =
        (c.framesIn * static_cast<uint64_t>(Spec.freq) + static_cast<uint64_t>(c.rate) / 2) /
        static_cast<uint64_t>(c.rate);
    uint64_t total = frames * FrameBytes();
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

// A converter for blocks of this format after the ones in the chain.
static bool AddConverter(long rate, int channels) {
    if (!Playable(rate, channels)) return false;
    EndInput();
    Converter& c = Chain[(First + Count) % MaxConverters];
    SDL_FreeAudioStream(c.stream); // one that has played out
    c = {};
    c.stream = SDL_NewAudioStream(AUDIO_S16MSB, static_cast<Uint8>(channels),
                                  static_cast<int>(rate), Spec.format, Spec.channels, Spec.freq);
    if (!c.stream) return false;
    c.rate = rate;
    c.channels = channels;
    ++Count;
    return true;
}

// Takes queued blocks into the buffer while it has room, in order.
static void TakeBlocks() {
    while (Head) {
        SoundBlock* block = Head;
        bool refused = block->rate == RefusedRate && block->channels == RefusedChannels;
        if (!Lost && !refused) {
            Converter* last = Count ? &Chain[(First + Count - 1) % MaxConverters] : nullptr;
            if (!last || last->ended || last->rate != block->rate ||
                last->channels != block->channels) {
                if (Count == MaxConverters) break;
                if (AddConverter(block->rate, block->channels)) {
                    last = &Chain[(First + Count - 1) % MaxConverters];
                } else {
                    NoSound();
                    RefusedRate = block->rate;
                    RefusedChannels = block->channels;
                    last = nullptr;
                }
            }
            if (last && Buffered() >= BufferBytes) break;
            if (last &&
                SDL_AudioStreamPut(last->stream, block->data, static_cast<int>(block->length)) == 0)
                last->framesIn += block->length / (2u * static_cast<unsigned>(block->channels));
        }
        block->pending = false;
        Head = block->next;
        if (!Head) Tail = nullptr;
    }
    // Enough to play on while the rest is decoded, or the buffer is full.
    if (Head || Buffered() >= StartBytes) Started = true;
}

// Waits for the callback to run once more. False when the device has stopped
// taking sound: then every block queued completes unplayed.
static bool AwaitPull() {
    if (!Pulled) {
        Lost = true; // nothing to wait with: waiting would spin for ever
        TakeBlocks();
        return false;
    }
    bool timedOut = SDL_CondWaitTimeout(Pulled, Lock, PullWaitMilliseconds) == SDL_MUTEX_TIMEDOUT;
    if (Pulls != PullsSeen) {
        PullsSeen = Pulls;
        QuietWaits = 0;
    } else if (timedOut) {
        ++QuietWaits;
    }
    if (SDL_GetAudioDeviceStatus(Device) == SDL_AUDIO_STOPPED) {
        Lost = true; // unplugged, or its server gone: SDL stops calling us
    } else if (QuietWaits >= StallWaits) {
        Lost = Stuck = true; // its thread hangs where SDL cannot reach it
    }
    if (Lost) TakeBlocks();
    return !Lost;
}

// About 20 ms a callback: the first sound comes soon, and any card keeps up.
static Uint16 CallbackFrames(long rate) {
    Uint16 frames = 128;
    while (frames < 4096 && frames * 2 <= rate / 40) frames = static_cast<Uint16>(frames * 2);
    return frames;
}

bool OpenSound(long rate, int channels) {
    if (Device || Stuck) return false;
    if (!Playable(rate, channels) || !HoldSubsystem(SDL_INIT_AUDIO)) {
        NoSound();
        return false;
    }
    SDL_AudioSpec wanted{};
    wanted.freq = static_cast<int>(rate);
    wanted.format = AUDIO_S16MSB;
    wanted.channels = static_cast<Uint8>(channels);
    wanted.samples = CallbackFrames(rate);
    wanted.callback = Play;
    Lock = SDL_CreateMutex();
    Pulled = SDL_CreateCond();
    First = Count = 0;
    Head = Tail = nullptr;
    Started = Lost = false;
    RefusedRate = RefusedChannels = 0;
    Pulls = PullsSeen = 0;
    QuietWaits = 0;
    // No changes allowed: where the card wants another format SDL converts
    // ours, so the callback always delivers what it was given.
    // Without threads (the browser) there is no condition, and nobody waits:
    // the page asks SoundPlayedOut instead.
    if (Lock) Device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &Spec, 0);
    if (!Device) {
        NoSound();
        SDL_DestroyCond(Pulled);
        SDL_DestroyMutex(Lock);
        Pulled = nullptr;
        Lock = nullptr;
        ReleaseSubsystem(SDL_INIT_AUDIO);
        return false;
    }
    BufferBytes = static_cast<uint64_t>(Spec.freq) * BufferMilliseconds / 1000 * FrameBytes();
    StartBytes = static_cast<uint64_t>(Spec.freq) * StartMilliseconds / 1000 * FrameBytes();
    SDL_PauseAudioDevice(Device, 0);
    return true;
}

void CloseSound() {
    if (!Device) return;
    SDL_LockMutex(Lock);
    for (SoundBlock* block = Head; block; block = block->next) block->pending = false;
    Head = Tail = nullptr;
    Started = true; // a short music never filled the buffer
    EndInput();
    while (Count > 0 && AwaitPull()) {
    }
    SDL_UnlockMutex(Lock);
    if (Stuck) {
        // Closing would wait for the device's thread without end: the device,
        // its lock and its buffer are left to the end of the process.
        Device = 0;
        return;
    }
    SDL_CloseAudioDevice(Device); // the callback has run for the last time
    Device = 0;
    for (Converter& c : Chain) {
        SDL_FreeAudioStream(c.stream);
        c = {};
    }
    SDL_DestroyCond(Pulled);
    SDL_DestroyMutex(Lock);
    Pulled = nullptr;
    Lock = nullptr;
    ReleaseSubsystem(SDL_INIT_AUDIO);
}

bool SoundPlayedOut() {
    if (!Lock) return true;
    SDL_LockMutex(Lock);
    TakeBlocks();
    if (!Head) {
        Started = true; // a short music never filled the buffer
        EndInput();
    }
    bool out = Lost || (!Head && Count == 0);
    SDL_UnlockMutex(Lock);
    return out;
}

void FadeOutSound() {
    FadeAsked = true;
}

void QueueSoundBlock(SoundBlock* block) {
    if (!Device || block->length == 0) return; // nothing to play: done at once
    SDL_LockMutex(Lock);
    block->pending = true;
    block->next = nullptr;
    if (Tail)
        Tail->next = block;
    else
        Head = block;
    Tail = block;
    TakeBlocks();
    SDL_UnlockMutex(Lock);
}

bool SoundBlockPlayed(SoundBlock* block) {
    if (!Lock) return true;
    SDL_LockMutex(Lock);
    TakeBlocks(); // the browser has nobody waiting to do it
    bool done = !block->pending;
    SDL_UnlockMutex(Lock);
    return done;
}

void WaitForSoundBlock(SoundBlock* block) {
    if (!Lock) return;
    SDL_LockMutex(Lock);
    TakeBlocks();
    while (block->pending && AwaitPull()) TakeBlocks();
    SDL_UnlockMutex(Lock);
}
