#include "tiff_metadata.h"

#include "container_bytes.h"
#include "tiff_structure.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace {

// Private directories of cameras and scanners (Kodak's, Leaf's, Kodak's KDC) hang off the
// first directory by an offset into the structure they came from, as does any entry of type
// IFD: laid out anew, they would point elsewhere.
bool HoldsOffset(const TiffEntry& entry) {
    constexpr uint16_t kTypeIfd = 13;
    static const uint16_t kPrivateDirectories[] = {33424, 34954, 65024};
    return entry.type == kTypeIfd ||
           std::find(std::begin(kPrivateDirectories), std::end(kPrivateDirectories), entry.tag) !=
               std::end(kPrivateDirectories);
}

// An entry of no value describes nothing, and must not replace the file's own.
bool IsDescriptive(const TiffEntry& entry) {
    return !IsTiffLayoutTag(entry.tag) && !HoldsOffset(entry) && entry.count > 0 &&
           entry.tag != kTagIcc && entry.tag != kTagXmp;
}

// The bytes of an entry holding a block of bytes, or "" for one of another type.
std::string Block(const TiffDirectory& directory, uint16_t tag, size_t maxBytes) {
    const TiffEntry* entry = FindTiffEntry(directory, tag);
    if (!entry || TiffTypeSize(entry->type) != 1 || entry->value.size() > maxBytes) return "";
    return entry->value;
}

// A maker note's offsets count from where its camera's EXIF began, and in a directory laid
// out anew they would point elsewhere: each make counts from its own base, and a note read
// wrong is worse than none. So the note is carried only where the EXIF's bytes stay as they
// were, and is left out whole where they cannot.
void DropMakerNote(TiffDirectory& directory) {
    for (TiffDirectory& sub : directory.subDirectories) {
        if (sub.tag != kTagExifDirectory) continue;
        sub.entries.erase(std::remove_if(sub.entries.begin(), sub.entries.end(),
                                         [](const TiffEntry& entry) { return entry.tag == kTagMakerNote; }),
                          sub.entries.end());
    }
}

TiffEntry BlockEntry(uint16_t tag, uint16_t type, const std::string& bytes) {
    return {tag, type, static_cast<uint32_t>(bytes.size()), bytes};
}

// A directory read whole and as libtiff reads one: every entry of its table kept, each with a
// value, and its sub-directories so too.
bool SoundAsStored(const TiffDirectory& directory) {
    return directory.storedEntries > 0 &&
           directory.storedEntries == directory.entries.size() + directory.subDirectories.size() &&
           std::all_of(directory.entries.begin(), directory.entries.end(),
                       [](const TiffEntry& entry) { return entry.count > 0; }) &&
           std::all_of(directory.subDirectories.begin(), directory.subDirectories.end(), SoundAsStored);
}

// The values of a SHORT or LONG entry; false for another type.
bool Numbers(const TiffEntry& entry, bool bigEndian, std::vector<uint32_t>& numbers) {
    size_t size = TiffTypeSize(entry.type);
    if (entry.type != kTypeShort && entry.type != kTypeLong) return false;
    const uint8_t* value = reinterpret_cast<const uint8_t*>(entry.value.data());
    for (size_t at = 0; at + size <= entry.value.size(); at += size)
        numbers.push_back(size == 2 ? Load16(value + at, bigEndian) : Load32(value + at, bigEndian));
    return true;
}

