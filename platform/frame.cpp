#include "platform/frame.h"

#include <cstdlib>
#include <limits>

Frame* AllocateFrame(int width, int height, int bytesPerRow) {
    if (width <= 0 || height <= 0) return nullptr;
    if (bytesPerRow == 0) bytesPerRow = width * 4;
    if (bytesPerRow < width * 4 || bytesPerRow > std::numeric_limits<int16_t>::max())
        return nullptr;
    auto* frame = static_cast<Frame*>(std::calloc(1, sizeof(Frame)));
    if (!frame) return nullptr;
    // Whole words for every row, so a stride that is not a multiple of 4 still
    // leaves room for the last row's pixels.
    size_t words = (static_cast<size_t>(bytesPerRow) * height + 3) / 4;
    frame->pixels = static_cast<uint32_t*>(std::calloc(words, sizeof(uint32_t)));
    if (!frame->pixels) {
        std::free(frame);
        return nullptr;
    }
    frame->width = width;
    frame->height = height;
    frame->bytesPerRow = static_cast<int16_t>(bytesPerRow);
    return frame;
}

void FreeFrame(Frame* frame) {
    if (!frame) return;
    std::free(frame->pixels);
    std::free(frame);
}

bool LockFrame(Frame* frame, LockedFrame* locked) {
    if (frame->failingLocks > 0) {
        --frame->failingLocks;
        return false;
    }
    locked->memory = frame->pixels;
    locked->bytesPerRow = frame->bytesPerRow;
    return true;
}

void UnlockFrame(Frame*) {}

void FailNextLock(Frame* frame) {
    ++frame->failingLocks;
}
