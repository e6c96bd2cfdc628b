// Fitting a decoded picture to what an output format can hold.
#pragma once

#include "resources.h"

// An 8-bit palette copy of image with a palette made for it, or null when the image
// cannot be read. GIF holds only palette pictures, and GDI+ under Wine writes an
// empty picture for anything else.
ImagePtr ToIndexedColor(GpImage* image);
