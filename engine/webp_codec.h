// WebP in and out through libwebp: GDI+ has neither a WebP decoder nor an encoder.
#pragma once

#include "platform.h"

#include <string>

// The MIME type of the WebP encoder that Vorandel adds after the platform's own.
extern const wchar_t kWebPMimeType[];
// Vorandel's own CLSID for that encoder; no platform encoder carries it.
extern const CLSID kWebPEncoderClsid;

// Largest image, in pixels, that is decoded or encoded (4 bytes each, held twice at most).
constexpr unsigned long long kWebPMaxPixels = 100ull * 1000 * 1000;
// Largest WebP file that is read.
constexpr unsigned long long kWebPMaxFileBytes = 256ull * 1024 * 1024;

// True when the file's content starts with the WebP signature (RIFF....WEBP), whatever its name.
bool IsWebPFile(const std::wstring& path);

// Decodes a WebP file (the first frame of an animation) into a 32bpp ARGB bitmap that GDI+
// owns; the caller disposes it. Any status other than Ok means failure, with *bitmap null.
// A picture of more than maxPixels is refused from its headers, before any pixel is allocated.
GpStatus LoadWebPBitmap(const std::wstring& path, GpBitmap** bitmap,
                        unsigned long long maxPixels = kWebPMaxPixels);

// Encodes a bitmap (not a metafile) with libwebp's lossy coder at quality (0..100), alpha
// channel kept, and writes the result to outputPath, replacing any file there. False on any
// failure; the file is only opened once the encoding is complete, and a failed write deletes it.
bool SaveImageAsWebP(GpImage* image, const std::wstring& outputPath, int quality);
