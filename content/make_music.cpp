// bumpwave-make-music OUTFILE: writes the demo's own music, a piece made here
// in code, as Ogg Vorbis, 44100 Hz stereo, about 45 seconds. A minor at 124
// beats a minute, Am7 - Fmaj7 - C - G a bar each: pad and arpeggio, drums and
// bass, a break where the lead comes in, the lead over everything, then a last
// A minor that fades out. The noise has a fixed seed: the same file each time.

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>

static constexpr int Rate = 44100;
static constexpr double Pi = 3.14159265358979323846;
static constexpr double Beat = 60.0 / 124;
static constexpr double Step = Beat / 4; // a sixteenth
static constexpr double Bar = Beat * 4;
static constexpr int Bars = 22;
static constexpr double Length = Bars * Bar + 2.6; // the last chord's tail

using Bus = std::array<std::vector<float>, 2>; // left, right

static struct {
    Bus drums, ducked, keys, reverb, echo; // the last two feed the reverb and the echo
    std::vector<float> duck;               // gain of the pad and bass, dipped by each kick
    uint32_t seed;
} S;

static float Noise() {
    S.seed = S.seed * 1664525u + 1013904223u;
    return static_cast<float>(S.seed >> 8) / 8388608.0f - 1.0f;
}

static double Frequency(double note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12);
}

static size_t FrameAt(double seconds) {
    return static_cast<size_t>(std::lround(seconds * Rate));
}

// Adds one sample at `frame`, panned from -1 (left) to 1 (right).
static void Put(Bus& bus, size_t frame, double value, double pan) {
    for (int side = 0; side < 2; ++side)
        bus[side][frame] += static_cast<float>(value * std::sqrt(0.5 * (1 + (side ? pan : -pan))));
}

using Send = std::tuple<Bus*, double, double>; // a bus, the level into it, the pan

// Plays `seconds` of sample(t, i) from `start` into each send.
template <class Sample>
static void Play(double start, double seconds, std::initializer_list<Send> sends, Sample sample) {
    size_t first = FrameAt(start);
    int frames = static_cast<int>(seconds * Rate);
    for (int i = 0; i < frames; ++i) {
        double value = sample(static_cast<double>(i) / Rate, i);
        for (auto [bus, level, pan] : sends) Put(*bus, first + i, value * level, pan);
    }
}

// Attack and release ramps around a held note, so that nothing clicks.
static double Envelope(double t, double held, double attack, double release) {
    double rise = t < attack ? std::sin(0.5 * Pi * t / attack) : 1.0;
    double fall = t < held ? 1.0 : std::max(0.0, 1.0 - (t - held) / release);
    return rise * fall * fall;
}

// A sawtooth at `f`, its jump smoothed over one sample, through a two-pole
// low-pass whose coefficient each sample gives.
static auto FilteredSaw(double f, double phase) {
    return [=, low1 = 0.0, low2 = 0.0](double k) mutable {
        double step = f / Rate;
        phase = std::fmod(phase + step, 1.0);
        double value = 2 * phase - 1;
        if (phase < step) {
            double t = phase / step;
            value -= t + t - t * t - 1;
        } else if (phase > 1 - step) {
            double t = (phase - 1) / step;
            value -= t * t + t + t + 1;
        }
        low1 += k * (value - low1);
        low2 += k * (low1 - low2);
        return low2;
    };
}

static void Kick(double start, double gain) {
    size_t first = FrameAt(start);
    double phase = 0;
    Play(start, 0.5, {{&S.drums, 1, 0}}, [&](double t, int i) {
        phase += (44 + 90 * std::exp(-t / 0.03)) / Rate;
        double body = std::sin(2 * Pi * phase) * std::exp(-t / 0.22) * std::min(1.0, t / 0.001);
        double click = Noise() * std::exp(-t / 0.002) * 0.15;
        S.duck[first + i] = std::min(S.duck[first + i], float(1 - 0.55 * std::exp(-t / 0.11)));
        return gain * (body + click) * (1 - t * 2);
    });
}

