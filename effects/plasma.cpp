#include "effects/plasma.h"

#include "effects/tables.h"
#include "effects/truncate.h"
#include "effects/vector_path.h"

#include <algorithm>
#include <climits>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

uint32_t WaveByte(float value) {
    return static_cast<uint32_t>(TruncateToInt32(value)) & 255;
}

// Each channel's bytes for every row (or column), starting at its phase: the
// per-pixel work is then one look-up of a packed word per column.
static void PackWave(uint32_t* packed, const float* wave, int count, int redPhase, int greenPhase,
                     int bluePhase) {
    uint8_t bytes[PlasmaColumnCount];
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(WaveByte(wave[i]));
    for (int i = 0; i < count; ++i) {
        // One subtraction is enough: a phase is always below the count.
        int r = redPhase + i, g = greenPhase + i, b = bluePhase + i;
        if (r >= count) r -= count;
        if (g >= count) g -= count;
        if (b >= count) b -= count;
        packed[i] = uint32_t{bytes[r]} << 16 | uint32_t{bytes[g]} << 8 | bytes[b];
    }
}

// Per channel, the mean of a row byte and a column byte with the remainder
// dropped. The alpha byte, 0 in both words, comes out 0.
//
// In plain words: the common bits plus half the differing ones, without the
// bit that would cross into the next byte.
static void FillRowsPortable(uint32_t* frame, int pixelsPerRow, const uint32_t* rowWords,
                             const uint32_t* columnWords) {
    for (int y = 0; y < FrameHeight; ++y) {
        uint32_t* out = frame + y * pixelsPerRow;
        const uint32_t row = rowWords[y];
        for (int x = 0; x < FrameWidth; ++x) {
            const uint32_t column = columnWords[x];
            out[x] = (row & column) + (((row ^ column) & 0xFEFEFEFEu) >> 1);
        }
    }
}

#if defined(__x86_64__)
// SSE2, which every x86-64 has. The byte-average instruction rounds up
// instead; on inverted bytes it rounds the other way, since
// floor((a + b) / 2) = ~avg(~a, ~b).
static void FillRowsSse2(uint32_t* frame, int pixelsPerRow, const uint32_t* rowWords,
                         const uint32_t* columnWords) {
    const __m128i ones = _mm_set1_epi32(-1);
    __m128i columns[FrameWidth / 4];
    for (int x = 0; x < FrameWidth / 4; ++x) {
        __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columnWords + 4 * x));
        columns[x] = _mm_xor_si128(words, ones);
    }
    for (int y = 0; y < FrameHeight; ++y) {
        auto* out = reinterpret_cast<__m128i*>(frame + y * pixelsPerRow);
        const __m128i row = _mm_set1_epi32(static_cast<int32_t>(~rowWords[y]));
        for (int x = 0; x < FrameWidth / 4; ++x)
            _mm_storeu_si128(out + x, _mm_xor_si128(_mm_avg_epu8(row, columns[x]), ones));
    }
}
#endif

#if defined(__wasm_simd128__)
// The SSE2 path's inverted rounding average, for the page.
static void FillRowsSimd128(uint32_t* frame, int pixelsPerRow, const uint32_t* rowWords,
                            const uint32_t* columnWords) {
    v128_t columns[FrameWidth / 4];
    for (int x = 0; x < FrameWidth / 4; ++x)
        columns[x] = wasm_v128_not(wasm_v128_load(columnWords + 4 * x));
    for (int y = 0; y < FrameHeight; ++y) {
        uint32_t* out = frame + y * pixelsPerRow;
        const v128_t row = wasm_u32x4_splat(~rowWords[y]);
        for (int x = 0; x < FrameWidth / 4; ++x)
            wasm_v128_store(out + 4 * x, wasm_v128_not(wasm_u8x16_avgr(row, columns[x])));
    }
}
#endif

static void PasteOverlayPortable(uint32_t* frame, int pixelsPerRow, const uint32_t* picture) {
    for (int k = 0; k < OverlayHeight; ++k) {
        const uint32_t* in = picture + k * OverlayWidth;
        uint32_t* out = frame + (OverlayTop + k) * pixelsPerRow + OverlayLeft;
        for (int m = 0; m < OverlayWidth; ++m) out[m] = in[m] < OverlayKey ? in[m] : out[m];
    }
}

