// bumpwave-make-music: writes the demo's own music, a piece made here in code,
// as Ogg Vorbis, 44100 Hz stereo, about 45 seconds.
//
//   bumpwave-make-music OUTFILE
//
// A minor at 124 beats a minute, Am7 - Fmaj7 - C - G a bar each: four bars of
// pad and arpeggio to begin, drums and bass, a break where the lead comes in,
// the lead over everything, then a last A minor that fades out. Every noise
// comes from a fixed seed, so the same file comes out each time.

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

static constexpr int Rate = 44100;
static constexpr double Pi = 3.14159265358979323846;
static constexpr double Beat = 60.0 / 124;
static constexpr double Step = Beat / 4; // a sixteenth
static constexpr double Bar = Beat * 4;
static constexpr int Bars = 22;
static constexpr double Length = Bars * Bar + 2.6; // the last chord's tail

struct Bus {
    std::vector<float> left, right;
};

static Bus Drums, Ducked, Keys, ReverbSend, EchoSend;
static std::vector<float> Duck; // gain of the pad and bass, dipped by each kick
static uint32_t Seed = 20240611;

// Buses, noise and the helpers every instrument shares.

static float Noise() {
    Seed = Seed * 1664525u + 1013904223u;
    return static_cast<float>(Seed >> 8) / 8388608.0f - 1.0f;
}

static double Frequency(double note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12);
}

static void NewBus(Bus& bus, size_t frames) {
    bus.left.assign(frames, 0.0f);
    bus.right.assign(frames, 0.0f);
}

// Adds one sample at `frame`, panned from -1 (left) to 1 (right).
static void Put(Bus& bus, size_t frame, double value, double pan) {
    if (frame >= bus.left.size()) return;
    bus.left[frame] += static_cast<float>(value * std::sqrt(0.5 * (1 - pan)));
    bus.right[frame] += static_cast<float>(value * std::sqrt(0.5 * (1 + pan)));
}

static size_t FrameAt(double seconds) {
    return static_cast<size_t>(std::lround(seconds * Rate));
}

// Attack and release ramps around a held note, so that nothing starts or
// stops with a click.
static double Envelope(double t, double held, double attack, double release) {
    double rise = t < attack ? std::sin(0.5 * Pi * t / attack) : 1.0;
    double fall = t < held ? 1.0 : std::max(0.0, 1.0 - (t - held) / release);
    return rise * fall * fall;
}

// A band-limited sawtooth: the jump is smoothed over one sample.
static double Saw(double phase, double step) {
    double value = 2 * phase - 1;
    if (phase < step) {
        double t = phase / step;
        value -= t + t - t * t - 1;
    } else if (phase > 1 - step) {
        double t = (phase - 1) / step;
        value -= t * t + t + t + 1;
    }
    return value;
}

// The instruments: each writes one note into its buses.

static void Kick(double start, double gain) {
    size_t first = FrameAt(start);
    double phase = 0;
    for (int i = 0; i < Rate / 2; ++i) {
        double t = static_cast<double>(i) / Rate;
        phase += (44 + 90 * std::exp(-t / 0.03)) / Rate;
        double body = std::sin(2 * Pi * phase) * std::exp(-t / 0.22) * std::min(1.0, t / 0.001);
        double click = Noise() * std::exp(-t / 0.002) * 0.15;
        Put(Drums, first + i, gain * (body + click) * (1 - t * 2), 0);
        if (first + i < Duck.size())
            Duck[first + i] = std::min(Duck[first + i], float(1 - 0.55 * std::exp(-t / 0.11)));
    }
}

