// GIF palettes: the one a GIF without any colour table is read with, and the one a picture
// is written with. Pure code on bytes and pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// GIF files that carry no colour table at all. GDI+ under Wine reads a null palette on
// them and takes the whole process down, so they are never handed to it as they are.

// True when the GIF in these bytes (a whole file) has neither a global colour table nor a
// local one on its first picture.
bool LacksGifPalette(const uint8_t* data, size_t size);

// Gives such a GIF a global grey ramp from black to white over the colours its first
// picture can hold, as GIF readers do by default: a 1-bit picture comes out black and white.
void AddGreyPalette(std::vector<uint8_t>& gif);

// A GIF palette is made by Vorandel itself, the same on every platform: Wine's optimal
// palette serves tall pictures with a fraction of its entries, and Windows's is another one.
constexpr size_t kGifColours = 256;

// What a frame's pixels hold, counted a run of pixels at a time; colours are 0xAARRGGBB with
// the alpha ignored.
struct ColourCount {
    ColourCount();
    // Its distinct colours in the order met, up to one more than a palette holds.
    std::vector<uint32_t> own;
    std::unordered_map<uint32_t, uint8_t> index;  // each colour of own to its place there
    // Per cell of a histogram of 6 bits a channel: pixels, sums of each channel and of squares.
    std::vector<int64_t> weight, red, green, blue, squares;
};

void CountColours(ColourCount& count, const uint32_t* argb, size_t pixels);

// At most kGifColours opaque colours, and each pixel's place among them.
struct GifPalette {
    std::vector<uint32_t> entries;
    std::unordered_map<uint32_t, uint8_t> exact;  // when entries are the frame's own colours
    std::vector<int16_t> nearest;                 // otherwise, the nearest entry found so far
};

// A frame's own colours when they fit, else a palette by Wu's quantiser, each entry the mean of
// the pixels it stands for.
GifPalette MakeGifPalette(ColourCount count);

// The place in palette of the entry nearest to a colour, exact for the frame's own colours.
uint8_t PaletteIndex(GifPalette& palette, uint32_t argb);
