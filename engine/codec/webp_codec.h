// WebP in and out through libwebp: GDI+ has neither a WebP decoder nor an encoder.
#pragma once

#include "picture.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The MIME type of the WebP encoder that Vorandel adds after the platform's own.
extern const wchar_t kWebPMimeType[];
// Vorandel's own CLSID for that encoder; no platform encoder carries it.
extern const CLSID kWebPEncoderClsid;


// True when a file's first bytes are the WebP signature (RIFF....WEBP), whatever its name.
bool IsWebP(const uint8_t* data, size_t size);

// Decodes WebP bytes (the first frame of an animation) into a 32bpp ARGB bitmap that GDI+
// owns; the caller disposes it. Any status other than Ok means failure, with *bitmap null.
// A picture of more than maxPixels is refused from its headers, before any pixel is allocated.
GpStatus LoadWebPBitmap(const uint8_t* data, size_t size, GpBitmap** bitmap,
                        unsigned long long maxPixels = kMaxPixels);

// Encodes a bitmap (not a metafile) with libwebp's lossy coder at quality (0..100), alpha
// channel kept, into encoded (replacing what it held). The bitmap is disposed of as soon as
// libwebp holds its pixels: the encoder needs over a gigabyte at 100 megapixels with alpha,
// and gets the picture's memory. False on any failure.
bool EncodeWebP(ImagePtr image, int quality, std::vector<uint8_t>& encoded);
