#include "gif_palette.h"

#include <algorithm>
#include <cstring>

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
