#include "effects/dot_grid.h"

#include "effects/tables.h"
#include "effects/truncate.h"

#include <cstring>

uint32_t DotColours[FrameHeight];
DotGridState DotGrid;

constexpr int GridFirst = 50, GridStep = 4;
constexpr int GridRowEnd = 430, GridColumnEnd = 590; // first row and column past the grid
constexpr int WindowTop = 51, WindowBottom = 429;    // where a dot's top-left may land
constexpr int WindowLeft = 51, WindowRight = 589;

void BuildDotColours() {
    for (int row = 0; row < FrameHeight; ++row) {
        DotColours[row] = row < DotBandHeight       ? 0x00008400u  // dark green
                          : row < 2 * DotBandHeight ? 0x00FFFFFFu  // white
                                                    : 0x00FF0000u; // red
    }
}

// Grid position plus its push, truncated toward zero and wrapped once.
static inline int Displace(int position, float push, int size) {
    int displaced = TruncateToInt32(static_cast<float>(position) + push);
    if (displaced < 0) return displaced + size;
    if (displaced >= size) return displaced - size;
    return displaced;
}

static void DrawDots(uint32_t* frame, int pixelsPerRow) {
    for (int r = GridFirst; r < GridRowEnd; r += GridStep) {
        const uint64_t pair = uint64_t{DotColours[r]} * 0x100000001u;
        // p = r × c grows by 4r a column: the wave indices follow with one
        // wrap each, since 4r mod the size is added to an index below the size.
        const uint32_t rowStep = GridStep * r % PlasmaRowCount;
        const uint32_t columnStep = GridStep * r % PlasmaColumnCount;
        uint32_t p = static_cast<uint32_t>(r) * GridFirst;
        uint32_t iy = (p + DotGrid.dotRowCounter) % PlasmaRowCount;
        uint32_t ix = (p + DotGrid.dotColumnCounter) % PlasmaColumnCount;
        for (int c = GridFirst; c < GridColumnEnd; c += GridStep) {
            int y = Displace(r, DotRowWave[iy], FrameHeight);
            if (y >= WindowTop && y <= WindowBottom) {
                int x = Displace(c, DotColumnWave[ix], FrameWidth);
                if (x >= WindowLeft && x <= WindowRight) {
                    // A dot is two words on each of two rows: one 8-byte store a row.
                    uint32_t* dot = frame + y * pixelsPerRow + x;
                    std::memcpy(dot, &pair, sizeof pair);
                    std::memcpy(dot + pixelsPerRow, &pair, sizeof pair);
                }
            }
            iy += rowStep;
            if (iy >= PlasmaRowCount) iy -= PlasmaRowCount;
            ix += columnStep;
            if (ix >= PlasmaColumnCount) ix -= PlasmaColumnCount;
        }
    }
}

void RenderDotGrid(Frame* frame) {
    LockedFrame locked;
    if (LockFrame(frame, &locked)) {
        DrawDots(locked.memory, locked.bytesPerRow / 4);
        UnlockFrame(frame);
    }
}

void StepDotGrid() {
    DotGrid.dotColumnCounter = (DotGrid.dotColumnCounter + 1) % PlasmaColumnCount;
    DotGrid.dotRowCounter = (DotGrid.dotRowCounter + 1) % PlasmaRowCount;
}