static void Snare(double start, double gain) {
    size_t first = FrameAt(start);
    double low = 0, phase = 0;
    for (int i = 0; i < Rate * 3 / 10; ++i) {
        double t = static_cast<double>(i) / Rate;
        phase += (180 + 40 * std::exp(-t / 0.01)) / Rate;
        double n = Noise();
        low += 0.25 * (n - low);
        double value = 0.45 * std::sin(2 * Pi * phase) * std::exp(-t / 0.05) +
                       0.6 * (n - low) * std::exp(-t / 0.09);
        value *= gain * std::min(1.0, t / 0.0008) * (1 - t / 0.3);
        Put(Drums, first + i, value, 0.05);
        Put(ReverbSend, first + i, value * 0.5, 0.05);
    }
}

static void Hat(double start, double gain, double decay) {
    size_t first = FrameAt(start);
    double a = 0, b = 0;
    int frames = static_cast<int>(decay * 5 * Rate);
    for (int i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / Rate;
        double n = Noise();
        a += 0.5 * (n - a);
        b += 0.5 * (a - b);
        double value = (n - b) * std::exp(-t / decay) * gain * (1 - double(i) / frames);
        Put(Drums, first + i, value, 0.3);
    }
}

static void Crash(double start, double gain) {
    size_t first = FrameAt(start);
    double a[2] = {0, 0};
    for (int i = 0; i < Rate * 5 / 2; ++i) {
        double t = static_cast<double>(i) / Rate;
        double fade = std::exp(-t / 0.7) * std::min(1.0, t / 0.002) * (1 - t / 2.5) * gain;
        for (int side = 0; side < 2; ++side) {
            double n = Noise();
            a[side] += 0.6 * (n - a[side]);
            Put(Drums, first + i, (n - a[side]) * fade, side ? 0.8 : -0.8);
        }
    }
}

// Saw and a sine an octave down, through a filter that closes after the attack.
static void Bass(double start, double held, double note, double gain) {
    size_t first = FrameAt(start);
    double f = Frequency(note), phase = 0, sub = 0, s1 = 0, s2 = 0;
    int frames = static_cast<int>((held + 0.03) * Rate);
    for (int i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / Rate;
        phase = std::fmod(phase + f / Rate, 1.0);
        sub += 0.5 * f / Rate;
        double cutoff = 250 + 900 * std::exp(-t / 0.07);
        double k = 1 - std::exp(-2 * Pi * cutoff / Rate);
        s1 += k * (Saw(phase, f / Rate) - s1);
        s2 += k * (s1 - s2);
        double value = (0.7 * s2 + 0.6 * std::sin(2 * Pi * sub)) * Envelope(t, held, 0.004, 0.03);
        Put(Ducked, first + i, value * gain, 0);
    }
}

// Three sawtooths a note, a little out of tune with each other and spread
// across the stereo field, softened by a low-pass filter.
static void Pad(double start, double held, const std::vector<int>& notes, double gain) {
    size_t first = FrameAt(start);
    const double detune[3] = {-0.08, 0, 0.08}, pan[3] = {-0.7, 0, 0.7};
    int frames = static_cast<int>((held + 0.8) * Rate);
    for (int note : notes) {
        for (int voice = 0; voice < 3; ++voice) {
            double f = Frequency(note + detune[voice]), phase = (Noise() + 1) / 2, s1 = 0, s2 = 0;
            double k = 1 - std::exp(-2 * Pi * 1400 / Rate);
            for (int i = 0; i < frames; ++i) {
                double t = static_cast<double>(i) / Rate;
                phase = std::fmod(phase + f / Rate, 1.0);
                s1 += k * (Saw(phase, f / Rate) - s1);
                s2 += k * (s1 - s2);
                double value = s2 * Envelope(t, held, 0.35, 0.8) * gain;
                Put(Ducked, first + i, value, pan[voice]);
                Put(ReverbSend, first + i, value * 0.4, pan[voice]);
            }
        }
    }
}