// Only the words the overlay would paste are blended; the rest stay plasma.
static void BlendOverlay(uint32_t* frame, int pixelsPerRow, const uint32_t* picture,
                         uint32_t weight) {
    for (int k = 0; k < OverlayHeight; ++k) {
        const uint32_t* in = picture + k * OverlayWidth;
        uint32_t* out = frame + (OverlayTop + k) * pixelsPerRow + OverlayLeft;
        for (int m = 0; m < OverlayWidth; ++m) {
            if (in[m] >= OverlayKey) continue;
            uint32_t blended = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const uint32_t over = in[m] >> shift & 255, under = out[m] >> shift & 255;
                blended |= (over * weight + under * (FadeWeightFull - weight)) / FadeWeightFull
                           << shift;
            }
            out[m] = blended;
        }
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) static void FillRowsAvx2(uint32_t* frame, int pixelsPerRow,
                                                         const uint32_t* rowWords,
                                                         const uint32_t* columnWords) {
    const __m256i ones = _mm256_set1_epi32(-1);
    __m256i columns[FrameWidth / 8];
    for (int x = 0; x < FrameWidth / 8; ++x) {
        __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columnWords + 8 * x));
        columns[x] = _mm256_xor_si256(words, ones);
    }
    for (int y = 0; y < FrameHeight; ++y) {
        auto* out = reinterpret_cast<__m256i*>(frame + y * pixelsPerRow);
        const __m256i row = _mm256_set1_epi32(static_cast<int32_t>(~rowWords[y]));
        for (int x = 0; x < FrameWidth / 8; ++x)
            _mm256_storeu_si256(out + x, _mm256_xor_si256(_mm256_avg_epu8(row, columns[x]), ones));
    }
}

// The same, eight words at a time: a blend rather than a branch, since logos
// alternate shown and keyed words. AVX2 compares signed, so both sides are
// shifted by 2^31 to compare them unsigned.
__attribute__((target("avx2"))) static void PasteOverlayAvx2(uint32_t* frame, int pixelsPerRow,
                                                             const uint32_t* picture) {
    const __m256i bias = _mm256_set1_epi32(INT32_MIN);
    const __m256i key = _mm256_set1_epi32(static_cast<int32_t>(OverlayKey ^ 0x80000000u));
    for (int k = 0; k < OverlayHeight; ++k) {
        const uint32_t* in = picture + k * OverlayWidth;
        uint32_t* out = frame + (OverlayTop + k) * pixelsPerRow + OverlayLeft;
        for (int m = 0; m < OverlayWidth; m += 8) {
            __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + m));
            auto* pixels = reinterpret_cast<__m256i*>(out + m);
            __m256i show = _mm256_cmpgt_epi32(key, _mm256_xor_si256(word, bias));
            _mm256_storeu_si256(pixels, _mm256_blendv_epi8(_mm256_loadu_si256(pixels), word, show));
        }
    }
}
#endif

static void FillRows(uint32_t* frame, int pixelsPerRow, const uint32_t* rowWords,
                     const uint32_t* columnWords) {
#if defined(__x86_64__)
    if (UseAvx2) return FillRowsAvx2(frame, pixelsPerRow, rowWords, columnWords);
    if (UseSse2) return FillRowsSse2(frame, pixelsPerRow, rowWords, columnWords);
#elif defined(__wasm_simd128__)
    return FillRowsSimd128(frame, pixelsPerRow, rowWords, columnWords);
#endif
    FillRowsPortable(frame, pixelsPerRow, rowWords, columnWords);
}

static void PasteOverlay(uint32_t* frame, int pixelsPerRow, const uint32_t* picture) {
#if defined(__x86_64__)
    if (UseAvx2) return PasteOverlayAvx2(frame, pixelsPerRow, picture);
#endif
    PasteOverlayPortable(frame, pixelsPerRow, picture);
}

void StepPlasma() {
    PlasmaPhaseSet& p = PlasmaPhases;
    p.redRowPhase = (p.redRowPhase + 1) % PlasmaRowCount;
    p.greenRowPhase = (p.greenRowPhase + 2) % PlasmaRowCount;
    p.blueRowPhase = (p.blueRowPhase + 3) % PlasmaRowCount;
    p.redColumnPhase = (p.redColumnPhase + 1) % PlasmaColumnCount;
    p.greenColumnPhase = (p.greenColumnPhase + 2) % PlasmaColumnCount;
    p.blueColumnPhase = (p.blueColumnPhase + 3) % PlasmaColumnCount;
}

// The plasma of the current phases, the frame locked.
static void DrawPlasma(const LockedFrame& locked) {
    const PlasmaPhaseSet& p = PlasmaPhases;
    uint32_t rowWords[PlasmaRowCount], columnWords[PlasmaColumnCount];
    PackWave(rowWords, PlasmaRowWave, PlasmaRowCount, p.redRowPhase, p.greenRowPhase,
             p.blueRowPhase);
    PackWave(columnWords, PlasmaColumnWave, PlasmaColumnCount, p.redColumnPhase, p.greenColumnPhase,
             p.blueColumnPhase);
    const int pixelsPerRow = locked.bytesPerRow / 4;
    FillRows(locked.memory, pixelsPerRow, rowWords, columnWords);
}

bool RenderPlasma(Frame* frame, const uint32_t* picture) {
    LockedFrame locked;
    if (!LockFrame(frame, &locked)) return false;
    DrawPlasma(locked);
    if (picture) PasteOverlay(locked.memory, locked.bytesPerRow / 4, picture);
    UnlockFrame(frame);
    return true;
}

bool RenderPlasmaWithFade(Frame* frame, const uint32_t* picture, uint32_t weight) {
    LockedFrame locked;
    if (!LockFrame(frame, &locked)) return false;
    DrawPlasma(locked);
    BlendOverlay(locked.memory, locked.bytesPerRow / 4, picture, std::min(weight, FadeWeightFull));
    UnlockFrame(frame);
    return true;
}
