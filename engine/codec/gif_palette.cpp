#include "gif_palette.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

namespace {

constexpr size_t kScreenDescriptorEnd = 13;  // signature, size, flags, background, aspect
constexpr uint8_t kHasColourTable = 0x80;
constexpr uint8_t kTableSizeBits = 0x07;  // a table of 2^(n+1) entries

// Offset of the first picture's descriptor, past any extension blocks; 0 when damaged.
size_t FirstPicture(const uint8_t* gif, size_t size) {
    size_t at = kScreenDescriptorEnd;
    while (at < size) {
        if (gif[at] == 0x2C) return at + 10 <= size ? at : 0;
        if (gif[at] != 0x21 || at + 2 > size) return 0;
        at += 2;  // introducer and label, then sub-blocks up to an empty one
        while (at < size && gif[at] != 0) at += 1 + gif[at];
        ++at;
    }
    return 0;
}

}  // namespace

bool LacksGifPalette(const uint8_t* data, size_t size) {
    if (size < kScreenDescriptorEnd ||
        (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0))
        return false;
    if (data[10] & kHasColourTable) return false;
    size_t picture = FirstPicture(data, size);
    return picture != 0 && !(data[picture + 9] & kHasColourTable);
}

void AddGreyPalette(std::vector<uint8_t>& gif) {
    size_t picture = FirstPicture(gif.data(), gif.size());
    // The picture's LZW code size tells how many colours its indices can reach.
    int codeSize = picture != 0 && picture + 10 < gif.size() ? gif[picture + 10] : 8;
    codeSize = std::clamp(codeSize, 1, 8);
    // 2 is the least code size the format allows, so 1-bit pictures carry it too; their
    // writers leave the table-size fields at 2 entries.
    bool oneBit = codeSize <= 2 && (gif[10] & kTableSizeBits) == 0 &&
                  (picture == 0 || (gif[picture + 9] & kTableSizeBits) == 0);
    unsigned top = oneBit ? 1 : (1u << codeSize) - 1;  // the index shown white
    std::vector<uint8_t> ramp;
    for (unsigned index = 0; index < (1u << codeSize); ++index)
        ramp.insert(ramp.end(), 3, static_cast<uint8_t>(std::min(index, top) * 255 / top));
    gif[10] = static_cast<uint8_t>((gif[10] & ~kTableSizeBits) | kHasColourTable | (codeSize - 1));
    gif.insert(gif.begin() + kScreenDescriptorEnd, ramp.begin(), ramp.end());
}

namespace {

// Wu's histogram: 6 bits a channel, with a zero plane in front of each axis for the sums. A
// picture whose colours crowd into fewer cells than a palette has entries gets fewer entries.
constexpr int kSide = 65;
constexpr int kBinShift = 2;

size_t Cell(int r, int g, int b) { return (static_cast<size_t>(r) * kSide + g) * kSide + b; }

int Red(uint32_t argb) { return static_cast<int>(argb >> 16 & 0xFF); }
int Green(uint32_t argb) { return static_cast<int>(argb >> 8 & 0xFF); }
int Blue(uint32_t argb) { return static_cast<int>(argb & 0xFF); }

// A box of histogram cells: lower bounds exclusive, upper bounds inclusive.
struct Box {
    int lower[3];
    int upper[3];
};

// The sum of one moment over a box, from the running sums.
int64_t Volume(const Box& box, const std::vector<int64_t>& m) {
    const int* l = box.lower;
    const int* u = box.upper;
    return m[Cell(u[0], u[1], u[2])] - m[Cell(u[0], u[1], l[2])] - m[Cell(u[0], l[1], u[2])] +
           m[Cell(u[0], l[1], l[2])] - m[Cell(l[0], u[1], u[2])] + m[Cell(l[0], u[1], l[2])] +
           m[Cell(l[0], l[1], u[2])] - m[Cell(l[0], l[1], l[2])];
}

// The sum of one moment over the part of box below position on axis.
int64_t Below(const Box& box, int axis, int position, const std::vector<int64_t>& m) {
    Box part = box;
    part.upper[axis] = position;
    return Volume(part, m);
}

struct Sums {
    int64_t weight = 0;
    int64_t red = 0;
    int64_t green = 0;
    int64_t blue = 0;
};

Sums SumsOf(const Box& box, const ColourCount& count) {
    return {Volume(box, count.weight), Volume(box, count.red), Volume(box, count.green),
            Volume(box, count.blue)};
}

// Twice the spread a part's mean takes away, up to a constant: larger is a better cut.
// Plain double arithmetic, which every x64 compiler rounds alike, so every platform cuts
// the same boxes.
double Gain(const Sums& s) {
    if (s.weight == 0) return 0;
    double r = static_cast<double>(s.red);
    double g = static_cast<double>(s.green);
    double b = static_cast<double>(s.blue);
    return (r * r + g * g + b * b) / static_cast<double>(s.weight);
}

double Variance(const Box& box, const ColourCount& count) {
    if (box.upper[0] - box.lower[0] <= 1 && box.upper[1] - box.lower[1] <= 1 &&
        box.upper[2] - box.lower[2] <= 1)
        return 0;  // one cell: nothing to cut
    return static_cast<double>(Volume(box, count.squares)) - Gain(SumsOf(box, count));
}

// Cuts box in two where the parts' colours lie closest to their means; false when no cut
// leaves both parts with pixels.
bool Cut(Box& box, Box& other, const ColourCount& count) {
    const Sums whole = SumsOf(box, count);
    double best = 0;
    int bestAxis = -1;
    int bestAt = 0;
    for (int axis = 0; axis < 3; ++axis) {
        for (int at = box.lower[axis] + 1; at < box.upper[axis]; ++at) {
            Sums low{Below(box, axis, at, count.weight), Below(box, axis, at, count.red),
                     Below(box, axis, at, count.green), Below(box, axis, at, count.blue)};
            Sums high{whole.weight - low.weight, whole.red - low.red, whole.green - low.green,
                      whole.blue - low.blue};
            if (low.weight == 0 || high.weight == 0) continue;
            double gain = Gain(low) + Gain(high);
            if (gain > best) {
                best = gain;
                bestAxis = axis;
                bestAt = at;
            }
        }
    }
    if (bestAxis < 0) return false;
    other = box;
    other.lower[bestAxis] = bestAt;
    box.upper[bestAxis] = bestAt;
    return true;
}

uint32_t MeanColour(const Sums& s) {
    auto mean = [&](int64_t sum) { return static_cast<uint32_t>((sum + s.weight / 2) / s.weight); };
    return 0xFF000000u | mean(s.red) << 16 | mean(s.green) << 8 | mean(s.blue);
}

int Distance(uint32_t a, uint32_t b) {
    int dr = Red(a) - Red(b);
    int dg = Green(a) - Green(b);
    int db = Blue(a) - Blue(b);
    return dr * dr + dg * dg + db * db;
}

}  // namespace

