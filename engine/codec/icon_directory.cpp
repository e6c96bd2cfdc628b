#include "icon_directory.h"

#include "container_bytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kHeader = 6;  // reserved, type, count
constexpr size_t kEntry = 16;  // width, height, colours, reserved, planes, depth, size, offset
constexpr size_t kBitmapHeader = 40;

// A picture's size and depth from its own header, which decoders go by, not the directory's
// byte-sized figures.
bool ReadPictureHeader(const uint8_t* at, size_t size, IconPicture& picture) {
    if (size >= 26 && std::memcmp(at, "\x89PNG\r\n\x1a\n", 8) == 0 &&
        std::memcmp(at + 12, "IHDR", 4) == 0) {
        picture.png = true;
        picture.width = Load32(at + 16, true);
        picture.height = Load32(at + 20, true);
        static const unsigned kChannels[] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
        unsigned type = at[25];
        picture.bitsPerPixel = type < 7 ? at[24] * kChannels[type] : 0;
        return picture.bitsPerPixel != 0;
    }
    // The fields up to the depth; the rest of the header is the decoder's to judge.
    if (size < 16 || Load32(at, false) < kBitmapHeader) return false;
    auto width = static_cast<int32_t>(Load32(at + 4, false));
    auto height = static_cast<int32_t>(Load32(at + 8, false));  // the picture and its mask below it
    if (width <= 0 || height <= 1) return false;
    picture.width = static_cast<uint32_t>(width);
    picture.height = static_cast<uint32_t>(height) / 2;
    picture.bitsPerPixel = Load16(at + 14, false);
    return picture.bitsPerPixel != 0;
}

}  // namespace

bool IsIcon(const uint8_t* data, size_t size) {
    return size >= kHeader && std::memcmp(data, "\0\0\1\0", 4) == 0;
}

std::vector<IconPicture> ReadIconPictures(const uint8_t* data, size_t size) {
    std::vector<IconPicture> pictures;
    if (!IsIcon(data, size)) return pictures;
    size_t count = Load16(data + 4, false);
    for (size_t i = 0; i < count && kHeader + (i + 1) * kEntry <= size; ++i) {
        const uint8_t* entry = data + kHeader + i * kEntry;
        IconPicture picture;
        picture.offset = Load32(entry + 12, false);
        if (picture.offset >= size) continue;
        picture.size = std::min<size_t>(Load32(entry + 8, false), size - picture.offset);
        if (ReadPictureHeader(data + picture.offset, picture.size, picture))
            pictures.push_back(picture);
    }
    return pictures;
}

std::optional<IconPicture> LargestIconPicture(const std::vector<IconPicture>& pictures) {
    std::optional<IconPicture> best;
    for (const IconPicture& picture : pictures) {
        uint64_t area = uint64_t{picture.width} * picture.height;
        uint64_t bestArea = best ? uint64_t{best->width} * best->height : 0;
        if (!best || area > bestArea ||
            (area == bestArea && picture.bitsPerPixel > best->bitsPerPixel))
            best = picture;
    }
    return best;
}

std::vector<uint8_t> IconOfOnePicture(const uint8_t* data, const IconPicture& picture) {
    // The directory's figures say what the picture's header says: 0 stands for 256 or more.
    auto byteSize = [](uint32_t pixels) { return static_cast<uint8_t>(pixels >= 256 ? 0 : pixels); };
    std::vector<uint8_t> icon{0, 0, 1, 0, 1, 0, byteSize(picture.width), byteSize(picture.height),
                              0, 0, 1, 0, static_cast<uint8_t>(picture.bitsPerPixel), 0};
    for (uint32_t value : {static_cast<uint32_t>(picture.size), uint32_t{kHeader + kEntry}})
        for (int shift = 0; shift < 32; shift += 8) icon.push_back(static_cast<uint8_t>(value >> shift));
    icon.insert(icon.end(), data + picture.offset, data + picture.offset + picture.size);
    return icon;
}
