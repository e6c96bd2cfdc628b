#include "tiff_structure.h"

#include "container_bytes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagStripByteCounts = 279;
constexpr uint16_t kTagThumbnailOffset = 513;
constexpr uint16_t kTagThumbnailLength = 514;
constexpr uint16_t kTypeRational = 5;
constexpr uint16_t kTypeSRational = 10;
constexpr uint16_t kTypeIfd = 13;

// Values of a sane structure never overlap, so together they fit in its bytes; only a hostile
// one makes many entries share one large value. Beyond a few pieces of metadata at their
// bounds, a whole file's first directory holds nothing worth copying.
constexpr size_t kMaxValueBytes = 16u << 20;
// A thumbnail is a JPEG or at most a strip per row of a small picture.
constexpr size_t kMaxThumbnailBlocks = 1024;

bool IsDirectoryTag(uint16_t tag) {
    return tag == kTagExifDirectory || tag == kTagGpsDirectory ||
           tag == kTagInteroperabilityDirectory;
}

// The sub-directories IFD0 may point to, and those its sub-directories may.
const std::vector<uint16_t> kFirstDirectorySubs = {kTagExifDirectory, kTagGpsDirectory};

std::vector<uint16_t> SubDirectoryTags(uint16_t directoryTag) {
    if (directoryTag == kTagExifDirectory) return {kTagInteroperabilityDirectory};
    return {};
}

struct Reader {
    const uint8_t* data;
    size_t size;
    bool bigEndian;
    size_t budget;                   // value bytes still allowed to be copied
    std::vector<uint32_t> visited;  // directories already read, against loops

    bool Fits(uint64_t offset, uint64_t length) const {
        return offset <= size && length <= size - offset;
    }
    uint16_t U16(size_t at) const { return Load16(data + at, bigEndian); }
    uint32_t U32(size_t at) const { return Load32(data + at, bigEndian); }

    bool Take(uint64_t offset, uint64_t length, std::string& out) {
        if (!Fits(offset, length) || length > budget) return false;
        budget -= static_cast<size_t>(length);
        out.assign(reinterpret_cast<const char*>(data) + offset, static_cast<size_t>(length));
        return true;
    }
};

bool ReadHeader(Reader& reader, uint32_t& first) {
    if (reader.size < 8) return false;
    if (std::memcmp(reader.data, "MM\0*", 4) == 0)
        reader.bigEndian = true;
    else if (std::memcmp(reader.data, "II*\0", 4) != 0)
        return false;
    first = reader.U32(4);
    return true;
}

bool ReadEntry(Reader& reader, size_t at, TiffEntry& entry) {
    entry.tag = reader.U16(at);
    entry.type = reader.U16(at + 2);
    entry.count = reader.U32(at + 4);
    if (TiffTypeSize(entry.type) == 0) return false;
    uint64_t length = static_cast<uint64_t>(entry.count) * TiffTypeSize(entry.type);
    return reader.Take(length <= 4 ? at + 8 : reader.U32(at + 8), length, entry.value);
}

bool ReadDirectory(Reader& reader, uint32_t offset, const std::vector<uint16_t>& subTags,
                   TiffDirectory& directory, uint32_t& next) {
    if (std::find(reader.visited.begin(), reader.visited.end(), offset) != reader.visited.end())
        return false;
    reader.visited.push_back(offset);
    if (!reader.Fits(offset, 2)) return false;
    size_t count = reader.U16(offset);
    size_t table = static_cast<size_t>(offset) + 2;
    if (!reader.Fits(table, count * 12)) return false;
    directory.offset = offset;
    directory.storedEntries = count;
    std::vector<bool> seen(0x10000);  // a full table of one tag each must not take quadratic time
    for (size_t i = 0; i < count; ++i) {
        size_t at = table + i * 12;
        uint16_t tag = reader.U16(at);
        if (seen[tag]) continue;
        seen[tag] = true;
        if (std::find(subTags.begin(), subTags.end(), tag) != subTags.end()) {
            TiffDirectory sub;
            sub.tag = tag;
            uint32_t ignored = 0;
            uint16_t type = reader.U16(at + 2);
            if ((type == kTypeLong || type == kTypeIfd) && reader.U32(at + 4) == 1 &&
                ReadDirectory(reader, reader.U32(at + 8), SubDirectoryTags(tag), sub, ignored))
                directory.subDirectories.push_back(std::move(sub));
        } else if (!IsDirectoryTag(tag)) {  // one out of its place would point nowhere once moved
            TiffEntry entry;
            if (ReadEntry(reader, at, entry)) directory.entries.push_back(std::move(entry));
        }
    }
    size_t link = table + count * 12;
    next = reader.Fits(link, 4) ? reader.U32(link) : 0;
    return true;
}

