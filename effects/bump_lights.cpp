#include "effects/bump_lights.h"

#include "effects/tables.h"
#include "effects/vector_path.h"

#include <algorithm>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

constexpr int WindowSize = 127; // a light lights window positions 1..127 of its origin
constexpr int PictureRowWords = BumpPictureRowBytes / 4;
// Each light draws window rows 1..126 and columns 1..128 whole: row and column
// 127 have weight 0, and 128 columns are sixteen runs of eight for the vector path.
constexpr int SpanRows = WindowSize - 1;
constexpr int SpanWords = WindowSize + 1;

// Which span rows each light stores whole rather than ORs into the frame: those
// no earlier light's span meets. The clear leaves the stored spans out.
static struct { bool stores[3][SpanRows]; } state;

// One light over one channel. `shift` picks both the channel read from the
// picture and the bits written in the frame. A row the light does not store is
// either cleared or drawn by an earlier light, so a level of 0 changes nothing
// there and every pixel can take `|=`.
//
// SpotWeight is symmetric, so the weight of window column i, row j is read as
// row j, column i: contiguous along the inner loop. Column 128 reads the weight
// at (j + 1, 0), which is 0.
static void DrawLightPortable(uint32_t* frame, int pixelsPerRow, const uint32_t* picture,
                              const Light& light, int shift, const bool* stores) {
    const int x = light.x, y = light.y;
    for (int j = 1; j <= SpanRows; ++j) {
        const uint32_t* row = picture + (y + j) * PictureRowWords + x;
        const uint32_t* above = row - PictureRowWords;
        const float* weight = SpotWeight + j * SpotSize;
        uint32_t* out = frame + (y + j) * pixelsPerRow + x;
        const uint32_t keep = stores[j - 1] ? 0 : ~0u;
        for (int i = 1; i <= SpanWords; ++i) {
            int c = (row[i] >> shift) & 255;
            int left = (row[i - 1] >> shift) & 255;
            int up = (above[i] >> shift) & 255;
            // Low 7 bits: the remainder modulo 128, for negative values too.
            int u = (x + c - left + 64) & (SpotSize - 1);
            int v = (y + c - up + 64) & (SpotSize - 1);
            int level = static_cast<int>(weight[i] * SpotTable[u * SpotSize + v]);
            out[i] = (out[i] & keep) | static_cast<uint32_t>(level) << shift;
        }
    }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) static inline __m256i ShiftedOf8(const uint32_t* words,
                                                                 __m128i shift) {
    return _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words)), shift);
}

// The same light, eight pixels at a time.
__attribute__((target("avx2"))) static void DrawLightAvx2(uint32_t* frame, int pixelsPerRow,
                                                          const uint32_t* picture,
                                                          const Light& light, int shift,
                                                          const bool* stores) {
    const int x = light.x, y = light.y;
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m256i low7 = _mm256_set1_epi32(SpotSize - 1);
    const __m256i originX = _mm256_set1_epi32(x + 64), originY = _mm256_set1_epi32(y + 64);
    for (int j = 1; j <= SpanRows; ++j) {
        const uint32_t* row = picture + (y + j) * PictureRowWords + x;
        const uint32_t* above = row - PictureRowWords;
        const float* weight = SpotWeight + j * SpotSize;
        uint32_t* out = frame + (y + j) * pixelsPerRow + x;
        const bool store = stores[j - 1];
        for (int i = 1; i <= SpanWords; i += 8) {
            auto* pixels = reinterpret_cast<__m256i*>(out + i);
            const __m256 w = _mm256_loadu_ps(weight + i);
            // Outside the disc of the spot every weight is 0: whole runs of a row light nothing.
            if (_mm256_testz_si256(_mm256_castps_si256(w), _mm256_castps_si256(w))) {
                if (store) _mm256_storeu_si256(pixels, _mm256_setzero_si256());
                continue;
            }
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
            __m256i bits = _mm256_sll_epi32(level, count);
            if (!store) bits = _mm256_or_si256(bits, _mm256_loadu_si256(pixels));
            _mm256_storeu_si256(pixels, bits);
        }
    }
}
#endif

static void DrawLight(uint32_t* frame, int pixelsPerRow, const uint32_t* picture,
                      const Light& light, int shift, const bool* stores) {
#if defined(__x86_64__)
    if (UseAvx2) return DrawLightAvx2(frame, pixelsPerRow, picture, light, shift, stores);
#endif
    DrawLightPortable(frame, pixelsPerRow, picture, light, shift, stores);
}

void StepBumpLights() {
    Light* lights[] = {&redLight, &greenLight, &blueLight};
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

// Whether frame row `row` lies in the span rows of `light`.
static bool SpansRow(const Light& light, int row) {
    return row > light.y && row <= light.y + SpanRows;
}

// A light stores a span row unless an earlier light's span meets it there.
static void FindStoredRows(const Light* const lights[3]) {
    for (int k = 0; k < 3; ++k) {
        for (int j = 1; j <= SpanRows; ++j) {
            bool stores = true;
            for (int m = 0; m < k; ++m) {
                int apart = lights[k]->x - lights[m]->x;
                if (apart < SpanWords && apart > -SpanWords &&
                    SpansRow(*lights[m], lights[k]->y + j))
                    stores = false;
            }
            state.stores[k][j - 1] = stores;
        }
    }
}

// Zeroes the frame, padding included, but for the spans the lights store. Those
// spans never meet, so taken in order they cut each row into gaps. It works
// upwards: whatever used the frame last went downwards, so its end is the part
// still in cache.
static void ClearAroundStoredSpans(uint32_t* frame, int pixelsPerRow,
                                   const Light* const lights[3]) {
    int order[3] = {0, 1, 2}; // right to left
    std::sort(order, order + 3, [&](int a, int b) { return lights[a]->x > lights[b]->x; });
    uint32_t* cleared = frame + FrameHeight * pixelsPerRow; // all from here on is done
    for (int row = FrameHeight - 1; row >= 0; --row) {
        for (int k : order) {
            const Light& light = *lights[k];
            if (!SpansRow(light, row) || !state.stores[k][row - light.y - 1]) continue;
            uint32_t* span = frame + row * pixelsPerRow + light.x + 1;
            std::memset(span + SpanWords, 0, static_cast<size_t>(cleared - span - SpanWords) * 4);
            cleared = span;
        }
    }
    std::memset(frame, 0, static_cast<size_t>(cleared - frame) * 4);
}

void RenderBumpLights(Frame* frame, const uint32_t* picture) {
    LockedFrame locked;
    if (LockFrame(frame, &locked)) {
        const Light* lights[3] = {&redLight, &greenLight, &blueLight};
        int pixelsPerRow = locked.bytesPerRow / 4;
        FindStoredRows(lights);
        ClearAroundStoredSpans(locked.memory, pixelsPerRow, lights);
        for (int k = 0; k < 3; ++k)
            DrawLight(locked.memory, pixelsPerRow, picture, *lights[k], 16 - 8 * k,
                      state.stores[k]);
        UnlockFrame(frame);
    }
}
