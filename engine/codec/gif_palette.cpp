#include "gif_palette.h"

#include "gif_container.h"

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
        at = SkipGifSubBlocks(gif, size, at + 2);  // past introducer and label
        if (at == 0) return 0;
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

// Colours counted one by one while a picture has no more than this many, with a histogram of
// 6 bits a channel beside them for when it has more.
constexpr size_t kFewColours = 1 << 16;
constexpr int kCellBits = 6;
constexpr int kCellShift = 8 - kCellBits;

int Channel(uint32_t argb, int axis) { return static_cast<int>(argb >> (16 - 8 * axis) & 0xFF); }

size_t Cell(uint32_t argb) {
    return static_cast<size_t>(Channel(argb, 0) >> kCellShift) << (2 * kCellBits) |
           static_cast<size_t>(Channel(argb, 1) >> kCellShift) << kCellBits |
           static_cast<size_t>(Channel(argb, 2) >> kCellShift);
}

using Sums = ColourSums;

void Add(Sums& to, const Sums& s) {
    to.weight += s.weight;
    for (int axis = 0; axis < 3; ++axis) to.channel[axis] += s.channel[axis];
    to.squares += s.squares;
}

Sums Minus(Sums a, const Sums& b) {
    a.weight -= b.weight;
    for (int axis = 0; axis < 3; ++axis) a.channel[axis] -= b.channel[axis];
    a.squares -= b.squares;
    return a;
}

// What a part's mean takes away from its colours' spread: the larger the two parts' sum, the
// better the cut. Plain double arithmetic, which every x64 compiler rounds alike, so every
// platform cuts alike.
double Gain(const Sums& s) {
    if (s.weight == 0) return 0;
    double sum = 0;
    for (int64_t c : s.channel) sum += static_cast<double>(c) * static_cast<double>(c);
    return sum / static_cast<double>(s.weight);
}

// Colours, or histogram cells, with the pixels they stand for; position places them in the
// colour cube.
struct Point {
    uint32_t position;
    Sums sums;
};

// The points [begin, end) and their sums; spread is how far its pixels lie from their mean.
struct Box {
    size_t begin;
    size_t end;
    Sums sums;
    double spread;
};

Box MakeBox(const std::vector<Point>& points, size_t begin, size_t end) {
    Box box{begin, end, {}, 0};
    for (size_t i = begin; i < end; ++i) Add(box.sums, points[i].sums);
    if (end - begin > 1) box.spread = static_cast<double>(box.sums.squares) - Gain(box.sums);
    return box;
}

// Wu's cut: of all planes across one axis, the one whose two parts lie closest to their means.
// False when every plane leaves one part empty.
bool Cut(std::vector<Point>& points, Box& box, Box& other) {
    double best = 0;
    int bestAxis = -1;
    int bestLevel = 0;
    for (int axis = 0; axis < 3; ++axis) {
        Sums levels[256];
        for (size_t i = box.begin; i < box.end; ++i)
            Add(levels[Channel(points[i].position, axis)], points[i].sums);
        Sums low;
        for (int level = 0; level < 255; ++level) {
            Add(low, levels[level]);
            Sums high = Minus(box.sums, low);
            if (low.weight == 0 || high.weight == 0) continue;
            double gain = Gain(low) + Gain(high);
            if (gain > best) {
                best = gain;
                bestAxis = axis;
                bestLevel = level;
            }
        }
    }
    if (bestAxis < 0) return false;
    auto middle = std::partition(
        points.begin() + static_cast<std::ptrdiff_t>(box.begin),
        points.begin() + static_cast<std::ptrdiff_t>(box.end),
        [&](const Point& p) { return Channel(p.position, bestAxis) <= bestLevel; });
    size_t cut = static_cast<size_t>(middle - points.begin());
    other = MakeBox(points, cut, box.end);
    box = MakeBox(points, box.begin, cut);
    return true;
}

Sums PixelSums(uint32_t argb, int64_t pixels) {
    Sums s;
    s.weight = pixels;
    for (int axis = 0; axis < 3; ++axis) {
        int64_t c = Channel(argb, axis);
        s.channel[axis] = c * pixels;
        s.squares += c * c * pixels;
    }
    return s;
}

