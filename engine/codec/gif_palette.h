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

// Pixels, the sums of each channel of theirs (red, green, blue) and of their squares.
struct ColourSums {
    int64_t weight = 0;
    int64_t channel[3] = {0, 0, 0};
    int64_t squares = 0;
};

// What a frame's pixels hold, counted a run of pixels at a time; colours are 0xAARRGGBB with
// the alpha ignored.
struct ColourCount {
    ColourCount();
    // While there are few enough: its distinct colours in the order met, and their pixels.
    bool many = false;
    std::vector<uint32_t> own;
    std::vector<uint32_t> pixels;
    std::unordered_map<uint32_t, uint32_t> index;  // each colour of own to its place there
    std::vector<ColourSums> cells;  // per cell of a histogram of 6 bits a channel
};

void CountColours(ColourCount& count, const uint32_t* argb, size_t pixels);

// At most kGifColours opaque colours, and each pixel's place among them.
struct GifPalette {
    std::vector<uint32_t> entries;
    std::unordered_map<uint32_t, uint8_t> exact;  // the nearest entry to each colour counted
    std::vector<int16_t> nearest;                 // otherwise, to each cell's middle, once found
};

// A frame's own colours when they fit, else a palette by Wu's quantiser, each entry the mean of
// the pixels it stands for.
GifPalette MakeGifPalette(ColourCount count);

// The squared distance of two colours' red, green and blue.
int ColourDistance(uint32_t a, uint32_t b);

// The place in palette of the entry nearest to a colour, exact for the frame's own colours.
uint8_t PaletteIndex(GifPalette& palette, uint32_t argb);
