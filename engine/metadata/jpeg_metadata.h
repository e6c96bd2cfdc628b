// Photo metadata in JPEG files: EXIF and XMP in APP1 segments (XMP over one segment's size
// in an extended part of as many more as it needs), the ICC profile in APP2 chunks.
#pragma once

#include "metadata.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What the segments before a JPEG's picture data hold; a piece that is damaged, cut or over
// its bound is left out on its own.
PhotoMetadata ReadJpegMetadata(const uint8_t* data, size_t size);

// Replaces the EXIF, XMP (extended XMP included) and ICC segments of a JPEG with those of
// metadata, placed after SOI and the APP0 segments that lead (JFIF); the extended XMP follows
// the main packet, named by its MD5. Empty pieces, and EXIF or a main XMP packet larger than
// one segment holds, are not written, nor an extension without its main packet. False, with file unchanged, when the
// file is not a well-formed JPEG up to its picture data.
bool WriteJpegMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata);
