// What the container readers and writers share: integers in either byte order, and EXIF as
// containers hold it.
#pragma once

#include "metadata.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

inline uint16_t Load16(const uint8_t* at, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(at[0] << 8 | at[1])
                     : static_cast<uint16_t>(at[1] << 8 | at[0]);
}

inline uint32_t Load32(const uint8_t* at, bool bigEndian) {
    uint32_t high = Load16(bigEndian ? at : at + 2, bigEndian);
    uint32_t low = Load16(bigEndian ? at + 2 : at, bigEndian);
    return high << 16 | low;
}

inline void Store16(char* at, uint16_t value, bool bigEndian) {
    at[bigEndian ? 0 : 1] = static_cast<char>(value >> 8);
    at[bigEndian ? 1 : 0] = static_cast<char>(value & 0xFF);
}

inline void Store32(char* at, uint32_t value, bool bigEndian) {
    Store16(bigEndian ? at : at + 2, static_cast<uint16_t>(value >> 16), bigEndian);
    Store16(bigEndian ? at + 2 : at, static_cast<uint16_t>(value & 0xFFFF), bigEndian);
}

inline void PutBigEndian16(std::vector<uint8_t>& out, size_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void PutBigEndian32(std::vector<uint8_t>& out, size_t value) {
    PutBigEndian16(out, (value >> 16) & 0xFFFF);
    PutBigEndian16(out, value & 0xFFFF);
}

inline void Append(std::vector<uint8_t>& out, const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

// Rewrites file in its own buffer: of its bytes from `from` on, only the spans in kept stay
// (each [start, end), in order), with added before them. An encoded picture is so moved once
// within its buffer, and not at all where the encoder wrote nothing to drop, rather than
// copied into a second one.
inline void KeepSpansAfter(std::vector<uint8_t>& file, size_t from,
                           const std::vector<std::pair<size_t, size_t>>& kept,
                           const std::vector<uint8_t>& added) {
    size_t to = from;
    for (const auto& span : kept) {
        size_t length = span.second - span.first;
        if (span.first != to) std::memmove(file.data() + to, file.data() + span.first, length);
        to += length;
    }
    file.resize(to);
    file.insert(file.begin() + static_cast<std::ptrdiff_t>(from), added.begin(), added.end());
}

inline bool StartsWith(const uint8_t* data, size_t size, const char* prefix, size_t prefixSize) {
    return size >= prefixSize && std::memcmp(data, prefix, prefixSize) == 0;
}

// JPEG's APP1 marks its EXIF with this; other containers' writers sometimes keep it.
constexpr char kExifPrefix[] = "Exif\0";  // with the terminator: "Exif\0\0"
constexpr size_t kExifPrefixSize = 6;

// EXIF as PhotoMetadata holds it: the optional "Exif\0\0" dropped, and nothing unless the rest
// is TIFF-structured and within its bound.
inline std::string TiffStructuredExif(const uint8_t* data, size_t size) {
    if (StartsWith(data, size, kExifPrefix, kExifPrefixSize)) {
        data += kExifPrefixSize;
        size -= kExifPrefixSize;
    }
    if (size > kMaxExifBytes || !(StartsWith(data, size, "II*\0", 4) ||
                                  StartsWith(data, size, "MM\0*", 4)))
        return {};
    return std::string(reinterpret_cast<const char*>(data), size);
}
