// Container bytes made by hand in tests: integers, JPEG segments and PNG chunks.
#pragma once

#include "test_support.h"

#include <string>

inline void PutU16(std::string& out, unsigned value, bool bigEndian) {
    char a = static_cast<char>(value & 0xFF), b = static_cast<char>((value >> 8) & 0xFF);
    out += bigEndian ? std::string{b, a} : std::string{a, b};
}

inline void PutU32(std::string& out, unsigned value, bool bigEndian) {
    if (bigEndian) {
        PutU16(out, value >> 16, true);
        PutU16(out, value & 0xFFFF, true);
    } else {
        PutU16(out, value & 0xFFFF, false);
        PutU16(out, value >> 16, false);
    }
}

inline std::string JpegSegment(unsigned char marker, const std::string& body) {
    std::string segment = {'\xFF', static_cast<char>(marker)};
    PutU16(segment, static_cast<unsigned>(body.size() + 2), true);
    return segment + body;
}

inline std::string PngChunk(const char* type, const std::string& body) {
    std::string bytes;
    PutU32(bytes, static_cast<unsigned>(body.size()), true);
    PutU32(bytes, Crc32(type + body), true);
    return bytes.substr(0, 4) + type + body + bytes.substr(4);
}
