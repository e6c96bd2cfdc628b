// Fitting a decoded picture to what an output format can hold, and bringing pictures
// GDI+ cannot make bitmaps of into bitmaps.
#pragma once

#include "resources.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Largest picture, in pixels, that is decoded or drawn: more is a decompression bomb. At its
// peak a conversion holds up to 16 bytes a pixel (to WebP with alpha, most of it in libwebp),
// within the 2 GiB the codec worker may commit.
constexpr unsigned long long kMaxPixels = 100ull * 1000 * 1000;

// Largest number of pixels of all of a file's frames together that are decoded and composed.
// Frames are taken one after another, so memory is that of one frame, within kMaxPixels; time
// is that of all of them.
constexpr unsigned long long kMaxFramePixels = 10 * kMaxPixels;

// Largest file decoded from a copy in memory (a GIF repaired first) or by libwebp.
constexpr unsigned long long kMaxFileBytes = 256ull * 1024 * 1024;

// An 8-bit palette copy of image with a palette made for it (its own colours when it
// has 256 or fewer), or null when the image cannot be read. GIF holds only palette
// pictures, and GDI+ under Wine writes an empty picture for anything else.
ImagePtr ToIndexedColor(GpImage* image);

// Which of image's pixels a GIF shows transparent, one byte each (1: transparent): those
// less than half opaque. Empty when there are none.
std::vector<uint8_t> TransparentPixels(GpImage* image);

// Makes the pixels that clear marks transparent in an 8-bit palette picture of clear's size,
// through a palette entry of their own with alpha 0: a new one, one no other pixel uses, or
// else the least used, whose pixels take the nearest other colour. False on failure.
bool MakeTransparent(GpImage* indexed, const std::vector<uint8_t>& clear);

// A width x height bitmap of GDI+'s own in format, a 32-bpp one, holding a copy of rows (4
// bytes a pixel, one row after another, top down), which need not outlive it; null on failure.
ImagePtr BitmapOfRows(const void* rows, UINT width, UINT height, PixelFormat format);

// True when the picture may hold transparent or semi-transparent pixels.
bool HasAlpha(GpImage* image);

// A copy of image drawn over white, without an alpha channel; null on failure. For
// formats without transparency, where GDI+ would turn transparent pixels black.
ImagePtr OnWhite(GpImage* image);

// Turns the picture as EXIF orientation 1..8 says, so that the output stands as the camera's
// viewer showed it. False when turning failed.
bool TurnUpright(GpImage* image, int orientation);

// True when the bytes of a whole file are an EMF (its header record, " EMF" at offset 40)
// or a WMF (placeable, or a plain memory or disk metafile header).
bool IsMetafile(const uint8_t* data, size_t size);

// A white bitmap of the metafile's own size at its own resolution with the metafile
// played on it (by GDI, or by GDI+ for EMF+ files without GDI records); null when it
// cannot be played or would be too large.
ImagePtr RenderMetafile(GpImage* metafile);
