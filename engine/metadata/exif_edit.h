// EXIF made true to a converted picture: its pixels upright and of the output's size.
// Pure: bytes in, bytes out.
#pragma once

#include <cstdint>
#include <string>

// The EXIF (TIFF-structured) for an output of width x height whose pixels are already
// upright, edited in place: Orientation 1, the pixel dimensions of the output, and no link to
// the thumbnail's directory when turned (it shows the picture as it was) or when its
// thumbnail cannot be read whole within the EXIF. Every
// other byte stays where it was, so offsets that count from the EXIF's start (maker notes
// hold many) stay true. "" when its first directory cannot be read. Applying it twice gives
// the same bytes.
std::string ExifForOutput(const std::string& exif, uint32_t width, uint32_t height, bool turned);

// The EXIF's orientation 1..8; 1 when there is none or it cannot be read.
int ExifOrientation(const std::string& exif);
