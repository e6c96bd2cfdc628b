// A picture's frames read one after another: the pages of a TIFF, the frames of an animated
// GIF or WebP, each composed as a viewer shows it, or the one picture of any other file.
// Only the frame being read and what composing the next one needs are held at a time.
#pragma once

#include "gif_container.h"
#include "resources.h"
#include "webp_codec.h"

#include <cstddef>
#include <vector>

class InputFile;

enum class FrameKind {
    Still,      // one picture
    Animation,  // frames shown one after another, each for its delay
    Pages,      // pages of a document, shown side by side
};

struct FrameReader {
    FrameKind kind = FrameKind::Still;
    size_t count = 1;
    int plays = 1;                      // how often an animation plays; 0 is forever
    unsigned long long pixels = 0;      // of all frames together, as composed
    size_t next = 0;                    // the frame the next read gives

    // What the frames come from: the decoded picture (its pages too), a GIF's frame list and
    // its canvas, or libwebp's animation decoder.
    const uint8_t* data = nullptr;
    ImagePtr image;
    GifLayout gif;
    std::vector<uint32_t> canvas, kept;
    WebPAnimationInput webp;
};

// Opens the input, which must outlive the reader, at its first frame; false when it cannot
// be decoded or its frames together are more than kMaxFramePixels (picture.h).
bool OpenFrames(const InputFile& input, FrameReader& reader);

// The next frame as a bitmap of its own, with how long an animation shows it (0 otherwise).
// The last frame to be read may be the decoded picture itself, so that a still is never
// copied. Null on failure.
ImagePtr ReadFrame(FrameReader& reader, bool last, unsigned& delayMs);
