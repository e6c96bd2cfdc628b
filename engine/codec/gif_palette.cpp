#include "gif_palette.h"

#include <cstring>

namespace {

constexpr size_t kScreenDescriptorEnd = 13;  // signature, size, flags, background, aspect
constexpr uint8_t kHasColourTable = 0x80;

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
    std::vector<uint8_t> ramp(256 * 3);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i / 3);
    gif[10] |= kHasColourTable | 0x07;  // 2^(7+1) = 256 entries
    gif.insert(gif.begin() + kScreenDescriptorEnd, ramp.begin(), ramp.end());
}
