// Decodes a picture file into a buffer of 0xAARRGGBB words.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PictureBufferBytes = 640 * 480 * 4;

// The demo's two pictures: the relief of the lights and the logo.
constexpr const char* BumpPictureName = "bumpmap.png";
constexpr const char* LogoPictureName = "boys.jpg";

// Returns 1 and stores a new PictureBufferBytes buffer (free it with
// std::free) in *picture, or prints why and returns 0.
int32_t LoadPicture(const char* name, uint32_t** picture);
