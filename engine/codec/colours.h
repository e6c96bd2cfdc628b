// Colours of photos that carry an ICC profile: which profiles are carried into the output,
// and the pixels turned into sRGB for formats that cannot carry one. Little CMS, linked in,
// does the conversion rather than the platform's colour management: Windows and Wine run
// different engines behind that API, so what the tests see would not be what users get, and
// Wine's ignores the rows' padding and the fourth byte of a pixel.
#pragma once

#include "resources.h"

#include <functional>
#include <string>

// True when the colour engine takes icc as the profile of RGB pixels: only such a profile
// describes what GDI+ decodes, so only it is carried or converted from. A damaged, oversized
// or grey, CMYK or device-link profile is not.
bool DescribesRgbPixels(const std::string& icc);

// Converts the picture's pixels in place from the colours icc describes into sRGB, for
// formats whose files cannot say which colours they hold. The picture must not be a
// metafile. False when the conversion failed; the pixels may then be part converted.
bool ConvertToSrgb(GpImage* image, const std::string& icc);

// True when icc is a CMYK profile the colour engine can take pixels from.
bool DescribesCmykPixels(const std::string& icc);

// A width x height picture in sRGB from CMYK samples (4 bytes a pixel, 0 for no ink) through
// icc. read fills the rows from top on, as many as asked, into its buffer; false when it fails.
ImagePtr SrgbFromCmyk(UINT width, UINT height, const std::string& icc,
                      const std::function<bool(UINT top, UINT rows, BYTE* cmyk)>& read);