static void Snare(double start, double gain) {
    double low = 0, phase = 0;
    Play(start, 0.3, {{&S.drums, 1, 0.05}, {&S.reverb, 0.5, 0.05}}, [&](double t, int) {
        phase += (180 + 40 * std::exp(-t / 0.01)) / Rate;
        double n = Noise();
        low += 0.25 * (n - low);
        double value = 0.45 * std::sin(2 * Pi * phase) * std::exp(-t / 0.05) +
                       0.6 * (n - low) * std::exp(-t / 0.09);
        return value * (gain * std::min(1.0, t / 0.0008) * (1 - t / 0.3));
    });
}

static void Hat(double start, double gain, double decay) {
    double a = 0, b = 0;
    int frames = static_cast<int>(decay * 5 * Rate);
    Play(start, decay * 5, {{&S.drums, 1, 0.3}}, [&](double t, int i) {
        double n = Noise();
        a += 0.5 * (n - a);
        b += 0.5 * (a - b);
        return (n - b) * std::exp(-t / decay) * gain * (1 - double(i) / frames);
    });
}

// Two noises, one a side, so that the cymbal sounds wide.
static void Crash(double start, double gain) {
    size_t first = FrameAt(start);
    double low[2] = {0, 0};
    for (int i = 0; i < Rate * 5 / 2; ++i) {
        double t = static_cast<double>(i) / Rate;
        double fade = std::exp(-t / 0.7) * std::min(1.0, t / 0.002) * (1 - t / 2.5) * gain;
        for (int side = 0; side < 2; ++side) {
            double n = Noise();
            low[side] += 0.6 * (n - low[side]);
            Put(S.drums, first + i, (n - low[side]) * fade, side ? 0.8 : -0.8);
        }
    }
}

// A saw whose filter closes after the attack, and a sine an octave down.
static void Bass(double start, double held, double note, double gain) {
    double f = Frequency(note), sub = 0;
    auto saw = FilteredSaw(f, 0);
    Play(start, held + 0.03, {{&S.ducked, 1, 0}}, [&](double t, int) {
        sub += 0.5 * f / Rate;
        double cutoff = 250 + 900 * std::exp(-t / 0.07);
        double tone = saw(1 - std::exp(-2 * Pi * cutoff / Rate));
        return (0.7 * tone + 0.6 * std::sin(2 * Pi * sub)) * Envelope(t, held, 0.004, 0.03) * gain;
    });
}

// Three saws a note, a little out of tune and spread across the stereo field.
static void Pad(double start, double held, const std::vector<int>& notes, double gain) {
    const double detune[3] = {-0.08, 0, 0.08}, pan[3] = {-0.7, 0, 0.7};
    const double k = 1 - std::exp(-2 * Pi * 1400 / Rate);
    for (int note : notes) {
        for (int voice = 0; voice < 3; ++voice) {
            auto saw = FilteredSaw(Frequency(note + detune[voice]), (Noise() + 1) / 2);
            Play(start, held + 0.8, {{&S.ducked, 1, pan[voice]}, {&S.reverb, 0.4, pan[voice]}},
                 [&](double t, int) { return saw(k) * Envelope(t, held, 0.35, 0.8) * gain; });
        }
    }
}

// A plucked tone: a few harmonics, the upper ones dying first.
static void Pluck(double start, double note, double gain, double pan) {
    double f = Frequency(note);
    Play(start, 0.6, {{&S.keys, 1, pan}, {&S.echo, 0.5, pan}, {&S.reverb, 0.3, pan}},
         [&](double t, int) {
             double w = 2 * Pi * f * t;
             double value = std::sin(w) * std::exp(-t / 0.2) +
                            0.4 * std::sin(2 * w) * std::exp(-t / 0.08) +
                            0.2 * std::sin(3 * w) * std::exp(-t / 0.04);
             return value * (gain * std::min(1.0, t / 0.002) * (1 - t / 0.6));
         });
}