// A plucked tone: a few harmonics, the upper ones dying first.
static void Pluck(double start, double note, double gain, double pan) {
    size_t first = FrameAt(start);
    double f = Frequency(note);
    for (int i = 0; i < Rate * 6 / 10; ++i) {
        double t = static_cast<double>(i) / Rate;
        double w = 2 * Pi * f * t;
        double value = std::sin(w) * std::exp(-t / 0.2) +
                       0.4 * std::sin(2 * w) * std::exp(-t / 0.08) +
                       0.2 * std::sin(3 * w) * std::exp(-t / 0.04);
        value *= gain * std::min(1.0, t / 0.002) * (1 - t / 0.6);
        Put(Keys, first + i, value, pan);
        Put(EchoSend, first + i, value * 0.5, pan);
        Put(ReverbSend, first + i, value * 0.3, pan);
    }
}

// A soft lead with a slow vibrato that comes in once the note is held.
static void Lead(double start, double held, double note, double gain) {
    size_t first = FrameAt(start);
    double f = Frequency(note), phase = 0;
    int frames = static_cast<int>((held + 0.2) * Rate);
    for (int i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / Rate;
        double vibrato =
            0.004 * std::min(1.0, std::max(0.0, (t - 0.2) / 0.3)) * std::sin(2 * Pi * 5 * t);
        phase += f * (1 + vibrato) / Rate;
        double w = 2 * Pi * phase;
        double value = std::sin(w) + 0.25 * std::sin(2 * w) + 0.12 * std::sin(3 * w);
        value *= gain * Envelope(t, held, 0.02, 0.2);
        Put(Keys, first + i, value, -0.1);
        Put(EchoSend, first + i, value * 0.35, 0);
        Put(ReverbSend, first + i, value * 0.35, 0);
    }
}

// The mixing: echo and reverb from their sends, then a limiter on the sum.

// Echo: a dotted eighth, bouncing from side to side.
static void Echo(Bus& mix) {
    size_t delay = FrameAt(3 * Step);
    std::vector<float> left(delay), right(delay);
    for (size_t i = 0; i < mix.left.size(); ++i) {
        size_t at = i % delay;
        float outLeft = left[at], outRight = right[at];
        left[at] = EchoSend.left[i] + 0.4f * outRight;
        right[at] = EchoSend.right[i] * 0.3f + 0.4f * outLeft;
        mix.left[i] += 0.5f * outLeft;
        mix.right[i] += 0.5f * outRight;
    }
}

// Reverb: four damped combs and two all-passes a side.
static void Reverb(Bus& mix) {
    const int combs[4] = {1116, 1188, 1277, 1356}, passes[2] = {556, 441};
    for (int side = 0; side < 2; ++side) {
        const std::vector<float>& in = side ? ReverbSend.right : ReverbSend.left;
        std::vector<float>& out = side ? mix.right : mix.left;
        std::vector<std::vector<float>> comb(4), pass(2);
        for (int c = 0; c < 4; ++c) comb[c].assign(combs[c] + side * 23, 0.0f);
        for (int p = 0; p < 2; ++p) pass[p].assign(passes[p] + side * 23, 0.0f);
        float damp[4] = {0, 0, 0, 0};
        for (size_t i = 0; i < in.size(); ++i) {
            float sum = 0;
            for (int c = 0; c < 4; ++c) {
                float& cell = comb[c][i % comb[c].size()];
                float value = cell;
                damp[c] = value * 0.7f + damp[c] * 0.3f;
                cell = in[i] * 0.2f + damp[c] * 0.82f;
                sum += value;
            }
            for (int p = 0; p < 2; ++p) {
                float& cell = pass[p][i % pass[p].size()];
                float value = cell;
                cell = sum + value * 0.5f;
                sum = value - sum;
            }
            out[i] += 0.35f * sum;
        }
    }
}

