// The offscreen frame every renderer draws into: 32-bit words 0x00RRGGBB,
// reached only through a lock that hands out the pixel address and the row
// stride. Renderers must honour the stride, never assume 640 words a row.
#pragma once

#include <cstdint>

constexpr int FrameWidth = 640;
constexpr int FrameHeight = 480;
constexpr uint32_t RGBFB_A8R8G8B8 = 6; // pixel format code of the frame

// What a successful lock fills in.
struct LockedFrame {
    uint32_t* memory;    // pixel (0, 0)
    int16_t bytesPerRow; // pixels per row = bytesPerRow / 4
    uint16_t pad;
    uint32_t format;
};

struct BitMap {
    uint32_t* pixels;
    int width;
    int height;
    int16_t bytesPerRow;
    int failingLocks; // test hook: how many of the next locks fail
};

// A cleared bitmap; bytesPerRow 0 means packed rows (width × 4). Rows can be
// padded for tests, up to the 16-bit stride limit. Returns nullptr on failure.
BitMap* p96AllocBitMap(int width, int height, int bytesPerRow = 0);
void p96FreeBitMap(BitMap* bitmap);

// Returns a non-zero lock handle and fills `locked`, or 0 when the lock fails.
uintptr_t p96LockBitMap(BitMap* bitmap, LockedFrame* locked);
void p96UnlockBitMap(BitMap* bitmap, uintptr_t lock);

// Makes the next lock of `bitmap` fail, so tests can check what renderers do then.
void p96FailNextLock(BitMap* bitmap);
