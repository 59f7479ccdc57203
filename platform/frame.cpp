#include "platform/frame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

// The pixels start this far into a page. A copy between two buffers at the same
// position within their pages (a display's pixels are page-aligned) runs
// several times slower on some processors.
constexpr size_t PageSize = 4096, PixelOffset = 1088;

Frame* AllocateFrame(int width, int height, int bytesPerRow) {
    if (width <= 0 || height <= 0) return nullptr;
    if (bytesPerRow == 0) bytesPerRow = width * 4;
    if (bytesPerRow < width * 4 || bytesPerRow > std::numeric_limits<int16_t>::max())
        return nullptr;
    auto* frame = static_cast<Frame*>(std::calloc(1, sizeof(Frame)));
    if (!frame) return nullptr;
    // Whole words for every row, so a stride that is not a multiple of 4 still
    // leaves room for the last row's pixels.
    size_t bytes = (static_cast<size_t>(bytesPerRow) * height + 3) / 4 * 4;
    frame->block =
        std::aligned_alloc(PageSize, (PixelOffset + bytes + PageSize - 1) / PageSize * PageSize);
    if (!frame->block) {
        std::free(frame);
        return nullptr;
    }
    frame->ownPixels = reinterpret_cast<uint32_t*>(static_cast<char*>(frame->block) + PixelOffset);
    std::memset(frame->ownPixels, 0, bytes);
    frame->width = width;
    frame->height = height;
    frame->ownBytesPerRow = static_cast<int16_t>(bytesPerRow);
    frame->drawnCount = -1;
    UseOwnPixels(frame);
    return frame;
}

void FreeFrame(Frame* frame) {
    if (!frame) return;
    std::free(frame->block);
    std::free(frame);
}

void UseOwnPixels(Frame* frame) {
    frame->pixels = frame->ownPixels;
    frame->bytesPerRow = frame->ownBytesPerRow;
    frame->drawnCount = -1; // they hold what was drawn before they were lent
}

bool LockFrame(Frame* frame, LockedFrame* locked) {
    if (frame->failingLocks > 0) {
        --frame->failingLocks;
        return false;
    }
    locked->memory = frame->pixels;
    locked->bytesPerRow = frame->bytesPerRow;
    frame->drawnCount = -1;
    return true;
}

void MarkDrawnAreas(Frame* frame, const FrameRect* areas, int count) {
    frame->drawnCount = -1;
    if (count < 0 || count > MaxDrawnAreas) return;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const FrameRect& area = areas[i];
        int left = std::max(area.x, 0), top = std::max(area.y, 0);
        int right = static_cast<int>(std::min<int64_t>(int64_t{area.x} + area.width, frame->width));
        int bottom =
            static_cast<int>(std::min<int64_t>(int64_t{area.y} + area.height, frame->height));
        if (left < right && top < bottom)
            frame->drawn[kept++] = {left, top, right - left, bottom - top};
    }
    frame->drawnCount = kept;
}

void UnlockFrame(Frame*) {}

void FailNextLock(Frame* frame) {
    ++frame->failingLocks;
}

int AreasNotBlack(const Frame* frame, FrameRect* areas) {
    if (frame->pixels != frame->ownPixels || frame->drawnCount < 0) return -1;
    std::copy_n(frame->drawn, frame->drawnCount, areas);
    return frame->drawnCount;
}