// The index-th value of a SHORT or LONG entry.
bool NumberAt(const TiffEntry& entry, size_t index, bool bigEndian, uint32_t& number) {
    const uint8_t* value = reinterpret_cast<const uint8_t*>(entry.value.data());
    if (entry.type == kTypeShort && entry.value.size() >= 2 * (index + 1))
        number = Load16(value + 2 * index, bigEndian);
    else if (entry.type == kTypeLong && entry.value.size() >= 4 * (index + 1))
        number = Load32(value + 4 * index, bigEndian);
    else
        return false;
    return true;
}

// The offset and length tags of IFD1's thumbnail: its JPEG's where both stand, else its
// strips'.
std::pair<uint16_t, uint16_t> ThumbnailTags(const TiffDirectory& ifd1) {
    if (FindTiffEntry(ifd1, kTagThumbnailOffset) && FindTiffEntry(ifd1, kTagThumbnailLength))
        return {kTagThumbnailOffset, kTagThumbnailLength};
    return {kTagStripOffsets, kTagStripByteCounts};
}

// The blocks IFD1's offsets point to; false when they cannot all be read.
bool ReadThumbnail(Reader& reader, const TiffDirectory& ifd1, std::vector<std::string>& blocks) {
    const std::pair<uint16_t, uint16_t> tags = ThumbnailTags(ifd1);
    const TiffEntry* offsets = FindTiffEntry(ifd1, tags.first);
    const TiffEntry* lengths = FindTiffEntry(ifd1, tags.second);
    if (!offsets && !lengths) return true;
    if (!offsets || !lengths || offsets->count != lengths->count ||
        offsets->count > kMaxThumbnailBlocks)
        return false;
    for (size_t i = 0; i < offsets->count; ++i) {
        uint32_t at = 0, bytes = 0;
        blocks.emplace_back();
        if (!NumberAt(*offsets, i, reader.bigEndian, at) ||
            !NumberAt(*lengths, i, reader.bigEndian, bytes) || !reader.Take(at, bytes, blocks.back()))
            return false;
    }
    return true;
}

struct Writer {
    std::string out;
    uint64_t base;  // where out starts in the whole structure
    bool bigEndian;

    uint32_t Position() const { return static_cast<uint32_t>(base + out.size()); }
    void Align() {
        if ((base + out.size()) & 1) out += '\0';
    }
    void Append16(uint16_t value) {
        out.append(2, '\0');
        Store16(&out[out.size() - 2], value, bigEndian);
    }
    void Append32(uint32_t value) {
        out.append(4, '\0');
        Store32(&out[out.size() - 4], value, bigEndian);
    }
    void Put32(size_t at, uint32_t value) { Store32(&out[at], value, bigEndian); }
};

// Writes the directory, then its values and sub-directories (entries of no value, and
// sub-directories holding nothing with their pointers, left out); where its link lies in out,
// or npos when it holds more entries than a directory can.
size_t WriteDirectory(Writer& writer, const TiffDirectory& directory, uint32_t next) {
    struct Item {
        uint16_t tag;
        const TiffEntry* entry;      // one of the two
        const TiffDirectory* sub;
    };
    std::vector<Item> items;
    for (const TiffEntry& entry : directory.entries)  // libtiff refuses an entry of no value
        if (entry.count > 0) items.push_back({entry.tag, &entry, nullptr});
    for (const TiffDirectory& sub : directory.subDirectories)
        if (!IsEmptyTiffDirectory(sub)) items.push_back({sub.tag, nullptr, &sub});
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.tag < b.tag; });
    items.erase(std::unique(items.begin(), items.end(),
                            [](const Item& a, const Item& b) { return a.tag == b.tag; }),
                items.end());
    if (items.size() > 0xFFFF) return std::string::npos;

    writer.Align();
    size_t table = writer.out.size() + 2;
    writer.Append16(static_cast<uint16_t>(items.size()));
    for (const Item& item : items) {
        writer.Append16(item.tag);
        writer.Append16(item.entry ? item.entry->type : kTypeLong);
        writer.Append32(item.entry ? item.entry->count : 1);
        writer.Append32(0);
    }
    size_t link = writer.out.size();
    writer.Append32(next);
    for (size_t i = 0; i < items.size(); ++i) {
        const TiffEntry* entry = items[i].entry;
        if (!entry) continue;
        size_t field = table + i * 12 + 8;
        if (entry->value.size() <= 4) {
            std::copy(entry->value.begin(), entry->value.end(), writer.out.begin() + field);
            continue;
        }
        writer.Align();
        writer.Put32(field, writer.Position());
        writer.out += entry->value;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (!items[i].sub) continue;
        writer.Align();
        writer.Put32(table + i * 12 + 8, writer.Position());
        if (WriteDirectory(writer, *items[i].sub, 0) == std::string::npos) return std::string::npos;
    }
    return link;
}

