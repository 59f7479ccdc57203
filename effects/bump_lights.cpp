#include "effects/bump_lights.h"

#include "effects/tables.h"
#include "effects/vector_path.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

constexpr int WindowSize = 127; // a light lights window positions 1..127 of its origin
constexpr int PictureRowWords = BumpPictureRowBytes / 4;
constexpr int ClearRows = 16; // the frame is cleared and drawn in bands of this many rows

// One light over one channel. `shift` picks both the channel read from the
// picture and the bits written in the frame. The frame was just cleared and red
// comes first, so OR-ing red gives the same word as storing it, and a level of 0
// changes nothing: every pixel can take `|=` without a test.
//
// SpotWeight is symmetric, so the weight of window column i, row j is read as
// row j, column i: contiguous along the inner loop.
static void DrawLightPortable(uint32_t* frame, int pixelsPerRow, const uint32_t* picture,
                              const Light& light, int shift, int first, int end) {
    const int x = light.x, y = light.y;
    for (int j = first; j < end; ++j) {
        const uint32_t* row = picture + (y + j) * PictureRowWords + x;
        const uint32_t* above = row - PictureRowWords;
        const float* weight = SpotWeight + j * SpotSize;
        uint32_t* out = frame + (y + j) * pixelsPerRow + x;
        for (int i = 1; i <= WindowSize; ++i) {
            int c = (row[i] >> shift) & 255;
            int left = (row[i - 1] >> shift) & 255;
            int up = (above[i] >> shift) & 255;
            // Low 7 bits: the remainder modulo 128, for negative values too.
            int u = (x + c - left + 64) & (SpotSize - 1);
            int v = (y + c - up + 64) & (SpotSize - 1);
            int level = static_cast<int>(weight[i] * SpotTable[u * SpotSize + v]);
            out[i] |= static_cast<uint32_t>(level) << shift;
        }
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) static inline __m256i ShiftedOf8(const uint32_t* words,
                                                                 __m128i shift) {
    return _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words)), shift);
}

// The same light, eight pixels at a time. Each row runs over columns 1..128:
// column 128 reads the weight at (j + 1, 0), which is 0, so it ORs nothing
// into a pixel that lies inside the frame anyway (x stays below 505).
__attribute__((target("avx2"))) static void DrawLightAvx2(uint32_t* frame, int pixelsPerRow,
                                                          const uint32_t* picture,
                                                          const Light& light, int shift, int first,
                                                          int end) {
    const int x = light.x, y = light.y;
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m256i low7 = _mm256_set1_epi32(SpotSize - 1);
    const __m256i originX = _mm256_set1_epi32(x + 64), originY = _mm256_set1_epi32(y + 64);
    for (int j = first; j < end; ++j) {
        const uint32_t* row = picture + (y + j) * PictureRowWords + x;
        const uint32_t* above = row - PictureRowWords;
        const float* weight = SpotWeight + j * SpotSize;
        uint32_t* out = frame + (y + j) * pixelsPerRow + x;
        for (int i = 1; i <= WindowSize; i += 8) {
            const __m256 w = _mm256_loadu_ps(weight + i);
            // Outside the disc of the spot every weight is 0: whole runs of a row light nothing.
            if (_mm256_testz_si256(_mm256_castps_si256(w), _mm256_castps_si256(w))) continue;
            // The channels above the one read change a difference by a multiple
            // of 256, which the 7-bit mask drops: no mask per channel is needed.
            __m256i c = ShiftedOf8(row + i, count);
            __m256i left = ShiftedOf8(row + i - 1, count);
            __m256i up = ShiftedOf8(above + i, count);
            __m256i u =
                _mm256_and_si256(_mm256_add_epi32(originX, _mm256_sub_epi32(c, left)), low7);
            __m256i v = _mm256_and_si256(_mm256_add_epi32(originY, _mm256_sub_epi32(c, up)), low7);
            __m256i index = _mm256_or_si256(_mm256_slli_epi32(u, 7), v);
            __m256 spot = _mm256_i32gather_ps(SpotTable, index, 4);
            __m256i level = _mm256_cvttps_epi32(_mm256_mul_ps(w, spot));
            auto* pixels = reinterpret_cast<__m256i*>(out + i);
            __m256i bits = _mm256_sll_epi32(level, count);
            // Red comes first into a cleared frame: it need not read the pixels.
            if (shift != 16) bits = _mm256_or_si256(bits, _mm256_loadu_si256(pixels));
            _mm256_storeu_si256(pixels, bits);
        }
    }
}

// GCC 12 warns of the undefined vectors that its own AVX-512 intrinsics start from.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// SpotTable's entries for eight sums of squares n, as BuildSpotTables has them:
// 255 - (sqrt(n) - 1) * 4 loses no bits before its last subtraction, so it is
// 259 - sqrt(16 n) rounded once, the same double.
__attribute__((target("avx512f"))) static inline __m256 SpotOf8(__m256i squares) {
    __m512d root = _mm512_sqrt_pd(_mm512_cvtepi32_pd(_mm256_slli_epi32(squares, 4)));
    return _mm512_cvtpd_ps(_mm512_sub_pd(_mm512_set1_pd(259.0), root));
}

