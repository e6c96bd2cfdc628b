// The EXIF orientation of photos: how the camera's viewer turned the stored picture.
#pragma once

#include <cstddef>
#include <cstdint>

// The orientation 1..8 of a whole file's bytes: in a JPEG's Exif segment, a WebP's EXIF
// chunk (often after the picture data), a PNG's eXIf chunk or a TIFF's first directory
// (often after the strips). Only what the structure points to is read. 1 (as stored) when there is none or
// the data is damaged.
int ReadOrientation(const uint8_t* data, size_t size);