uint32_t MeanColour(const Sums& s) {
    uint32_t colour = 0xFF000000u;
    for (int axis = 0; axis < 3; ++axis)
        colour |= static_cast<uint32_t>((s.channel[axis] + s.weight / 2) / s.weight) << (16 - 8 * axis);
    return colour;
}

int16_t Nearest(const std::vector<uint32_t>& entries, uint32_t colour) {
    int16_t nearest = 0;
    int best = INT_MAX;
    for (size_t i = 0; i < entries.size(); ++i) {
        int d = ColourDistance(entries[i], colour);
        if (d < best) {
            best = d;
            nearest = static_cast<int16_t>(i);
        }
    }
    return nearest;
}

}  // namespace

int ColourDistance(uint32_t a, uint32_t b) {
    int sum = 0;
    for (int axis = 0; axis < 3; ++axis) {
        int d = Channel(a, axis) - Channel(b, axis);
        sum += d * d;
    }
    return sum;
}

ColourCount::ColourCount() : cells(size_t{1} << (3 * kCellBits)) {}

void CountColours(ColourCount& count, const uint32_t* argb, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t colour = argb[i] | 0xFF000000u;
        if (!count.many) {
            auto found = count.index.emplace(colour, static_cast<uint32_t>(count.own.size()));
            if (found.second) {
                count.own.push_back(colour);
                count.pixels.push_back(0);
            }
            ++count.pixels[found.first->second];
            if (count.own.size() > kFewColours) {
                count.many = true;
                count.own = {};
                count.pixels = {};
                count.index = {};
            }
        }
        Add(count.cells[Cell(colour)], PixelSums(colour, 1));
    }
}

GifPalette MakeGifPalette(ColourCount count) {
    GifPalette palette;
    palette.nearest.assign(size_t{1} << (3 * kCellBits), -1);
    if (!count.many && count.own.size() <= kGifColours) {
        palette.entries = std::move(count.own);
        for (size_t i = 0; i < palette.entries.size(); ++i)
            palette.exact.emplace(palette.entries[i], static_cast<uint8_t>(i));
        return palette;
    }
    // The picture's own colours when they are few, else its histogram's cells: the cells of a
    // picture whose colours crowd together could serve fewer entries than a palette has.
    std::vector<Point> points;
    if (!count.many) {
        for (size_t i = 0; i < count.own.size(); ++i)
            points.push_back({count.own[i], PixelSums(count.own[i], count.pixels[i])});
    } else {
        for (size_t cell = 0; cell < count.cells.size(); ++cell) {
            if (count.cells[cell].weight == 0) continue;
            // Placed by the cell's corner; the cell's own sums make the entries' means.
            uint32_t corner = 0xFF000000u;
            for (int axis = 0; axis < 3; ++axis) {
                auto level = static_cast<uint32_t>(cell >> (kCellBits * (2 - axis)) & ((1u << kCellBits) - 1));
                corner |= level << kCellShift << (16 - 8 * axis);
            }
            points.push_back({corner, count.cells[cell]});
        }
    }
    // The box whose colours spread most is cut in two until there are enough, and each box
    // gives its mean colour.
    std::vector<Box> boxes{MakeBox(points, 0, points.size())};
    while (boxes.size() < kGifColours) {
        auto widest = std::max_element(boxes.begin(), boxes.end(),
                                       [](const Box& a, const Box& b) { return a.spread < b.spread; });
        if (widest->spread <= 0) break;
        Box other{};
        if (!Cut(points, *widest, other)) {
            widest->spread = 0;
            continue;
        }
        boxes.push_back(other);
    }
    for (const Box& box : boxes) palette.entries.push_back(MeanColour(box.sums));
    if (!count.many)
        for (uint32_t colour : count.own)
            palette.exact.emplace(colour, static_cast<uint8_t>(Nearest(palette.entries, colour)));
    return palette;
}

uint8_t PaletteIndex(GifPalette& palette, uint32_t argb) {
    uint32_t colour = argb | 0xFF000000u;
    if (!palette.exact.empty()) {
        auto found = palette.exact.find(colour);
        if (found != palette.exact.end()) return found->second;
    }
    // A cell's colours share the entry nearest to its middle, which does not depend on which
    // pixel came first.
    int16_t& nearest = palette.nearest[Cell(colour)];
    if (nearest < 0) nearest = Nearest(palette.entries, (colour & 0xFFFCFCFC) | 0x020202);
    return static_cast<uint8_t>(nearest);
}