// A soft lead with a slow vibrato that comes in once the note is held.
static void Lead(double start, double held, double note, double gain) {
    double f = Frequency(note), phase = 0;
    Play(start, held + 0.2, {{&S.keys, 1, -0.1}, {&S.echo, 0.35, 0}, {&S.reverb, 0.35, 0}},
         [&](double t, int) {
             double vibrato =
                 0.004 * std::clamp((t - 0.2) / 0.3, 0.0, 1.0) * std::sin(2 * Pi * 5 * t);
             phase += f * (1 + vibrato) / Rate;
             double w = 2 * Pi * phase;
             double value = std::sin(w) + 0.25 * std::sin(2 * w) + 0.12 * std::sin(3 * w);
             return value * (gain * Envelope(t, held, 0.02, 0.2));
         });
}

// Echo: a dotted eighth, bouncing from side to side.
static void Echo(Bus& mix) {
    size_t delay = FrameAt(3 * Step);
    std::vector<float> left(delay), right(delay);
    for (size_t i = 0; i < mix[0].size(); ++i) {
        size_t at = i % delay;
        float outLeft = left[at], outRight = right[at];
        left[at] = S.echo[0][i] + 0.4f * outRight;
        right[at] = S.echo[1][i] * 0.3f + 0.4f * outLeft;
        mix[0][i] += 0.5f * outLeft;
        mix[1][i] += 0.5f * outRight;
    }
}

// Reverb: four damped combs and two all-passes a side.
static void Reverb(Bus& mix) {
    const int lengths[6] = {1116, 1188, 1277, 1356, 556, 441};
    for (int side = 0; side < 2; ++side) {
        std::vector<float> line[6];
        for (int d = 0; d < 6; ++d) line[d].resize(lengths[d] + side * 23);
        float damp[4] = {0, 0, 0, 0};
        for (size_t i = 0; i < mix[side].size(); ++i) {
            float sum = 0;
            for (int c = 0; c < 4; ++c) { // the combs
                float& cell = line[c][i % line[c].size()];
                sum += cell;
                damp[c] = cell * 0.7f + damp[c] * 0.3f;
                cell = S.reverb[side][i] * 0.2f + damp[c] * 0.82f;
            }
            for (int p = 4; p < 6; ++p) { // the all-passes
                float& cell = line[p][i % line[p].size()];
                float out = cell;
                cell = sum + out * 0.5f;
                sum = out - sum;
            }
            mix[side][i] += 0.35f * sum;
        }
    }
}

// Peaks are brought under `ceiling` by a gain that looks 5 ms ahead, falls
// smoothly before a peak and rises again over a tenth of a second.
static void Limit(Bus& mix, float ceiling) {
    size_t frames = mix[0].size(), ahead = FrameAt(0.005);
    std::vector<float> gain(frames, 1.0f);
    for (size_t i = 0; i < frames; ++i) {
        float peak = std::max(std::fabs(mix[0][i]), std::fabs(mix[1][i]));
        if (peak <= ceiling) continue;
        for (size_t at = i - std::min(i, ahead); at <= i; ++at)
            gain[at] = std::min(gain[at], ceiling / peak);
    }
    float held = 1.0f, recovery = 1.0f - std::exp(-1.0f / (0.1f * Rate));
    for (float& g : gain) g = held = std::min(g, held + (1.0f - held) * recovery);
    double sum = 0;
    for (size_t i = 0; i < frames; ++i) {
        sum += gain[i] - (i >= ahead ? gain[i - ahead] : 1.0f);
        float smooth = std::min(1.0f, static_cast<float>((sum + double(ahead)) / double(ahead)));
        for (auto& side : mix) side[i] *= smooth;
    }
}

