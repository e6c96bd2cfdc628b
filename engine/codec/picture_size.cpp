#include "picture_size.h"

#include "container_bytes.h"
#include "gif_container.h"
#include "icon_directory.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

struct Bytes {
    const uint8_t* data;
    size_t size;

    bool Fits(size_t at, size_t length) const { return at <= size && length <= size - at; }
    uint16_t Le16(size_t at) const { return Load16(data + at, false); }
    uint16_t Be16(size_t at) const { return Load16(data + at, true); }
    uint32_t Le32(size_t at) const { return Load32(data + at, false); }
    uint32_t Be32(size_t at) const { return Load32(data + at, true); }
    bool Starts(size_t at, const char* text, size_t length) const {
        return Fits(at, length) && std::memcmp(data + at, text, length) == 0;
    }
};

struct Size {
    uint64_t width = 0;
    uint64_t height = 0;
};

DeclaredSize Png(const Bytes& b, size_t at, Size& s) {
    // The signature, then the IHDR chunk's length and type, then width and height.
    if (!b.Fits(at, 24) || !b.Starts(at + 12, "IHDR", 4)) return DeclaredSize::Damaged;
    s = {b.Be32(at + 16), b.Be32(at + 20)};
    return DeclaredSize::Found;
}

// The decoder decodes every picture, so each one's extent counts, not only the first's.
DeclaredSize Gif(const Bytes& b, Size& s) {
    if (!b.Fits(0, 13)) return DeclaredSize::Damaged;
    s = {b.Le16(6), b.Le16(8)};
    size_t at = 13;
    at += GifTableBytes(b.data[10]);
    bool picture = false;
    while (b.Fits(at, 1) && b.data[at] != 0x3B) {
        if (b.data[at] == 0x21) {  // an extension: introducer, label, sub-blocks
            at = SkipGifSubBlocks(b.data, b.size, at + 2);
            if (at == 0) break;
            continue;
        }
        if (b.data[at] != 0x2C || !b.Fits(at, 10)) break;
        // A picture reaching beyond the screen widens what the decoder draws on.
        s.width = std::max<uint64_t>(s.width, uint64_t{b.Le16(at + 1)} + b.Le16(at + 5));
        s.height = std::max<uint64_t>(s.height, uint64_t{b.Le16(at + 3)} + b.Le16(at + 7));
        picture = true;
        uint8_t flags = b.data[at + 9];
        at += 10;
        at += GifTableBytes(flags);
        // The LZW code size, then the picture's data.
        at = SkipGifSubBlocks(b.data, b.size, at + 1);
        if (at == 0) break;
    }
    // Decoders show what a cut or damaged file holds before its fault.
    return picture ? DeclaredSize::Found : DeclaredSize::Damaged;
}

// A BMP's information header, after its file header.
DeclaredSize BitmapInfo(const Bytes& b, size_t at, Size& s) {
    if (!b.Fits(at, 4)) return DeclaredSize::Damaged;
    uint32_t headerSize = b.Le32(at);
    if (headerSize == 12) {  // OS/2 1.x: 16-bit sizes
        if (!b.Fits(at, 12)) return DeclaredSize::Damaged;
        s = {b.Le16(at + 4), b.Le16(at + 6)};
        return DeclaredSize::Found;
    }
    if (headerSize < 16 || !b.Fits(at, 12)) return DeclaredSize::Damaged;
    auto width = static_cast<int32_t>(b.Le32(at + 4));
    auto height = static_cast<int32_t>(b.Le32(at + 8));  // negative: rows top down
    s = {static_cast<uint64_t>(width < 0 ? -int64_t{width} : width),
         static_cast<uint64_t>(height < 0 ? -int64_t{height} : height)};
    return DeclaredSize::Found;
}