bool Fits32(const Writer& writer) { return writer.base + writer.out.size() <= 0xFFFFFFFFu; }

}  // namespace

size_t TiffTypeSize(uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;   // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                   // SHORT, SSHORT
    case 4: case 9: case 11: case 13: return 4; // LONG, SLONG, FLOAT, IFD
    case 5: case 10: case 12: return 8;         // RATIONAL, SRATIONAL, DOUBLE
    case 16: case 17: case 18: return 8;        // LONG8, SLONG8, IFD8 in some writers' classic files
    default: return 0;
    }
}

bool IsTiffLayoutTag(uint16_t tag) {
    // Baseline and extension tags of TIFF 6, TIFF-F/FX, the old JPEG scheme, the SGI and
    // Pixar tags libtiff still reads (Matteing, DataType, ImageDepth, TileDepth), the CFA
    // pattern, MRC layers and Photoshop's layers: any of them can change how a reader
    // takes the pixels.
    static const uint16_t kLayout[] = {
        254, 255, 256, 257, 258, 259, 262, 263, 264, 265, 266, 273, 277, 278, 279, 280,
        281, 284, 288, 289, 290, 291, 292, 293, 297, 301, 317, 320, 321, 322, 323, 324,
        325, 326, 327, 328, 330, 332, 333, 334, 336, 338, 339, 340, 341, 347, 400, 401,
        402, 403, 404, 405, 433, 434, 435, 512, 513, 514, 515, 517, 518, 519, 520, 521,
        529, 530, 531, 532, 559, 32953, 32954, 32955, 32956, 32995, 32996, 32997, 32998,
        33421, 33422, 34732, 37724};
    // DNG's tags tell how its raw data is to be developed.
    constexpr uint16_t kFirstDngTag = 50706, kLastDngTag = 52600;
    return std::find(std::begin(kLayout), std::end(kLayout), tag) != std::end(kLayout) ||
           (tag >= kFirstDngTag && tag <= kLastDngTag);
}

bool IsEmptyTiffDirectory(const TiffDirectory& directory) {
    return std::none_of(directory.entries.begin(), directory.entries.end(),
                        [](const TiffEntry& entry) { return entry.count > 0; }) &&
           std::all_of(directory.subDirectories.begin(), directory.subDirectories.end(),
                       IsEmptyTiffDirectory);
}

bool ParseTiff(const uint8_t* data, size_t size, TiffStructure& out) {
    Reader reader{data, size, false, std::min(size, kMaxValueBytes), {}};
    uint32_t first = 0, next = 0;
    TiffStructure tiff;
    if (!ReadHeader(reader, first) ||
        !ReadDirectory(reader, first, kFirstDirectorySubs, tiff.ifd0, next))
        return false;
    tiff.bigEndian = reader.bigEndian;
    uint32_t ignored = 0;
    if (next != 0 && (!ReadDirectory(reader, next, {}, tiff.ifd1, ignored) ||
                      !ReadThumbnail(reader, tiff.ifd1, tiff.thumbnail))) {
        tiff.ifd1 = TiffDirectory();
        tiff.thumbnail.clear();
    }
    out = std::move(tiff);
    return true;
}

bool ParseTiff(const std::string& data, TiffStructure& out) {
    return ParseTiff(reinterpret_cast<const uint8_t*>(data.data()), data.size(), out);
}

