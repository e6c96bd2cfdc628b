#include "exif.h"

#include <cstring>

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

struct TiffReader {
    const uint8_t* data;
    size_t size;
    bool bigEndian;

    bool Fits(size_t offset, size_t length) const {
        return offset <= size && length <= size - offset;
    }
    uint16_t U16(size_t at) const {
        return bigEndian ? static_cast<uint16_t>(data[at] << 8 | data[at + 1])
                         : static_cast<uint16_t>(data[at + 1] << 8 | data[at]);
    }
    uint32_t U32(size_t at) const {
        return bigEndian ? static_cast<uint32_t>(U16(at)) << 16 | U16(at + 2)
                         : static_cast<uint32_t>(U16(at + 2)) << 16 | U16(at);
    }
};

// The orientation entry of the first directory of TIFF-structured data, or 1.
int TiffOrientation(const uint8_t* data, size_t size) {
    if (size < 8) return 1;
    TiffReader tiff{data, size, false};
    if (std::memcmp(data, "MM\0*", 4) == 0)
        tiff.bigEndian = true;
    else if (std::memcmp(data, "II*\0", 4) != 0)
        return 1;
    size_t directory = tiff.U32(4);
    if (!tiff.Fits(directory, 2)) return 1;
    size_t entries = tiff.U16(directory);
    for (size_t i = 0; i < entries; ++i) {
        size_t entry = directory + 2 + i * 12;
        if (!tiff.Fits(entry, 12)) return 1;
        if (tiff.U16(entry) != kOrientationTag) continue;
        if (tiff.U16(entry + 2) != kTypeShort || tiff.U32(entry + 4) < 1) return 1;
        int orientation = tiff.U16(entry + 8);
        return orientation >= 1 && orientation <= 8 ? orientation : 1;
    }
    return 1;
}

// The orientation in a JPEG's Exif segment, found before its picture data starts, or 1.
int JpegOrientation(const uint8_t* data, size_t size) {
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return 1;
        uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 1;  // picture data or the end
        size_t length = static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) return 1;
        const uint8_t* body = data + at + 4;
        size_t bodySize = length - 2;
        if (marker == 0xE1 && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0)
            return TiffOrientation(body + 6, bodySize - 6);
        at += 2 + length;
    }
    return 1;
}

// The orientation in a WebP file's EXIF chunk, or 1.
int WebPOrientation(const uint8_t* data, size_t size) {
    size_t at = 12;  // past "RIFF", the size and "WEBP"
    while (at + 8 <= size) {
        size_t length = static_cast<size_t>(data[at + 4]) | static_cast<size_t>(data[at + 5]) << 8 |
                        static_cast<size_t>(data[at + 6]) << 16 |
                        static_cast<size_t>(data[at + 7]) << 24;
        const uint8_t* body = data + at + 8;
        if (length > size - at - 8) return 1;
        if (std::memcmp(data + at, "EXIF", 4) == 0) {
            // Some writers keep the JPEG segment's "Exif" prefix.
            if (length >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0)
                return TiffOrientation(body + 6, length - 6);
            return TiffOrientation(body, length);
        }
        at += 8 + length + (length & 1);
    }
    return 1;
}

// The orientation in a PNG's eXIf chunk, which browsers honour, or 1.
int PngOrientation(const uint8_t* data, size_t size) {
    size_t at = 8;  // past the signature
    while (at + 12 <= size) {
        size_t length = static_cast<size_t>(data[at]) << 24 | static_cast<size_t>(data[at + 1]) << 16 |
                        static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
        const uint8_t* type = data + at + 4;
        if (length > size - at - 12) return 1;
        if (std::memcmp(type, "eXIf", 4) == 0) return TiffOrientation(data + at + 8, length);
        if (std::memcmp(type, "IEND", 4) == 0) return 1;
        at += 12 + length;
    }
    return 1;
}

}  // namespace

int ReadOrientation(const uint8_t* data, size_t size) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) return JpegOrientation(data, size);
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return WebPOrientation(data, size);
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return PngOrientation(data, size);
    return TiffOrientation(data, size);
}
