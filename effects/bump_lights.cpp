#include "effects/bump_lights.h"

#include "effects/tables.h"

#include <cstring>

constexpr int WindowSize = 127; // a light lights window positions 1..127 of its origin
constexpr int PictureRowWords = BumpPictureRowBytes / 4;

// One light over one channel. `shift` picks both the channel read from the
// picture and the bits written in the frame. The frame was just cleared and red
// comes first, so OR-ing red gives the same word as storing it, and a level of 0
// changes nothing: every pixel can take `|=` without a test.
//
// SpotWeight is symmetric, so the weight of window column i, row j is read as
// row j, column i: contiguous along the inner loop.
__attribute__((target_clones("avx2", "default"))) static void
DrawLight(uint32_t* frame, int pixelsPerRow, const uint32_t* picture, const Light& light,
          int shift) {
    const int x = light.x, y = light.y;
    for (int j = 1; j <= WindowSize; ++j) {
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

static void MoveLights() {
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

void RenderBumpLights(BitMap* frame, const uint32_t* picture) {
    LockedFrame locked;
    uintptr_t lock = p96LockBitMap(frame, &locked);
    if (lock) {
        std::memset(locked.memory, 0, static_cast<size_t>(locked.bytesPerRow) * FrameHeight);
        int pixelsPerRow = locked.bytesPerRow / 4;
        DrawLight(locked.memory, pixelsPerRow, picture, redLight, 16);
        DrawLight(locked.memory, pixelsPerRow, picture, greenLight, 8);
        DrawLight(locked.memory, pixelsPerRow, picture, blueLight, 0);
        p96UnlockBitMap(frame, lock);
    }
    MoveLights();
}
