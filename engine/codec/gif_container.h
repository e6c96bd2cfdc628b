// The structure of a GIF file, read and written as bytes: where each frame lies, how it is
// placed, shown and replaced, and how often the whole plays. GDI+ decodes and encodes the
// pixels of one frame at a time; an animation is taken apart and put together here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What a frame's graphic control extension says happens to its area before the next frame.
enum class GifDisposal : uint8_t { Keep = 1, Background = 2, Previous = 3 };

struct GifFrame {
    uint16_t left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    GifDisposal disposal = GifDisposal::Keep;
    int transparent = -1;       // the transparent palette index, or -1
    unsigned delayMs = 0;       // as browsers show it
    size_t table = 0;           // its colour table: the local one, else the global one
    size_t tableBytes = 0;      // 0 when the file has neither
    size_t data = 0, dataEnd = 0;  // LZW code size and sub-blocks, up to the empty block
};

struct GifLayout {
    uint16_t width = 0, height = 0;  // the logical screen
    int plays = 1;                   // how often it plays; 0 is forever
    std::vector<GifFrame> frames;    // every frame whose data is whole, in order
};

// The frames of a whole GIF file; none when it is not a GIF. Reading stops at the trailer or
// at the first damaged block.
GifLayout ReadGifLayout(const uint8_t* data, size_t size);

// A GIF of frame alone at its own size, as the first picture of a file that GDI+ decodes on
// its own, with its colour table and transparency. frame is one of data's.
std::vector<uint8_t> SingleFrameGif(const uint8_t* data, const GifFrame& frame);

// How long browsers show a delay of centiseconds: 0 and 1 as 100 ms.
unsigned GifShownDelayMs(unsigned centiseconds);
// The delay to write for ms, in centiseconds: what a browser shows, from 2 (20 ms) on.
uint16_t GifDelayCentiseconds(unsigned ms);

// Start of an animated GIF on a width x height screen: header, screen without a global
// table, and the loop extension unless it plays once (plays 0 is forever).
std::vector<uint8_t> GifAnimationHead(uint16_t width, uint16_t height, int plays);

// Appends to out the frame of a one-frame GIF (as an encoder writes it) as a frame of an
// animation: its colour table made local, placed at left/top, shown delayMs, with
// transparent (or -1) as its transparent index and disposal. False when single holds no
// whole frame with a colour table.
bool AppendGifFrame(std::vector<uint8_t>& out, const uint8_t* single, size_t size,
                    uint16_t left, uint16_t top, unsigned delayMs, int transparent,
                    GifDisposal disposal);

constexpr uint8_t kGifTrailer = 0x3B;

// The bytes of the colour table that a screen's or a picture's flags announce; 0 for none.
size_t GifTableBytes(uint8_t flags);

// Offset just past the sub-blocks starting at `at` (past the empty one); 0 when they run
// beyond the file.
size_t SkipGifSubBlocks(const uint8_t* data, size_t size, size_t at);
