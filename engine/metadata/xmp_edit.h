// XMP made true to a converted picture: its pixels upright and of the output's size.
// Pure: bytes in, bytes out.
#pragma once

#include <cstdint>
#include <string>

// The XMP with tiff:Orientation 1 and exif:PixelXDimension, exif:PixelYDimension,
// tiff:ImageWidth, tiff:ImageLength of the output, each where present, as an attribute
// (name="value") or an element (<name>value</name>). Nothing else changes; any bytes are safe.
std::string XmpForOutput(const std::string& xmp, uint32_t width, uint32_t height);
