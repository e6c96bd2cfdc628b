// TIFF-structured bytes laid out by hand for the metadata tests, independently of the
// engine's own writer: every directory's table first, then the values, then the thumbnail;
// and what the tests read back from a parsed structure.
#pragma once

#include "tiff_structure.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Value bytes in one byte order.
struct Order {
    bool bigEndian;
    std::string U16(uint32_t v) const;
    std::string U32(uint32_t v) const;
    std::string Shorts(std::vector<uint32_t> values) const;
    std::string Rational(uint32_t numerator, uint32_t denominator) const;
};

struct SampleEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::string value;  // for a pointer (34665, 34853, 40965, 513): patched by the builder
};

struct SampleDirectory {
    std::string name;  // "ifd0", "exif", "gps", "interop", "ifd1"
    std::vector<SampleEntry> entries;
};

struct Sample {
    std::string bytes;
    std::map<std::pair<std::string, uint16_t>, size_t> entryAt;  // where each entry starts
    std::map<std::string, size_t> tableAt;                       // where each directory starts
    size_t ifd0LinkAt = 0;
    size_t ifd0TableEnd = 0;  // cut before here and nothing can be read
};

// Directories named as above; pointers go to the directory they name, 513 to thumbnail.
Sample BuildSample(bool bigEndian, const std::vector<SampleDirectory>& directories,
                   const std::string& thumbnail = "");

// A camera's EXIF: IFD0 (orientation 6, 4000 x 3000), EXIF with MakerNote and
// Interoperability, GPS, and IFD1 with a JPEG thumbnail.
Sample CameraExif(bool bigEndian);
extern const char kCameraMakerNote[];  // 40 bytes
extern const char kCameraThumbnail[];  // 64 bytes

void Patch16(Sample& sample, size_t at, uint32_t value, bool bigEndian);
void Patch32(Sample& sample, size_t at, uint32_t value, bool bigEndian);

// The sub-directory a directory points to with tag, or null.
const TiffDirectory* Sub(const TiffDirectory& directory, uint16_t tag);
// The value bytes of the entry with tag, or "<none>".
std::string Value(const TiffDirectory& directory, uint16_t tag);
// "SHORT n" or "LONG n" for the entry with tag, or "none".
std::string Number(const TiffDirectory& directory, uint16_t tag, bool bigEndian);
