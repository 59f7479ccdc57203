// Where the 640 × 480 frame goes on an area of pixels: one rule for every
// display, SDL's or a web page's, so it holds no SDL.
#pragma once

// The frame's place on the area, and whether each frame pixel is a whole
// square block of screen pixels there.
struct FrameArea {
    int x, y, width, height;
    bool wholeScale;
};

// On an area of `width` × `height` pixels: where at least two frame sizes fit
// each way, at the largest whole scale, so that every pixel is an equal block;
// elsewhere at the largest 4:3 size that fits, larger or smaller than the
// frame, never cropped. Always centred, on black.
FrameArea ScaledFrameArea(int width, int height);
