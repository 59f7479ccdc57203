// The renderers pixel by pixel, the tests' reference and bench's baseline; null: a failed lock.
#pragma once

#include "effects/tables.h"
#include "platform/frame.h"

namespace literal {

constexpr int W = FrameWidth, H = FrameHeight;

// The red, green and blue `lights` over a cleared frame; then each steps, turning at the edges.
inline void BumpLights(uint32_t* frame, const uint32_t* picture, ::Light* lights, int pitch = W) {
    for (int i = 0; frame && i < pitch * H; ++i) frame[i] = 0;
    for (int k = 0; frame && k < 3; ++k) {
        const int shift = 16 - 8 * k, x = lights[k].x, y = lights[k].y;
        auto at = [&](int px, int py) { return (picture[py * 640 + px] >> shift) & 255; };
        for (int j = 1; j <= 127; ++j)
            for (int i = 1; i <= 127; ++i) {
                int c = at(x + i, y + j), l = at(x + i - 1, y + j), up = at(x + i, y + j - 1);
                int u = (x + (c - l) + 64) & 127, v = (y + (c - up) + 64) & 127;
                int level = static_cast<int>(SpotWeight[i * 128 + j] * SpotTable[u * 128 + v]);
                if (level <= 0) continue;
                uint32_t& pixel = frame[(y + j) * pitch + x + i];
                pixel = shift == 16 ? static_cast<uint32_t>(level) << 16
                                    : pixel | static_cast<uint32_t>(level) << shift;
            }
    }
    for (::Light* light = lights; light < lights + 3; ++light) {
        light->x += light->dx;
        light->y += light->dy;
        if (light->x < 11 || light->x > 501) light->dx = -light->dx;
        if (light->y < 11 || light->y > 341) light->dy = -light->dy;
    }
}

// The plasma from the phases `p`, which then move on; the picture, if any, over it.
inline void Plasma(uint32_t* frame, const uint32_t* picture, PlasmaPhaseSet& p, int pitch = W) {
    const int rows[3] = {p.redRowPhase, p.greenRowPhase, p.blueRowPhase};
    const int columns[3] = {p.redColumnPhase, p.greenColumnPhase, p.blueColumnPhase};
    auto byte = [](float value) { return static_cast<int>(value) & 255; };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint32_t pixel = 0; // red, green, blue
            for (int c = 0; c < 3; ++c) {
                int i = rows[c] + y, j = columns[c] + x;
                if (i > 479) i -= 480;
                if (j > 639) j -= 640;
                pixel = pixel << 8 | (byte(PlasmaRowWave[i]) + byte(PlasmaColumnWave[j])) / 2;
            }
            frame[y * pitch + x] = pixel;
        }
    p = {(p.redRowPhase + 1) % 480,      (p.greenRowPhase + 2) % 480,
         (p.blueRowPhase + 3) % 480,     (p.redColumnPhase + 1) % 640,
         (p.greenColumnPhase + 2) % 640, (p.blueColumnPhase + 3) % 640};
    for (int k = 0; picture && k < 200; ++k)
        for (int m = 0; m < 320; ++m)
            if (picture[320 * k + m] < 0x00F0F0F0u)
                frame[(280 + k) * pitch + 160 + m] = picture[320 * k + m];
}

// The dot grid over the frame with the counters given, which then move on.
inline void Dots(uint32_t* frame, uint32_t& rowCounter, uint32_t& columnCounter, int pitch = W) {
    for (uint32_t r = 50; frame && r < 430; r += 4) {
        uint32_t colour = r < 160 ? 0x00008400u : r < 320 ? 0x00FFFFFFu : 0x00FF0000u;
        for (uint32_t c = 50; c < 590; c += 4) {
            uint32_t p = r * c;
            int y = static_cast<int>(r + DotRowWave[(p + rowCounter) % 480]); // in float
            y = y < 0 ? y + 480 : y > 479 ? y - 480 : y;
            if (y < 51 || y > 429) continue;
            int x = static_cast<int>(c + DotColumnWave[(p + columnCounter) % 640]);
            x = x < 0 ? x + 640 : x > 639 ? x - 640 : x;
            if (x < 51 || x > 589) continue;
            frame[y * pitch + x] = frame[y * pitch + x + 1] = colour;
            frame[(y + 1) * pitch + x] = frame[(y + 1) * pitch + x + 1] = colour;
        }
    }
    columnCounter = (columnCounter + 1) % 640;
    rowCounter = (rowCounter + 1) % 480;
}

} // namespace literal
