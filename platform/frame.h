// The offscreen frame every renderer draws into: 32-bit words 0x00RRGGBB,
// reached only through a lock that hands out the pixel address and the row
// stride. Renderers must honour the stride, never assume 640 words a row.
#pragma once

#include <cstdint>

constexpr int FrameWidth = 640;
constexpr int FrameHeight = 480;

// What a successful lock hands out.
struct LockedFrame {
    uint32_t* memory;    // pixel (0, 0)
    int16_t bytesPerRow; // pixels per row = bytesPerRow / 4
};

// A rectangle of a frame's pixels.
struct FrameRect {
    int x, y, width, height;
};
constexpr int MaxDrawnAreas = 3;

// `pixels` and `bytesPerRow` are where the next lock draws: the frame's own
// memory, or a display's pixels while the display lends them (display.h).
struct Frame {
    uint32_t* pixels;
    int width;
    int height;
    int16_t bytesPerRow;
    int failingLocks; // test hook: how many of the next locks fail
    uint32_t* ownPixels;
    int16_t ownBytesPerRow;
    void* block; // the allocation ownPixels lies in
    // Outside these areas the last drawing left the frame black; -1: it may
    // have drawn anywhere (MarkDrawnAreas).
    int drawnCount;
    FrameRect drawn[MaxDrawnAreas];
};

// A cleared frame; bytesPerRow 0 means packed rows (width × 4). Rows can be
// padded for tests, up to the 16-bit stride limit. Returns nullptr on failure.
Frame* AllocateFrame(int width, int height, int bytesPerRow = 0);
void FreeFrame(Frame* frame);

// Points the frame's locks back at its own memory.
void UseOwnPixels(Frame* frame);

// Fills `locked` and returns true, or returns false when the lock fails.
bool LockFrame(Frame* frame, LockedFrame* locked);
void UnlockFrame(Frame* frame);

// Says, after a drawing, that every pixel of the frame outside `areas` is
// black, so that a display keeping the last frame it showed need only send
// these areas and those of the frame before. Every lock forgets it: a drawer
// that says nothing may have drawn anywhere. The areas are clipped to the
// frame; more than MaxDrawnAreas count as the whole frame.
void MarkDrawnAreas(Frame* frame, const FrameRect* areas, int count);

// Where the pixels the next lock hands out may be other than black: the
// areas of the last MarkDrawnAreas, while the frame draws into its own pixels
// (a display's lent pixels may hold anything by then), copied to `areas`;
// else -1, anywhere.
int AreasNotBlack(const Frame* frame, FrameRect* areas);

// Makes the next lock of `frame` fail, so tests can check what renderers do then.
void FailNextLock(Frame* frame);
