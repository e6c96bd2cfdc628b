// What a photo knows besides its pixels, held in one form whatever its container: read from
// the input's container, made true to the output, and written into the output's container.
// Pure: bytes in, bytes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct PhotoMetadata {
    std::string icc;   // an ICC profile, as a .icc file holds it
    std::string exif;  // TIFF-structured ("II*\0" or "MM\0*"), without JPEG's "Exif\0\0"
    std::string xmp;   // an XMP packet, UTF-8

    bool empty() const { return icc.empty() && exif.empty() && xmp.empty(); }
};

// Larger pieces are damaged or hostile, and are not carried.
constexpr size_t kMaxIccBytes = 4u << 20;
constexpr size_t kMaxExifBytes = 4u << 20;
constexpr size_t kMaxXmpBytes = 4u << 20;

// What a whole file's bytes hold, told by its signature (JPEG, PNG, TIFF, WebP); nothing for
// other files. A piece that is damaged, cut or over its bound is left out on its own.
PhotoMetadata ReadMetadata(const uint8_t* data, size_t size);
