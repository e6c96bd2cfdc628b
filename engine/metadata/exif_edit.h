// EXIF made true to a converted picture: its pixels upright and of the output's size.
// Pure: bytes in, bytes out.
#pragma once

#include <cstdint>
#include <string>

// The EXIF (TIFF-structured) re-written for an output of width x height whose pixels are
// already upright: Orientation 1, pixel dimensions of the output, no thumbnail, offsets
// recomputed. "" when the EXIF cannot be read. Applying it twice gives the same bytes.
std::string ExifForOutput(const std::string& exif, uint32_t width, uint32_t height);

// The EXIF's orientation 1..8; 1 when there is none or it cannot be read.
int ExifOrientation(const std::string& exif);