std::string SerializeTiff(const TiffStructure& tiff) {
    Writer writer{std::string(tiff.bigEndian ? "MM\0*" : "II*\0", 4), 0, tiff.bigEndian};
    writer.Append32(8);
    size_t link = WriteDirectory(writer, tiff.ifd0, 0);
    if (link == std::string::npos) return "";
    if (!tiff.ifd1.entries.empty()) {  // the parser keeps IFD1 only with its whole thumbnail
        TiffDirectory ifd1 = tiff.ifd1;
        std::pair<uint16_t, uint16_t> tags = ThumbnailTags(ifd1);
        // The other scheme's offsets, if any, would point into what is laid out anew.
        ifd1.entries.erase(std::remove_if(ifd1.entries.begin(), ifd1.entries.end(),
                                          [&](const TiffEntry& entry) {
                                              bool offsets = entry.tag == kTagStripOffsets ||
                                                             entry.tag == kTagStripByteCounts ||
                                                             entry.tag == kTagThumbnailOffset ||
                                                             entry.tag == kTagThumbnailLength;
                                              return offsets && entry.tag != tags.first &&
                                                     entry.tag != tags.second;
                                          }),
                           ifd1.entries.end());
        std::string offsets;
        for (const std::string& block : tiff.thumbnail) {
            writer.Align();
            offsets.append(4, '\0');
            Store32(&offsets[offsets.size() - 4], writer.Position(), tiff.bigEndian);
            writer.out += block;
        }
        if (TiffEntry* entry = FindTiffEntry(ifd1, tags.first))
            *entry = {tags.first, kTypeLong, static_cast<uint32_t>(offsets.size() / 4), offsets};
        writer.Align();
        writer.Put32(link, writer.Position());
        if (WriteDirectory(writer, ifd1, 0) == std::string::npos) return "";
    }
    return Fits32(writer) ? writer.out : "";
}

bool ReadTiffFirstDirectory(const uint8_t* data, size_t size, TiffFirstDirectory& out) {
    Reader reader{data, size, false, std::min(size, kMaxValueBytes), {}};
    uint32_t first = 0;
    TiffFirstDirectory result;
    if (!ReadHeader(reader, first) ||
        !ReadDirectory(reader, first, kFirstDirectorySubs, result.directory, result.next))
        return false;
    result.bigEndian = reader.bigEndian;
    out = std::move(result);
    return true;
}

std::string SerializeTiffDirectory(const TiffDirectory& directory, bool bigEndian,
                                   uint32_t offset, uint32_t next) {
    Writer writer{"", offset, bigEndian};
    if (WriteDirectory(writer, directory, next) == std::string::npos) return "";
    return Fits32(writer) ? writer.out : "";
}

void SwapTiffByteOrder(TiffDirectory& directory) {
    for (TiffEntry& entry : directory.entries) {
        size_t size = TiffTypeSize(entry.type);
        if (entry.type == kTypeRational || entry.type == kTypeSRational) size = 4;
        for (size_t at = 0; size > 1 && at + size <= entry.value.size(); at += size)
            std::reverse(entry.value.begin() + at, entry.value.begin() + at + size);
    }
    for (TiffDirectory& sub : directory.subDirectories) SwapTiffByteOrder(sub);
}

TiffEntry* FindTiffEntry(TiffDirectory& directory, uint16_t tag) {
    for (TiffEntry& entry : directory.entries)
        if (entry.tag == tag) return &entry;
    return nullptr;
}

const TiffEntry* FindTiffEntry(const TiffDirectory& directory, uint16_t tag) {
    return FindTiffEntry(const_cast<TiffDirectory&>(directory), tag);
}

bool TiffEntryNumber(const TiffEntry& entry, bool bigEndian, uint32_t& number) {
    return NumberAt(entry, 0, bigEndian, number);
}

TiffEntry TiffNumberEntry(uint16_t tag, uint16_t type, uint32_t number, bool bigEndian) {
    TiffEntry entry{tag, type, 1, std::string(type == kTypeShort ? 2 : 4, '\0')};
    if (type == kTypeShort)
        Store16(&entry.value[0], static_cast<uint16_t>(number), bigEndian);
    else
        Store32(&entry.value[0], number, bigEndian);
    return entry;
}
