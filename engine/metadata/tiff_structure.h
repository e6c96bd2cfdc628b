// TIFF-structured data (an EXIF block or a TIFF file's first directory) as a plain model, and
// written back with every offset recomputed. Classic TIFF only ("II*\0" or "MM\0*").
// Pure: bytes in, bytes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kTagImageWidth = 256;
constexpr uint16_t kTagImageLength = 257;
constexpr uint16_t kTagOrientation = 274;
constexpr uint16_t kTagXmp = 700;
constexpr uint16_t kTagIcc = 34675;
constexpr uint16_t kTagExifDirectory = 34665;
constexpr uint16_t kTagGpsDirectory = 34853;
constexpr uint16_t kTagInteroperabilityDirectory = 40965;
constexpr uint16_t kTagPixelXDimension = 40962;
constexpr uint16_t kTagPixelYDimension = 40963;
constexpr uint16_t kTagMakerNote = 37500;

constexpr uint16_t kTypeByte = 1;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeUndefined = 7;

struct TiffEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::string value;  // count values of type, in the structure's byte order
};

struct TiffDirectory {
    uint16_t tag = 0;                  // the entry pointing to it from its parent; 0 for IFD0, IFD1
    std::vector<TiffEntry> entries;    // one per tag; pointers to sub-directories are not entries
    std::vector<TiffDirectory> subDirectories;  // EXIF, GPS in IFD0; Interoperability in EXIF
    // Where it was read, and how many entries its table held there, those left out included.
    uint32_t offset = 0;
    size_t storedEntries = 0;
};

struct TiffStructure {
    bool bigEndian = false;
    TiffDirectory ifd0;
    TiffDirectory ifd1;  // the thumbnail's directory; no entries when there is none
    // What IFD1's offsets point to: its JPEG (513) or its strips (273), one block each.
    std::vector<std::string> thumbnail;
};

// The first directory of a whole TIFF file, whose next directory is another page.
struct TiffFirstDirectory {
    bool bigEndian = false;
    TiffDirectory directory;
    uint32_t next = 0;  // the next page's offset as the file has it
};

// Bytes of a value of this type; 0 for types of unknown size.
size_t TiffTypeSize(uint16_t type);

// Tags that lay out image data rather than describe the picture: a file's own win over any
// carried from elsewhere, and values of some of them are offsets into the file.
bool IsTiffLayoutTag(uint16_t tag);

// A directory without entries that hold a value, or whose sub-directories are all so. libtiff
// refuses to read a directory of no entries, and an entry of no value: the writers below leave
// both out, sub-directories with the entries that point to them.
bool IsEmptyTiffDirectory(const TiffDirectory& directory);

// Reads EXIF-like data: IFD0 with its EXIF, GPS and Interoperability directories, and IFD1
// with its thumbnail. False when the header or IFD0's entry table cannot be read. A damaged
// entry, directory or thumbnail is left out on its own, as is a directory met twice, a tag met
// twice in a directory, and values beyond what the data's size could hold without sharing.
bool ParseTiff(const uint8_t* data, size_t size, TiffStructure& out);
bool ParseTiff(const std::string& data, TiffStructure& out);

// A fresh structure: directories in order, entries sorted by tag, values word-aligned, the
// thumbnail's offsets those of its blocks as written, entries of no value and empty
// sub-directories left out.
// "" when it would outgrow 32-bit offsets or a directory holds over 65535 entries.
std::string SerializeTiff(const TiffStructure& tiff);

// Reads a whole TIFF file's first directory with its EXIF and GPS directories; the image
// data its entries point to is neither read nor checked.
bool ReadTiffFirstDirectory(const uint8_t* data, size_t size, TiffFirstDirectory& out);

// The directory as if placed at offset, its values and sub-directories after it, and next
// as its link. "" as SerializeTiff would give it.
std::string SerializeTiffDirectory(const TiffDirectory& directory, bool bigEndian,
                                   uint32_t offset, uint32_t next);

// The directory's values (and its sub-directories') turned into the other byte order.
void SwapTiffByteOrder(TiffDirectory& directory);

// The entry with this tag, or null.
TiffEntry* FindTiffEntry(TiffDirectory& directory, uint16_t tag);
const TiffEntry* FindTiffEntry(const TiffDirectory& directory, uint16_t tag);

// The first value of a SHORT or LONG entry; false for other entries.
bool TiffEntryNumber(const TiffEntry& entry, bool bigEndian, uint32_t& number);

// One SHORT or LONG value as an entry of that type, in the given byte order.
TiffEntry TiffNumberEntry(uint16_t tag, uint16_t type, uint32_t number, bool bigEndian);
