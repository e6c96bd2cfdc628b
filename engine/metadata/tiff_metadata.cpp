#include "tiff_metadata.h"

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
// were, and is left out whole here.
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
    if (!metadata.exif.empty() && ParseTiff(metadata.exif, exif)) {
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
