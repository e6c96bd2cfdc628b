// Photo metadata in PNG files: iCCP, eXIf and the XMP iTXt chunk, and the raw-profile text
// chunks that ImageMagick wrote before eXIf existed.
#pragma once

#include "metadata.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What a PNG's chunks hold; a piece that is damaged, cut or over its bound is left out on its
// own, and so is every chunk whose CRC does not match. Of the raw-profile chunks only the
// first of each kind is read.
PhotoMetadata ReadPngMetadata(const uint8_t* data, size_t size);

// Replaces a PNG's ICC profile, EXIF and XMP chunks (raw-profile text chunks included) with
// those of metadata, placed right after IHDR; an sRGB chunk goes when an ICC profile comes.
// Empty pieces are not written. False, with file unchanged, when the file is not a well-formed
// PNG.
bool WritePngMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata);
