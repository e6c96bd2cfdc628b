// CMYK JPEGs with the printer's profile they carry. GDI+ turns their samples into RGB without
// the profile, and Wine's gives no CMYK samples at all; the platform's imaging component (WIC)
// gives them on Windows and under Wine alike.
#pragma once

#include "resources.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The JPEG in these bytes (a whole file, which must outlive the call) decoded as CMYK and
// turned into sRGB through icc, a CMYK profile; null when it holds no CMYK samples or cannot
// be decoded.
ImagePtr LoadCmykJpeg(const uint8_t* data, size_t size, const std::string& icc);
