// Photo metadata in WebP files: the ICCP, EXIF and "XMP " chunks of the RIFF container.
#pragma once

#include "metadata.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What a WebP's chunks hold; a piece that is damaged, cut or over its bound is left out on
// its own.
PhotoMetadata ReadWebpMetadata(const uint8_t* data, size_t size);

// Replaces a WebP's ICC profile, EXIF and XMP chunks with those of metadata through libwebp's
// mux, which also sets the VP8X flags; empty pieces are not written. False, with file
// unchanged, when the mux refuses the file or a piece.
bool WriteWebpMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata);