// SpotTable at (u, v), worked out in double precision rather than read: a
// gather of sixteen floats costs more than two vectors of square roots (on
// AMD's Zen 5 at least), and the floats are the same.
__attribute__((target("avx512f"))) static inline __m512 SpotOf16(__m512i u, __m512i v) {
    const __m512i last = _mm512_set1_epi32(SpotSize - 1), centre = _mm512_set1_epi32(65);
    // The distance from (65, 65) in the first quadrant; the other three are its mirrors.
    __m512i a = _mm512_sub_epi32(centre, _mm512_min_epi32(u, _mm512_sub_epi32(last, u)));
    __m512i b = _mm512_sub_epi32(centre, _mm512_min_epi32(v, _mm512_sub_epi32(last, v)));
    __m512i squares = _mm512_add_epi32(_mm512_mullo_epi32(a, a), _mm512_mullo_epi32(b, b));
    __m256 low = SpotOf8(_mm512_castsi512_si256(squares));
    __m256 high = SpotOf8(_mm512_extracti64x4_epi64(squares, 1));
    __m512 both = _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(low)),
                                                      _mm256_castps_pd(high), 1));
    return _mm512_max_ps(both, _mm512_setzero_ps()); // 0 beyond the spot's rim, as in the table
}

// The AVX2 path's steps, sixteen pixels at a time, with the spot worked out.
__attribute__((target("avx512f"))) static void DrawLightAvx512(uint32_t* frame, int pixelsPerRow,
                                                               const uint32_t* picture,
                                                               const Light& light, int shift,
                                                               int first, int end) {
    const int x = light.x, y = light.y;
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m512i low7 = _mm512_set1_epi32(SpotSize - 1);
    const __m512i originX = _mm512_set1_epi32(x + 64), originY = _mm512_set1_epi32(y + 64);
    for (int j = first; j < end; ++j) {
        const uint32_t* row = picture + (y + j) * PictureRowWords + x;
        const uint32_t* above = row - PictureRowWords;
        const float* weight = SpotWeight + j * SpotSize;
        uint32_t* out = frame + (y + j) * pixelsPerRow + x;
        for (int i = 1; i <= WindowSize; i += 16) {
            const __m512 w = _mm512_loadu_ps(weight + i);
            if (!_mm512_test_epi32_mask(_mm512_castps_si512(w), _mm512_castps_si512(w))) continue;
            __m512i c = _mm512_srl_epi32(_mm512_loadu_si512(row + i), count);
            __m512i left = _mm512_srl_epi32(_mm512_loadu_si512(row + i - 1), count);
            __m512i up = _mm512_srl_epi32(_mm512_loadu_si512(above + i), count);
            __m512i u =
                _mm512_and_si512(_mm512_add_epi32(originX, _mm512_sub_epi32(c, left)), low7);
            __m512i v = _mm512_and_si512(_mm512_add_epi32(originY, _mm512_sub_epi32(c, up)), low7);
            __m512i level = _mm512_cvttps_epi32(_mm512_mul_ps(w, SpotOf16(u, v)));
            __m512i bits = _mm512_sll_epi32(level, count);
            if (shift != 16) bits = _mm512_or_si512(bits, _mm512_loadu_si512(out + i));
            _mm512_storeu_si512(out + i, bits);
        }
    }
}
#pragma GCC diagnostic pop
#endif

#if defined(__wasm_simd128__)
// The AVX2 path's steps, four pixels at a time, for the page. WebAssembly has
// no gather: the four spot values are read one by one.
static void DrawLightSimd128(uint32_t* frame, int pixelsPerRow, const uint32_t* picture,
                             const Light& light, int shift, int first, int end) {
    const int x = light.x, y = light.y;
    const v128_t low7 = wasm_i32x4_splat(SpotSize - 1);
    const v128_t originX = wasm_i32x4_splat(x + 64), originY = wasm_i32x4_splat(y + 64);
    for (int j = first; j < end; ++j) {
        const uint32_t* row = picture + (y + j) * PictureRowWords + x;
        const uint32_t* above = row - PictureRowWords;
        const float* weight = SpotWeight + j * SpotSize;
        uint32_t* out = frame + (y + j) * pixelsPerRow + x;
        for (int i = 1; i <= WindowSize; i += 4) {
            const v128_t w = wasm_v128_load(weight + i);
            if (!wasm_v128_any_true(w)) continue;
            v128_t c = wasm_u32x4_shr(wasm_v128_load(row + i), shift);
            v128_t left = wasm_u32x4_shr(wasm_v128_load(row + i - 1), shift);
            v128_t up = wasm_u32x4_shr(wasm_v128_load(above + i), shift);
            v128_t u = wasm_v128_and(wasm_i32x4_add(originX, wasm_i32x4_sub(c, left)), low7);
            v128_t v = wasm_v128_and(wasm_i32x4_add(originY, wasm_i32x4_sub(c, up)), low7);
            v128_t index = wasm_v128_or(wasm_i32x4_shl(u, 7), v);
            v128_t spot = wasm_f32x4_make(SpotTable[wasm_i32x4_extract_lane(index, 0)],
                                          SpotTable[wasm_i32x4_extract_lane(index, 1)],
                                          SpotTable[wasm_i32x4_extract_lane(index, 2)],
                                          SpotTable[wasm_i32x4_extract_lane(index, 3)]);
            v128_t bits =
                wasm_i32x4_shl(wasm_i32x4_trunc_sat_f32x4(wasm_f32x4_mul(w, spot)), shift);
            if (shift != 16) bits = wasm_v128_or(bits, wasm_v128_load(out + i));
            wasm_v128_store(out + i, bits);
        }
    }
}
#endif