// Peaks are brought under `ceiling` by a gain that looks 5 ms ahead, falls
// smoothly before a peak and rises again over a tenth of a second.
static void Limit(Bus& mix, float ceiling) {
    size_t frames = mix.left.size(), ahead = FrameAt(0.005);
    std::vector<float> need(frames);
    for (size_t i = 0; i < frames; ++i) {
        float peak = std::max(std::fabs(mix.left[i]), std::fabs(mix.right[i]));
        need[i] = peak > ceiling ? ceiling / peak : 1.0f;
    }
    std::vector<float> gain(frames);
    std::deque<size_t> window; // frames ahead, their need rising
    float held = 1.0f, recovery = 1.0f - std::exp(-1.0f / (0.1f * Rate));
    for (size_t i = 0; i < frames + ahead; ++i) {
        if (i < frames) {
            while (!window.empty() && need[window.back()] >= need[i]) window.pop_back();
            window.push_back(i);
        }
        if (i < ahead) continue;
        size_t at = i - ahead;
        while (window.front() < at) window.pop_front();
        held = std::min(need[window.front()], held + (1.0f - held) * recovery);
        gain[at] = held;
    }
    double sum = 0;
    for (size_t i = 0; i < frames; ++i) {
        sum += gain[i] - (i >= ahead ? gain[i - ahead] : 1.0f);
        float smooth = std::min(1.0f, static_cast<float>((sum + double(ahead)) / double(ahead)));
        mix.left[i] *= smooth;
        mix.right[i] *= smooth;
    }
}

// The score: which instrument plays what, bar by bar.

static void Compose() {
    static const int roots[4] = {45, 41, 48, 43}; // A F C G
    static const std::vector<int> chords[4] = {
        {57, 60, 64, 67}, {53, 57, 60, 64}, {55, 60, 64, 67}, {55, 59, 62, 67}};
    static const int arpeggio[16] = {0, 1, 2, 3, 2, 1, 2, 3, 0, 1, 2, 3, 4, 3, 2, 1};
    struct Note {
        int bar, step, steps, note;
    };
    static const Note tune[] = {{12, 0, 6, 76},  {12, 6, 2, 74},  {12, 8, 4, 72},  {12, 12, 4, 69},
                                {13, 0, 6, 72},  {13, 6, 2, 74},  {13, 8, 8, 76},  {14, 0, 4, 79},
                                {14, 4, 4, 76},  {14, 8, 4, 74},  {14, 12, 4, 72}, {15, 0, 8, 74},
                                {15, 8, 4, 71},  {15, 12, 4, 74}, {16, 0, 6, 76},  {16, 6, 2, 79},
                                {16, 8, 4, 81},  {16, 12, 4, 79}, {17, 0, 6, 77},  {17, 6, 2, 76},
                                {17, 8, 8, 72},  {18, 0, 4, 76},  {18, 4, 4, 79},  {18, 8, 4, 84},
                                {18, 12, 4, 79}, {19, 0, 12, 74}, {19, 12, 4, 71}, {20, 0, 16, 76}};

    for (int bar = 0; bar < Bars; ++bar) {
        double at = bar * Bar;
        int chord = bar % 4;
        bool last = bar >= 20, drums = (bar >= 4 && bar < 12) || (bar >= 14 && bar < 20);

        // The pad fades in over the first two bars and holds the last chord.
        if (bar < 20) Pad(at, Bar, chords[chord], 0.065 * std::min(1.0, (bar + 0.5) / 2));
        if (bar == 20) Pad(at, 2 * Bar, chords[0], 0.065);

        for (int step = 0; step < 16; ++step) {
            double t = at + step * Step;
            if (bar >= 2) {
                double fade = bar < 4 ? 0.7 + 0.15 * (bar - 2)
                              : last  ? 1.0 - (bar - 20) * 0.5 - step / 40.0
                                      : 1.0;
                int index = arpeggio[step];
                int note = chords[chord][index % 4] + 12 + (index == 4 ? 12 : 0);
                double accent = step % 4 == 0 ? 1.0 : 0.7;
                Pluck(t, note, 0.11 * fade * accent, step % 2 ? 0.4 : -0.4);
            }
            if (drums) {
                if (step % 4 == 0) Kick(t, 0.65);
                if (step == 4 || step == 12) Snare(t, 0.35);
                Hat(t, step % 4 == 2 ? 0.16 : 0.07, step % 4 == 2 ? 0.06 : 0.025);
                if (step % 2 == 0)
                    Bass(t, Step * 1.6, roots[chord] + (step % 8 == 6 ? 12 : 0), 0.2);
            }
            if (bar == 3 && step >= 12) Snare(t, 0.12 + 0.04 * (step - 12)); // into the beat
            if (bar == 13) Snare(t, 0.03 + 0.012 * step);                    // the build
            if (bar >= 2 && bar < 4 && step % 2 == 0) Hat(t, 0.05, 0.02);
        }
        if (bar == 4 || bar == 14) Crash(at, 0.2);
        if (bar == 20) {
            Kick(at, 0.75);
            Crash(at, 0.2);
            Bass(at, 2 * Bar, roots[0], 0.2);
        }
    }
    for (const Note& n : tune) {
        double start = n.bar * Bar + n.step * Step;
        Lead(start, n.steps * Step * 0.92, n.note, 0.14);
    }
}

