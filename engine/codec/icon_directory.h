// The pictures an ICO file holds, read from its directory and each picture's own header, and
// the one Vorandel converts. Pure code on bytes: the platforms' decoders each take another
// picture of an icon, so each is handed only that one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

struct IconPicture {
    uint32_t width = 0;
    uint32_t height = 0;        // without a bitmap's mask
    unsigned bitsPerPixel = 0;  // of its colours, with alpha
    bool png = false;           // a PNG file; else a bitmap's information header and bits
    size_t offset = 0;          // where its bytes start in the file
    size_t size = 0;            // how many there are, ending with the file at the latest
};

// True when the bytes start as an icon file does (not a cursor).
bool IsIcon(const uint8_t* data, size_t size);

// The pictures of the icon whose whole file these bytes are, as their own headers declare them,
// in the directory's order; one whose bytes or header lie outside the file is left out.
std::vector<IconPicture> ReadIconPictures(const uint8_t* data, size_t size);

// The picture an icon converts: the largest, among equal sizes the deepest, else the first.
std::optional<IconPicture> LargestIconPicture(const std::vector<IconPicture>& pictures);

// An icon file holding only the given picture of the icon in data.
std::vector<uint8_t> IconOfOnePicture(const uint8_t* data, const IconPicture& picture);
