// The palette a GIF is written with, made from the picture's pixels alone.
#include "gif_palette.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <vector>

namespace {

uint32_t Rgb(unsigned r, unsigned g, unsigned b) { return 0xFF000000u | r << 16 | g << 8 | b; }

struct Picture {
    unsigned width;
    unsigned height;
    std::vector<uint32_t> argb;
};

Picture Make(unsigned width, unsigned height, const std::function<uint32_t(unsigned, unsigned)>& at) {
    Picture p{width, height, {}};
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) p.argb.push_back(at(x, y));
    return p;
}

struct Quantised {
    std::vector<uint32_t> entries;
    std::vector<uint8_t> indices;
};

// Counted in bands of rows, as the codec counts a large picture.
Quantised Quantise(const Picture& p, unsigned bandRows = 7) {
    ColourCount count;
    for (unsigned top = 0; top < p.height; top += bandRows)
        CountColours(count, p.argb.data() + size_t{top} * p.width,
                     size_t{std::min(bandRows, p.height - top)} * p.width);
    GifPalette palette = MakeGifPalette(std::move(count));
    Quantised q{palette.entries, {}};
    for (uint32_t colour : p.argb) q.indices.push_back(PaletteIndex(palette, colour));
    return q;
}

int Channel(uint32_t c, int shift) { return static_cast<int>(c >> shift & 0xFF); }

// Mean absolute difference per channel, in levels of 255.
double MeanError(const Picture& p, const Quantised& q) {
    double sum = 0;
    for (size_t i = 0; i < p.argb.size(); ++i)
        for (int shift : {16, 8, 0})
            sum += std::abs(Channel(p.argb[i], shift) - Channel(q.entries[q.indices[i]], shift));
    return sum / (3.0 * p.argb.size());
}

std::mt19937 g_random(7);
unsigned Noise(unsigned spread) { return static_cast<unsigned>(g_random() % spread); }

struct Case {
    const char* what;
    Picture picture;
    bool ownColours;      // the palette is the picture's own colours, in the order met
    size_t leastUsed;     // entries its pixels use at least
    double largestError;  // mean error at most, in levels
    uint32_t kept = 0;    // a colour that comes out within 8 levels in every channel, if any
};

TEST(MakeGifPalette, ServesEveryPictureWithItsOwnColoursOrTheFullPalette) {
    const Case cases[] = {
        {"one colour", Make(3, 2, [](unsigned, unsigned) { return Rgb(10, 20, 30); }), true, 1, 0},
        {"256 colours, alpha ignored",
         Make(16, 16, [](unsigned x, unsigned y) { return (x * 16 + y) << 24 | Rgb(x * 16, y * 16, 7); }),
         true, 256, 0},
        // Crowded into few cells of a histogram, a few thousand colours still get every entry.
        {"257 colours along one axis",
         Make(257, 3, [](unsigned x, unsigned) { return Rgb(x % 256, x / 256, 0); }), false, 256, 0.01},
        {"a sky's gradient",
         Make(1000, 40, [](unsigned x, unsigned y) { return Rgb(60 + x / 8, 120 + x / 10, 200 + (x + y) / 20); }),
         false, 256, 0.2},
        {"a gradient over the whole cube",
         Make(512, 512, [](unsigned x, unsigned y) { return Rgb(x / 2, y / 2, (x + y) / 4); }), false,
         256, 4},
        // A photo of sky and grass: all entries go to where its colours are.
        {"two clusters of noise",
         Make(300, 200, [](unsigned x, unsigned) {
             return x < 150 ? Rgb(90 + Noise(40), 140 + Noise(40), 220 + Noise(30))
                            : Rgb(40 + Noise(40), 120 + Noise(50), 30 + Noise(30));
         }),
         false, 256, 3},
        // A small red sign in a grey street keeps its colour.
        {"a rare colour among many",
         Make(400, 300, [](unsigned x, unsigned y) {
             return x < 8 && y < 8 ? Rgb(230, 20, 25) : Rgb(100 + Noise(60), 100 + Noise(60), 100 + Noise(60));
         }),
         false, 256, 4, Rgb(230, 20, 25)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Picture& p = c.picture;
        Quantised q = Quantise(p);
        ASSERT_LE(q.entries.size(), kGifColours);
        for (uint32_t entry : q.entries) EXPECT_EQ(entry >> 24, 0xFFu);
        if (c.ownColours) {
            std::vector<uint32_t> own;
            for (uint32_t colour : p.argb)
                if (std::find(own.begin(), own.end(), colour | 0xFF000000u) == own.end())
                    own.push_back(colour | 0xFF000000u);
            EXPECT_EQ(q.entries, own);
        }
        EXPECT_GE(std::set<uint8_t>(q.indices.begin(), q.indices.end()).size(), c.leastUsed);
        EXPECT_LE(MeanError(p, q), c.largestError);
        if (c.kept != 0) {
            auto found = std::find(p.argb.begin(), p.argb.end(), c.kept) - p.argb.begin();
            uint32_t out = q.entries[q.indices[static_cast<size_t>(found)]];
            for (int shift : {16, 8, 0}) EXPECT_LE(std::abs(Channel(out, shift) - Channel(c.kept, shift)), 8);
        }
    }
}

}  // namespace