// The frame pixels a light can reach: rows 1..126 and columns 1..127 of its
// window (its row 127 has weight 0 throughout and is left out).
static FrameRect LightWindow(const Light& light) {
    return {light.x + 1, light.y + 1, WindowSize, WindowSize - 1};
}

// The rows of the light's window that lie in frame rows top..bottom - 1.
static void DrawLight(uint32_t* frame, int pixelsPerRow, const uint32_t* picture,
                      const Light& light, int shift, int top, int bottom) {
    const FrameRect window = LightWindow(light);
    const int first = std::max(window.y, top) - light.y;
    const int end = std::min(window.y + window.height, bottom) - light.y;
    if (first >= end) return;
#if defined(__x86_64__)
    if (UseAvx512) return DrawLightAvx512(frame, pixelsPerRow, picture, light, shift, first, end);
    if (UseAvx2) return DrawLightAvx2(frame, pixelsPerRow, picture, light, shift, first, end);
#elif defined(__wasm_simd128__)
    return DrawLightSimd128(frame, pixelsPerRow, picture, light, shift, first, end);
#endif
    DrawLightPortable(frame, pixelsPerRow, picture, light, shift, first, end);
}

void StepBumpLights() {
    Light* lights[] = {&Lights.redLight, &Lights.greenLight, &Lights.blueLight};
    for (Light* light : lights) {
        light->x += light->dx;
        light->y += light->dy;
    }
    // Bounce outside 11..501 and 11..341; one unsigned test covers both ends.
    for (Light* light : lights) {
        if (static_cast<uint32_t>(light->x - 11) > 490) light->dx = -light->dx;
        if (static_cast<uint32_t>(light->y - 11) > 330) light->dy = -light->dy;
    }
}

// Clears frame rows top..top + ClearRows - 1: whole rows, padding and all, or
// only where the `lit` areas say the frame may not be black yet.
static void ClearBand(const LockedFrame& locked, const FrameRect* lit, int litCount, int top) {
    const int pixelsPerRow = locked.bytesPerRow / 4;
    if (litCount < 0) {
        std::memset(locked.memory + top * pixelsPerRow, 0,
                    static_cast<size_t>(locked.bytesPerRow) * ClearRows);
        return;
    }
    for (int i = 0; i < litCount; ++i) {
        const FrameRect& area = lit[i];
        const int end = std::min(top + ClearRows, area.y + area.height);
        for (int y = std::max(top, area.y); y < end; ++y)
            std::memset(locked.memory + y * pixelsPerRow + area.x, 0, area.width * 4u);
    }
}

void RenderBumpLights(Frame* frame, const uint32_t* picture) {
    // A frame that still holds the last lights is black outside their windows:
    // only those need clearing, a sixth of the frame.
    FrameRect lit[MaxDrawnAreas];
    const int litCount = AreasNotBlack(frame, lit);
    LockedFrame locked;
    if (!LockFrame(frame, &locked)) return;
    const int pixelsPerRow = locked.bytesPerRow / 4;
    // Upwards: whatever used the frame last went downwards, so its end is the
    // part still in cache. Each band is drawn while it is, and the lights keep
    // their order in every pixel.
    for (int top = FrameHeight - ClearRows; top >= 0; top -= ClearRows) {
        ClearBand(locked, lit, litCount, top);
        DrawLight(locked.memory, pixelsPerRow, picture, Lights.redLight, 16, top, top + ClearRows);
        DrawLight(locked.memory, pixelsPerRow, picture, Lights.greenLight, 8, top, top + ClearRows);
        DrawLight(locked.memory, pixelsPerRow, picture, Lights.blueLight, 0, top, top + ClearRows);
    }
    const FrameRect windows[] = {LightWindow(Lights.redLight), LightWindow(Lights.greenLight),
                                 LightWindow(Lights.blueLight)};
    MarkDrawnAreas(frame, windows, 3);
    UnlockFrame(frame);
}
