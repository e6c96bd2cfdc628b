// What a TIFF file's first directory holds besides its pixels: the ICC profile (34675), the
// XMP (700) and its descriptive tags with the EXIF and GPS directories, which become EXIF.
// Pure: bytes in, bytes out.
#pragma once

#include "metadata.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The metadata of a whole TIFF file's first directory; its EXIF is laid out anew, without a
// maker note. A piece that is damaged or over its bound is left out on its own; nothing when the file is not a readable TIFF.
PhotoMetadata ReadTiffMetadata(const uint8_t* data, size_t size);

// Merges metadata already made true to the picture into the first directory of file, a
// one-page TIFF as just encoded: the ICC profile and XMP as their tags, and the EXIF's
// descriptive tags with its EXIF and GPS directories. A piece given replaces the file's own;
// tags that describe the image data stay the file's, and none of them comes from elsewhere.
// Where it can, the EXIF's bytes stay as they are at the file's start, with the image data
// after them and the new directory at the end, so that its offsets and its maker note's hold
// true; elsewhere the image data stays in place, the new directory goes at the end of the file
// and the maker note is left out. False, with file unchanged, when it is not a readable TIFF
// or the merged directory would hold more entries than a directory can.
bool WriteTiffMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata);
