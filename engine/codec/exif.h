// The EXIF orientation of photos: how the camera's viewer turned the stored picture.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of a file's start that hold the orientation of a JPEG (in its Exif segment), a
// WebP (in its EXIF chunk) or a TIFF (in its first directory).
constexpr size_t kOrientationHeadBytes = 128 * 1024;

// The orientation 1..8 found in a file's first bytes; 1 (as stored) when there is none
// or the data is damaged.
int ReadOrientation(const uint8_t* data, size_t size);