static void Compose() {
    static const int roots[4] = {45, 41, 48, 43}; // A F C G
    static const std::vector<int> chords[4] = {
        {57, 60, 64, 67}, {53, 57, 60, 64}, {55, 60, 64, 67}, {55, 59, 62, 67}};
    static const int arpeggio[16] = {0, 1, 2, 3, 2, 1, 2, 3, 0, 1, 2, 3, 4, 3, 2, 1};
    // The lead's notes: bar, step, length in steps, note.
    static const std::array<int, 4> tune[] = {
        {12, 0, 6, 76},  {12, 6, 2, 74},  {12, 8, 4, 72},  {12, 12, 4, 69}, {13, 0, 6, 72},
        {13, 6, 2, 74},  {13, 8, 8, 76},  {14, 0, 4, 79},  {14, 4, 4, 76},  {14, 8, 4, 74},
        {14, 12, 4, 72}, {15, 0, 8, 74},  {15, 8, 4, 71},  {15, 12, 4, 74}, {16, 0, 6, 76},
        {16, 6, 2, 79},  {16, 8, 4, 81},  {16, 12, 4, 79}, {17, 0, 6, 77},  {17, 6, 2, 76},
        {17, 8, 8, 72},  {18, 0, 4, 76},  {18, 4, 4, 79},  {18, 8, 4, 84},  {18, 12, 4, 79},
        {19, 0, 12, 74}, {19, 12, 4, 71}, {20, 0, 16, 76}};

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
        if (bar == 20) Kick(at, 0.75);
        if (bar == 4 || bar == 14 || bar == 20) Crash(at, 0.2);
        if (bar == 20) Bass(at, 2 * Bar, roots[0], 0.2);
    }
    for (auto [bar, step, steps, note] : tune)
        Lead(bar * Bar + step * Step, steps * Step * 0.92, note, 0.14);
}

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
    ogg_packet headers[3];
    vorbis_analysis_headerout(&dsp, &comment, &headers[0], &headers[1], &headers[2]);
    for (ogg_packet& header : headers) ogg_stream_packetin(&stream, &header);
    ogg_page page;
    auto write = [&] { // a failed write shows in ferror at the end
        std::fwrite(page.header, 1, page.header_len, out);
        std::fwrite(page.body, 1, page.body_len, out);
    };
    while (ogg_stream_flush(&stream, &page)) write();

    // A block at a time: the encoder moves what it holds back on every block.
    for (size_t done = 0, count = 1; count > 0; done += count) {
        count = std::min<size_t>(1024, mix[0].size() - done);
        float** buffer = vorbis_analysis_buffer(&dsp, int(count));
        for (int side = 0; side < 2; ++side)
            std::memcpy(buffer[side], mix[side].data() + done, count * sizeof(float));
        vorbis_analysis_wrote(&dsp, int(count)); // 0 marks the end
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page)) write();
            }
        }
    }
    while (ogg_stream_flush(&stream, &page)) write();
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return !std::ferror(out);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bumpwave-make-music OUTFILE\n");
        return 2;
    }
    size_t frames = FrameAt(Length);
    for (Bus* bus : {&S.drums, &S.ducked, &S.keys, &S.reverb, &S.echo})
        *bus = {std::vector<float>(frames), std::vector<float>(frames)};
    S.duck.assign(frames, 1.0f);
    S.seed = 20240611;
    Compose();

    Bus mix;
    for (int side = 0; side < 2; ++side) {
        for (size_t i = 0; i < frames; ++i)
            mix[side].push_back(S.drums[side][i] + S.ducked[side][i] * S.duck[i] + S.keys[side][i]);
    }
    Echo(mix);
    Reverb(mix);
    // The last two bars and the tail fade out to nothing.
    size_t fadeFrom = FrameAt(20.5 * Bar);
    for (size_t i = fadeFrom; i < frames; ++i) {
        double x = static_cast<double>(i - fadeFrom) / static_cast<double>(frames - 1 - fadeFrom);
        float gain = static_cast<float>(0.5 * (1 + std::cos(Pi * x)));
        for (auto& side : mix) side[i] *= gain;
    }
    Limit(mix, 0.8f);

    FILE* out = std::fopen(argv[1], "wb");
    bool written = out && Encode(mix, out);
    if (!out || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "bumpwave-make-music: could not write %s: %s\n", argv[1],
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
