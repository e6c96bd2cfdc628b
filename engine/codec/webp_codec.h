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

// An animated WebP read one frame after another, each composed on the canvas as a viewer
// shows it (libwebp's demuxer applies disposal and blending).
struct WebPAnimationInput {
    WebPAnimDecoderPtr decoder;
    UINT width = 0, height = 0;
    size_t frames = 0;
    int plays = 0;  // how often it plays; 0 is forever
    int shownUntilMs = 0;
};

// Opens data (which must outlive input) as an animation of at least two frames, each within
// kMaxPixels; false otherwise.
bool OpenWebPAnimation(const uint8_t* data, size_t size, WebPAnimationInput& input);

// The next composed frame as a 32bpp ARGB bitmap, with how long it shows; null at the end or
// on damage.
ImagePtr NextWebPFrame(WebPAnimationInput& input, unsigned& delayMs);

// An animated WebP being encoded: libwebp's lossy coder, as for a still, alpha kept.
struct WebPAnimationOutput {
    WebPAnimEncoderPtr encoder;
    WebPConfig config{};
    int timestampMs = 0;
};

// Starts an animation of width x height frames that plays plays times (0: forever).
bool StartWebPAnimation(UINT width, UINT height, int plays, int quality,
                        WebPAnimationOutput& output);
// Adds a frame of the animation's size, shown for delayMs.
bool AddWebPFrame(WebPAnimationOutput& output, GpImage* frame, unsigned delayMs);
// The whole animation's bytes in encoded.
bool FinishWebPAnimation(WebPAnimationOutput& output, std::vector<uint8_t>& encoded);
