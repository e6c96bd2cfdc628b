#include "exif_edit.h"

#include "tiff_structure.h"

#include <algorithm>
#include <iterator>

namespace {

// Sets an entry that is present to number, widening a SHORT that cannot hold it.
void SetNumber(TiffDirectory& directory, uint16_t tag, uint32_t number, bool bigEndian) {
    TiffEntry* entry = FindTiffEntry(directory, tag);
    if (!entry) return;
    uint16_t type = entry->type == kTypeShort && number <= 0xFFFF ? kTypeShort : kTypeLong;
    *entry = TiffNumberEntry(tag, type, number, bigEndian);
}

// Entries whose values are offsets into the data point nowhere once it is written afresh.
bool HoldsOffsets(uint16_t tag) {
    static const uint16_t kOffsetTags[] = {273, 279, 288, 289, 324, 325, 330, 513, 514};
    return std::find(std::begin(kOffsetTags), std::end(kOffsetTags), tag) != std::end(kOffsetTags);
}

}  // namespace

std::string ExifForOutput(const std::string& exif, uint32_t width, uint32_t height) {
    TiffStructure tiff;
    if (!ParseTiff(exif, tiff)) return "";
    TiffDirectory& ifd0 = tiff.ifd0;
    ifd0.entries.erase(std::remove_if(ifd0.entries.begin(), ifd0.entries.end(),
                                      [](const TiffEntry& entry) { return HoldsOffsets(entry.tag); }),
                       ifd0.entries.end());
    if (TiffEntry* orientation = FindTiffEntry(ifd0, kTagOrientation))
        *orientation = TiffNumberEntry(kTagOrientation, kTypeShort, 1, tiff.bigEndian);
    SetNumber(ifd0, kTagImageWidth, width, tiff.bigEndian);
    SetNumber(ifd0, kTagImageLength, height, tiff.bigEndian);
    for (TiffDirectory& sub : ifd0.subDirectories) {
        if (sub.tag != kTagExifDirectory) continue;
        SetNumber(sub, kTagPixelXDimension, width, tiff.bigEndian);
        SetNumber(sub, kTagPixelYDimension, height, tiff.bigEndian);
    }
    tiff.ifd1 = TiffDirectory();
    tiff.thumbnail.clear();
    return SerializeTiff(tiff);
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