// Encoding the mix as Ogg Vorbis.

static bool Encode(const Bus& mix, FILE* out) {
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 2, Rate, 0.4f) != 0) return false;
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "TITLE", "Bumpwave");
    vorbis_comment_add_tag(&comment, "ARTIST", "bumpwave-make-music");
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 0x62776d75); // fixed serial number: the same file each time
    ogg_packet header, commentHeader, codeHeader;
    vorbis_analysis_headerout(&dsp, &comment, &header, &commentHeader, &codeHeader);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &commentHeader);
    ogg_stream_packetin(&stream, &codeHeader);
    ogg_page page;
    bool ok = true;
    auto write = [&](const ogg_page& p) {
        ok = ok && std::fwrite(p.header, 1, p.header_len, out) == size_t(p.header_len) &&
             std::fwrite(p.body, 1, p.body_len, out) == size_t(p.body_len);
    };
    while (ogg_stream_flush(&stream, &page)) write(page);

    size_t frames = mix.left.size();
    for (size_t done = 0;;) {
        int count = static_cast<int>(std::min<size_t>(1024, frames - done));
        if (count > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, count);
            std::memcpy(buffer[0], &mix.left[done], count * sizeof(float));
            std::memcpy(buffer[1], &mix.right[done], count * sizeof(float));
            done += count;
        }
        vorbis_analysis_wrote(&dsp, count); // 0 marks the end
        bool end = false;
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page)) {
                    write(page);
                    end = end || ogg_page_eos(&page);
                }
            }
        }
        if (count == 0 || end) {
            while (ogg_stream_flush(&stream, &page)) write(page);
            break;
        }
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return ok;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bumpwave-make-music OUTFILE\n");
        return 2;
    }
    size_t frames = FrameAt(Length);
    for (Bus* bus : {&Drums, &Ducked, &Keys, &ReverbSend, &EchoSend}) NewBus(*bus, frames);
    Duck.assign(frames, 1.0f);
    Compose();

    Bus mix;
    NewBus(mix, frames);
    for (size_t i = 0; i < frames; ++i) {
        mix.left[i] = Drums.left[i] + Ducked.left[i] * Duck[i] + Keys.left[i];
        mix.right[i] = Drums.right[i] + Ducked.right[i] * Duck[i] + Keys.right[i];
    }
    Echo(mix);
    Reverb(mix);
    // The last two bars and the tail fade out to nothing.
    size_t fadeFrom = FrameAt(20.5 * Bar);
    for (size_t i = fadeFrom; i < frames; ++i) {
        double x = static_cast<double>(i - fadeFrom) / static_cast<double>(frames - 1 - fadeFrom);
        float gain = static_cast<float>(0.5 * (1 + std::cos(Pi * x)));
        mix.left[i] *= gain;
        mix.right[i] *= gain;
    }
    Limit(mix, 0.8f);

    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = Encode(mix, out);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "bumpwave-make-music: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