DeclaredSize Jpeg(const Bytes& b, Size& s) {
    size_t at = 2;
    while (b.Fits(at, 2)) {
        if (b.data[at] != 0xFF) {  // stray bytes between segments, which decoders pass over
            ++at;
            continue;
        }
        uint8_t marker = b.data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        // A stuffed zero is no marker, and restart and TEM markers carry no length: libjpeg
        // passes over all three.
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9 || !b.Fits(at + 2, 2)) return DeclaredSize::Damaged;
        size_t length = b.Be16(at + 2);
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                     marker != 0xCC;
        if (frame) {
            if (length < 7 || !b.Fits(at + 4, 5)) return DeclaredSize::Damaged;
            s = {b.Be16(at + 7), b.Be16(at + 5)};
            return DeclaredSize::Found;
        }
        if (length < 2) return DeclaredSize::Damaged;
        at += 2 + length;
    }
    return DeclaredSize::Damaged;
}

// The directory at offset `directory` (the first when 0); next, when given, is told where
// the following one lies (0 for none).
DeclaredSize Tiff(const Bytes& b, Size& s, size_t directory = 0, size_t* next = nullptr) {
    bool big = b.data[0] == 'M';
    auto u16 = [&](size_t at) { return Load16(b.data + at, big); };
    auto u32 = [&](size_t at) { return Load32(b.data + at, big); };
    if (directory == 0) directory = u32(4);
    if (!b.Fits(directory, 2)) return DeclaredSize::Damaged;
    size_t entries = u16(directory);
    if (next) *next = b.Fits(directory + 2 + entries * 12, 4) ? u32(directory + 2 + entries * 12) : 0;
    bool haveWidth = false;
    bool haveHeight = false;
    for (size_t i = 0; i < entries; ++i) {
        size_t entry = directory + 2 + i * 12;
        if (!b.Fits(entry, 12)) return DeclaredSize::Damaged;
        uint16_t tag = u16(entry);
        if (tag != 256 && tag != 257) continue;
        uint16_t type = u16(entry + 2);
        uint64_t value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : 0;
        bool& have = tag == 256 ? haveWidth : haveHeight;
        // Decoders differ on which of two sizes holds (libtiff takes the first), so a file
        // that gives one twice has no size to trust.
        if ((type != 3 && type != 4) || have) return DeclaredSize::Damaged;
        (tag == 256 ? s.width : s.height) = value;
        have = true;
    }
    return haveWidth && haveHeight ? DeclaredSize::Found : DeclaredSize::Damaged;
}

// Only an icon's largest picture is decoded.
DeclaredSize Icon(const Bytes& b, Size& s) {
    std::optional<IconPicture> largest = LargestIconPicture(ReadIconPictures(b.data, b.size));
    if (!largest) return DeclaredSize::Damaged;
    s = {largest->width, largest->height};
    return DeclaredSize::Found;
}

}  // namespace

DeclaredSize ReadDeclaredSize(const uint8_t* data, size_t size, uint64_t& width,
                              uint64_t& height) {
    Bytes b{data, size};
    Size s;
    DeclaredSize found = DeclaredSize::OtherFormat;
    if (b.Starts(0, "\x89PNG\r\n\x1a\n", 8))
        found = Png(b, 0, s);
    else if (b.Starts(0, "GIF87a", 6) || b.Starts(0, "GIF89a", 6))
        found = Gif(b, s);
    else if (b.Starts(0, "BM", 2))
        found = BitmapInfo(b, 14, s);
    else if (b.Starts(0, "\xFF\xD8", 2))
        found = Jpeg(b, s);
    else if (b.Starts(0, "II*\0", 4) || b.Starts(0, "MM\0*", 4))
        found = b.Fits(0, 8) ? Tiff(b, s) : DeclaredSize::Damaged;
    else if (IsIcon(data, size))
        found = Icon(b, s);
    width = s.width;
    height = s.height;
    return found;
}

uint64_t DeclaredPixelsOfPages(const uint8_t* data, size_t size) {
    Bytes b{data, size};
    if (!b.Fits(0, 8) || (!b.Starts(0, "II*\0", 4) && !b.Starts(0, "MM\0*", 4))) return 0;
    uint64_t pixels = 0;
    // A directory pointing back to an earlier one makes a loop, which the count ends.
    size_t directory = 0;
    for (int pages = 0; pages < 65536; ++pages) {
        Size s;
        size_t next = 0;
        if (Tiff(b, s, directory, &next) != DeclaredSize::Found) break;
        pixels += s.width * s.height;
        if (next == 0) break;
        directory = next;
    }
    return pixels;
}
