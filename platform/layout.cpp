#include "platform/layout.h"

#include "platform/frame.h"

#include <algorithm>

FrameArea ScaledFrameArea(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    int scale = std::min(width / FrameWidth, height / FrameHeight);
    int w = FrameWidth * scale, h = FrameHeight * scale;
    // Below twice the frame a whole scale would leave up to half the area
    // black (640 × 480 on a 1366 × 768 screen): 4:3 in steps of 4 × 3 instead.
    if (scale < 2) {
        int step = std::min(width / 4, height / 3);
        w = 4 * step;
        h = 3 * step;
    }
    return {(width - w) / 2, (height - h) / 2, w, h, w % FrameWidth == 0};
}
