// The size of a picture as its file's headers declare it, read before any decoder runs:
// a few bytes can declare a picture that no machine can hold, and a decoder allocates
// what the headers ask for.
#pragma once

#include <cstddef>
#include <cstdint>

enum class DeclaredSize {
    Found,       // width and height are what a decoder would allocate for
    OtherFormat, // not PNG, GIF, BMP, JPEG, TIFF or ICO: another decoder's business
    Damaged,     // one of those formats, but its size cannot be read
};

// For an ICO, the largest of its pictures; for a GIF, its screen and all its pictures together;
// for a TIFF, its first directory, the picture the platform decodes (Damaged when that gives
// its width or height twice).
DeclaredSize ReadDeclaredSize(const uint8_t* data, size_t size, uint64_t& width,
                              uint64_t& height);

// The pixels of all of a TIFF's pages as their directories declare them; 0 for other files.
uint64_t DeclaredPixelsOfPages(const uint8_t* data, size_t size);
