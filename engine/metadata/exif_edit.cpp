#include "exif_edit.h"

#include "container_bytes.h"
#include "tiff_structure.h"

#include <vector>

namespace {

constexpr size_t kEntrySize = 12;

// Where the entries of the directory at offset lie, and its link; false when its table does
// not fit. The link may lie past the end, as a cut structure's does.
bool EntriesAt(const std::string& exif, bool bigEndian, uint64_t offset, std::vector<size_t>& entries,
               size_t& link) {
    if (offset > exif.size() || exif.size() - offset < 2) return false;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(exif.data());
    size_t count = Load16(bytes + offset, bigEndian);
    size_t table = static_cast<size_t>(offset) + 2;
    if (count * kEntrySize > exif.size() - table) return false;
    for (size_t i = 0; i < count; ++i) entries.push_back(table + i * kEntrySize);
    link = table + count * kEntrySize;
    return true;
}

// Makes the entry at `at` one SHORT (where it was one that can hold number) or LONG, held in
// the entry itself. A value that lay elsewhere stays there unread. Where the SHORT cannot hold
// number the edit cannot be made within its value alone: the entry becomes a LONG, which fits
// in the entry as well, so no other byte moves.
void SetNumberInPlace(std::string& exif, size_t at, bool bigEndian, uint16_t type, uint32_t number) {
    type = type == kTypeShort && number <= 0xFFFF ? kTypeShort : kTypeLong;
    Store16(&exif[at + 2], type, bigEndian);
    Store32(&exif[at + 4], 1, bigEndian);
    Store32(&exif[at + 8], 0, bigEndian);
    if (type == kTypeShort)
        Store16(&exif[at + 8], static_cast<uint16_t>(number), bigEndian);
    else
        Store32(&exif[at + 8], number, bigEndian);
}

}  // namespace

std::string ExifForOutput(const std::string& exif, uint32_t width, uint32_t height, bool turned) {
    bool bigEndian = exif.compare(0, 4, "MM\0*", 4) == 0;
    if (exif.size() < 8 || (!bigEndian && exif.compare(0, 4, "II*\0", 4) != 0)) return "";
    std::string out = exif;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(exif.data());
    std::vector<size_t> ifd0;
    size_t link = 0;
    if (!EntriesAt(exif, bigEndian, Load32(bytes + 4, bigEndian), ifd0, link)) return "";
    std::vector<size_t> exifDirectory;
    size_t exifLink = 0;
    for (size_t at : ifd0) {
        uint16_t tag = Load16(bytes + at, bigEndian);
        uint16_t type = Load16(bytes + at + 2, bigEndian);
        if (tag == kTagOrientation) SetNumberInPlace(out, at, bigEndian, kTypeShort, 1);
        if (tag == kTagImageWidth) SetNumberInPlace(out, at, bigEndian, type, width);
        if (tag == kTagImageLength) SetNumberInPlace(out, at, bigEndian, type, height);
        if (tag == kTagExifDirectory && exifDirectory.empty() && Load32(bytes + at + 4, bigEndian) == 1)
            EntriesAt(exif, bigEndian, Load32(bytes + at + 8, bigEndian), exifDirectory, exifLink);
    }
    for (size_t at : exifDirectory) {
        uint16_t tag = Load16(bytes + at, bigEndian);
        uint16_t type = Load16(bytes + at + 2, bigEndian);
        if (tag == kTagPixelXDimension) SetNumberInPlace(out, at, bigEndian, type, width);
        if (tag == kTagPixelYDimension) SetNumberInPlace(out, at, bigEndian, type, height);
    }
    // The thumbnail shows the picture as it was; one that reaches past the EXIF would be read
    // from what follows it in the output. Its bytes stay, unread, where nothing points to them.
    TiffStructure parsed;
    bool thumbnailWhole = ParseTiff(exif, parsed) && !parsed.ifd1.entries.empty();
    if ((turned || !thumbnailWhole) && link + 4 <= out.size()) Store32(&out[link], 0, bigEndian);
    return out;
}

int ExifOrientation(const std::string& exif) {
    TiffStructure tiff;
    uint32_t orientation = 1;
    if (!ParseTiff(exif, tiff)) return 1;
    const TiffEntry* entry = FindTiffEntry(tiff.ifd0, kTagOrientation);
    if (!entry || entry->type != kTypeShort || !TiffEntryNumber(*entry, tiff.bigEndian, orientation))
        return 1;
    return orientation >= 1 && orientation <= 8 ? static_cast<int>(orientation) : 1;
}