ColourCount::ColourCount()
    : weight(kSide * kSide * kSide), red(weight.size()), green(weight.size()),
      blue(weight.size()), squares(weight.size()) {}

void CountColours(ColourCount& count, const uint32_t* argb, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t colour = argb[i] | 0xFF000000u;
        if (count.own.size() <= kGifColours && !count.index.count(colour)) {
            count.index.emplace(colour, static_cast<uint8_t>(count.own.size()));
            count.own.push_back(colour);
        }
        int r = Red(colour), g = Green(colour), b = Blue(colour);
        size_t cell = Cell((r >> kBinShift) + 1, (g >> kBinShift) + 1, (b >> kBinShift) + 1);
        ++count.weight[cell];
        count.red[cell] += r;
        count.green[cell] += g;
        count.blue[cell] += b;
        count.squares[cell] += r * r + g * g + b * b;
    }
}

GifPalette MakeGifPalette(ColourCount count) {
    GifPalette palette;
    if (count.own.size() <= kGifColours) {
        palette.entries = std::move(count.own);
        palette.exact = std::move(count.index);
        return palette;
    }
    // Running sums over every moment, so that any box's sums take eight look-ups.
    for (std::vector<int64_t>* m :
         {&count.weight, &count.red, &count.green, &count.blue, &count.squares}) {
        std::vector<int64_t>& v = *m;
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b)
                    v[Cell(r, g, b)] += v[Cell(r - 1, g, b)] + v[Cell(r, g - 1, b)] +
                                        v[Cell(r, g, b - 1)] - v[Cell(r - 1, g - 1, b)] -
                                        v[Cell(r - 1, g, b - 1)] - v[Cell(r, g - 1, b - 1)] +
                                        v[Cell(r - 1, g - 1, b - 1)];
    }
    // Wu's quantiser: the box whose colours spread most is cut in two until there are
    // enough boxes, and each box gives its mean colour.
    std::vector<Box> boxes{Box{{0, 0, 0}, {kSide - 1, kSide - 1, kSide - 1}}};
    std::vector<double> spread{Variance(boxes[0], count)};
    while (boxes.size() < kGifColours) {
        size_t widest = static_cast<size_t>(
            std::max_element(spread.begin(), spread.end()) - spread.begin());
        if (spread[widest] <= 0) break;
        Box other{};
        if (!Cut(boxes[widest], other, count)) {
            spread[widest] = 0;
            continue;
        }
        boxes.push_back(other);
        spread[widest] = Variance(boxes[widest], count);
        spread.push_back(Variance(other, count));
    }
    for (const Box& box : boxes) palette.entries.push_back(MeanColour(SumsOf(box, count)));
    palette.nearest.assign(size_t{1} << 18, -1);
    return palette;
}

uint8_t PaletteIndex(GifPalette& palette, uint32_t argb) {
    uint32_t colour = argb | 0xFF000000u;
    if (palette.nearest.empty()) {
        auto found = palette.exact.find(colour);
        return found == palette.exact.end() ? 0 : found->second;
    }
    // Colours a sixty-fourth of the range apart share their nearest entry, taken for the
    // middle of their cell so that it does not depend on which pixel came first.
    size_t key = (colour >> 6 & 0x3F000) | (colour >> 4 & 0xFC0) | (colour >> 2 & 0x3F);
    int16_t& nearest = palette.nearest[key];
    if (nearest < 0) {
        uint32_t middle = (colour & 0xFFFCFCFC) | 0x020202;
        int best = INT_MAX;
        for (size_t i = 0; i < palette.entries.size(); ++i) {
            int d = Distance(palette.entries[i], middle);
            if (d < best) {
                best = d;
                nearest = static_cast<int16_t>(i);
            }
        }
    }
    return static_cast<uint8_t>(nearest);
}