// Lays file out anew around the EXIF's own bytes, which stand at its start where their offsets
// (and the maker note's, whatever base its make counts from) hold true: the EXIF as it is, the
// encoder's image data after it, and a first directory of own's entries and the EXIF's
// descriptive ones, pointing into the EXIF's own EXIF and GPS directories, all in the EXIF's
// byte order. False, with file unchanged, where that cannot be done soundly: a second page,
// image data other than strips, samples of more than 8 bits in the other byte order, or EXIF
// directories libtiff would not read as they stand.
bool WriteAroundExif(std::vector<uint8_t>& file, bool fileBigEndian, uint32_t next,
                     std::map<uint16_t, TiffEntry> own, const std::string& exifBytes,
                     const TiffStructure& exif) {
    constexpr uint16_t kStripOffsets = 273, kBitsPerSample = 258;
    static const uint16_t kOtherOffsets[] = {288, 324, 325, 330, 513, 514};
    if (next != 0 || exif.ifd0.subDirectories.empty() || !own.count(kStripOffsets) ||
        !std::all_of(exif.ifd0.subDirectories.begin(), exif.ifd0.subDirectories.end(), SoundAsStored))
        return false;
    for (uint16_t tag : kOtherOffsets)
        if (own.count(tag)) return false;
    std::vector<uint32_t> strips, bits;
    if (!Numbers(own[kStripOffsets], fileBigEndian, strips)) return false;
    if (exif.bigEndian != fileBigEndian) {
        if (own.count(kBitsPerSample) && (!Numbers(own[kBitsPerSample], fileBigEndian, bits) ||
                                          std::any_of(bits.begin(), bits.end(), [](uint32_t b) { return b > 8; })))
            return false;
        TiffDirectory swapped;
        for (auto& tagged : own) swapped.entries.push_back(tagged.second);
        SwapTiffByteOrder(swapped);
        for (TiffEntry& entry : swapped.entries) own[entry.tag] = std::move(entry);
    }
    // The EXIF takes the place of the file's 8-byte header, and the image data moves after it.
    uint64_t head = exifBytes.size() + (exifBytes.size() & 1);
    uint64_t shift = head - 8;
    uint64_t end = head + (file.size() - 8);
    end += end & 1;
    if (end > 0xFFFFFFFFu) return false;
    std::string shifted(4 * strips.size(), '\0');
    for (size_t i = 0; i < strips.size(); ++i)
        Store32(&shifted[4 * i], static_cast<uint32_t>(strips[i] + shift), exif.bigEndian);
    own[kStripOffsets] = {kStripOffsets, kTypeLong, static_cast<uint32_t>(strips.size()), shifted};
    for (const TiffEntry& entry : exif.ifd0.entries)
        if (IsDescriptive(entry)) own[entry.tag] = entry;
    for (const TiffDirectory& sub : exif.ifd0.subDirectories)
        own[sub.tag] = TiffNumberEntry(sub.tag, kTypeLong, sub.offset, exif.bigEndian);
    TiffDirectory directory;
    for (auto& tagged : own) directory.entries.push_back(std::move(tagged.second));
    std::string written = SerializeTiffDirectory(directory, exif.bigEndian, static_cast<uint32_t>(end), 0);
    if (written.empty()) return false;
    // Moved within the file's own buffer, as an encoded picture may be large.
    file.reserve(static_cast<size_t>(end) + written.size());
    file.insert(file.begin() + 8, static_cast<size_t>(shift), 0);
    std::copy(exifBytes.begin(), exifBytes.end(), file.begin());
    file.resize(static_cast<size_t>(end));
    file.insert(file.end(), written.begin(), written.end());
    Store32(reinterpret_cast<char*>(file.data()) + 4, static_cast<uint32_t>(end), exif.bigEndian);
    return true;
}

}  // namespace

PhotoMetadata ReadTiffMetadata(const uint8_t* data, size_t size) {
    TiffFirstDirectory first;
    if (!ReadTiffFirstDirectory(data, size, first)) return {};
    PhotoMetadata metadata;
    metadata.icc = Block(first.directory, kTagIcc, kMaxIccBytes);
    metadata.xmp = Block(first.directory, kTagXmp, kMaxXmpBytes);

    TiffStructure exif;
    exif.bigEndian = first.bigEndian;
    std::copy_if(first.directory.entries.begin(), first.directory.entries.end(),
                 std::back_inserter(exif.ifd0.entries), IsDescriptive);
    exif.ifd0.subDirectories = std::move(first.directory.subDirectories);
    DropMakerNote(exif.ifd0);
    if (IsEmptyTiffDirectory(exif.ifd0)) return metadata;
    std::string bytes = SerializeTiff(exif);
    if (bytes.size() <= kMaxExifBytes) metadata.exif = std::move(bytes);
    return metadata;
}

bool WriteTiffMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata) {
    TiffFirstDirectory first;
    if (!ReadTiffFirstDirectory(file.data(), file.size(), first)) return false;
    TiffDirectory& directory = first.directory;
    std::map<uint16_t, TiffEntry> entries;  // later ones replace earlier ones of their tag
    for (TiffEntry& entry : directory.entries) entries[entry.tag] = std::move(entry);
    if (!metadata.icc.empty()) entries[kTagIcc] = BlockEntry(kTagIcc, kTypeUndefined, metadata.icc);
    if (!metadata.xmp.empty()) entries[kTagXmp] = BlockEntry(kTagXmp, kTypeByte, metadata.xmp);
    TiffStructure exif;
    bool exifRead = !metadata.exif.empty() && ParseTiff(metadata.exif, exif);
    if (exifRead && WriteAroundExif(file, first.bigEndian, first.next, entries, metadata.exif, exif))
        return true;
    if (exifRead) {
        if (exif.bigEndian != first.bigEndian) SwapTiffByteOrder(exif.ifd0);
        for (TiffEntry& entry : exif.ifd0.entries)
            if (IsDescriptive(entry)) entries[entry.tag] = std::move(entry);
        directory.subDirectories = std::move(exif.ifd0.subDirectories);
        DropMakerNote(directory);
    }
    directory.entries.clear();
    for (auto& tagged : entries) directory.entries.push_back(std::move(tagged.second));
    size_t end = file.size() + (file.size() & 1);
    if (end > 0xFFFFFFFFu) return false;
    std::string written =
        SerializeTiffDirectory(directory, first.bigEndian, static_cast<uint32_t>(end), first.next);
    if (written.empty()) return false;
    file.reserve(end + written.size());
    file.resize(end);
    file.insert(file.end(), written.begin(), written.end());
    for (int i = 0; i < 4; ++i) {
        int shift = first.bigEndian ? 24 - 8 * i : 8 * i;
        file[4 + i] = static_cast<uint8_t>(end >> shift);
    }
    return true;
}
