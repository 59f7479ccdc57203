#include "platform/frame.h"

#include <cstdlib>
#include <limits>

BitMap* p96AllocBitMap(int width, int height, int bytesPerRow) {
    if (width <= 0 || height <= 0) return nullptr;
    if (bytesPerRow == 0) bytesPerRow = width * 4;
    if (bytesPerRow < width * 4 || bytesPerRow > std::numeric_limits<int16_t>::max())
        return nullptr;
    auto* bitmap = static_cast<BitMap*>(std::calloc(1, sizeof(BitMap)));
    if (!bitmap) return nullptr;
    // Whole words for every row, so a stride that is not a multiple of 4 still
    // leaves room for the last row's pixels.
    size_t words = (static_cast<size_t>(bytesPerRow) * height + 3) / 4;
    bitmap->pixels = static_cast<uint32_t*>(std::calloc(words, sizeof(uint32_t)));
    if (!bitmap->pixels) {
        std::free(bitmap);
        return nullptr;
    }
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bytesPerRow = static_cast<int16_t>(bytesPerRow);
    return bitmap;
}

void p96FreeBitMap(BitMap* bitmap) {
    if (!bitmap) return;
    std::free(bitmap->pixels);
    std::free(bitmap);
}

uintptr_t p96LockBitMap(BitMap* bitmap, LockedFrame* locked) {
    if (bitmap->failingLocks > 0) {
        --bitmap->failingLocks;
        return 0;
    }
    locked->memory = bitmap->pixels;
    locked->bytesPerRow = bitmap->bytesPerRow;
    locked->pad = 0;
    locked->format = RGBFB_A8R8G8B8;
    return reinterpret_cast<uintptr_t>(bitmap);
}

void p96UnlockBitMap(BitMap*, uintptr_t) {}

void p96FailNextLock(BitMap* bitmap) {
    ++bitmap->failingLocks;
}
