#include "exif_sample.h"

#include "container_bytes.h"

#include <algorithm>

std::string Order::U16(uint32_t v) const {
    std::string bytes;
    PutU16(bytes, v & 0xFFFF, bigEndian);
    return bytes;
}

std::string Order::U32(uint32_t v) const {
    std::string bytes;
    PutU32(bytes, v, bigEndian);
    return bytes;
}

std::string Order::Shorts(std::vector<uint32_t> values) const {
    std::string out;
    for (uint32_t v : values) out += U16(v);
    return out;
}

std::string Order::Rational(uint32_t numerator, uint32_t denominator) const {
    return U32(numerator) + U32(denominator);
}

namespace {

const std::map<uint16_t, std::string> kPointers = {
    {34665, "exif"}, {34853, "gps"}, {40965, "interop"}};

}  // namespace

const char kCameraMakerNote[] = "Nikon\0\2\0\0\0MM\0*\0\0\0\x08\0\1\0\1\0\2\0\0\0\4ab\0\0xyzw012345";
const char kCameraThumbnail[] =
    "\xFF\xD8\xFF\xDB\0\x43\0thumbnail-bytes-that-are-not-a-real-jpeg-but-opaque....\xFF\xD9";

Sample BuildSample(bool bigEndian, const std::vector<SampleDirectory>& directories,
                   const std::string& thumbnail) {
    Order o{bigEndian};
    Sample sample;
    sample.bytes = std::string(bigEndian ? "MM\0*" : "II*\0", 4) + o.U32(8);
    size_t at = 8;
    for (const SampleDirectory& d : directories) {
        sample.tableAt[d.name] = at;
        at += 2 + 12 * d.entries.size() + 4;
    }
    size_t dataAt = at;
    std::string data;
    std::string tables;
    for (const SampleDirectory& d : directories) {
        tables += o.U16(static_cast<uint32_t>(d.entries.size()));
        for (const SampleEntry& e : d.entries) {
            sample.entryAt[{d.name, e.tag}] = 8 + tables.size();
            tables += o.U16(e.tag) + o.U16(e.type) + o.U32(e.count);
            auto pointer = kPointers.find(e.tag);
            if (pointer != kPointers.end()) {
                tables += o.U32(static_cast<uint32_t>(sample.tableAt.at(pointer->second)));
            } else if (e.tag == 513 && d.name == "ifd1") {
                tables += "@@@@";  // the thumbnail's offset, once the values are laid out
            } else if (e.value.size() <= 4) {
                tables += e.value + std::string(4 - e.value.size(), '\0');
            } else {
                if (data.size() & 1) data += '\0';
                tables += o.U32(static_cast<uint32_t>(dataAt + data.size()));
                data += e.value;
            }
        }
        bool hasIfd1 = d.name == "ifd0" && sample.tableAt.count("ifd1");
        if (d.name == "ifd0") sample.ifd0LinkAt = 8 + tables.size();
        tables += o.U32(hasIfd1 ? static_cast<uint32_t>(sample.tableAt.at("ifd1")) : 0);
        if (d.name == "ifd0") sample.ifd0TableEnd = 8 + tables.size() - 4;
    }
    sample.bytes += tables + data;
    size_t thumbnailAt = sample.bytes.size();
    sample.bytes += thumbnail;
    size_t hole = sample.bytes.find("@@@@");
    if (hole != std::string::npos) sample.bytes.replace(hole, 4, o.U32(static_cast<uint32_t>(thumbnailAt)));
    return sample;
}

Sample CameraExif(bool bigEndian) {
    Order o{bigEndian};
    std::string makerNote(kCameraMakerNote, 40);
    std::string thumbnail(kCameraThumbnail, 64);
    std::vector<SampleDirectory> directories = {
        {"ifd0",
         {{271, 2, 13, std::string("Vorandel Cam\0", 13)},
          {272, 2, 5, std::string("VX-1\0", 5)},
          {256, 4, 1, o.U32(4000)},
          {257, 3, 1, o.U16(3000)},
          {274, 3, 1, o.U16(6)},
          {282, 5, 1, o.Rational(300, 1)},
          {283, 5, 1, o.Rational(300, 1)},
          {296, 3, 1, o.U16(2)},
          {306, 2, 20, std::string("2024:05:06 07:08:09\0", 20)},
          {34665, 4, 1, ""},
          {34853, 4, 1, ""}}},
        {"exif",
         {{33434, 5, 1, o.Rational(1, 250)},
          {36867, 2, 20, std::string("2024:05:06 07:08:09\0", 20)},
          {37377, 10, 1, o.Rational(0xFFFFFFF8, 1)},  // SRATIONAL -8/1
          {37500, 7, 40, makerNote},
          {37386, 5, 1, o.Rational(50, 1)},
          {40962, 3, 1, o.U16(4000)},
          {40963, 4, 1, o.U32(3000)},
          {40965, 4, 1, ""},
          {41728, 7, 1, std::string("\3", 1)},
          {0xC000, 12, 1, bigEndian ? std::string("\x40\x09\x21\xFB\x54\x44\x2D\x18", 8)
                                    : std::string("\x18\x2D\x44\x54\xFB\x21\x09\x40", 8)},
          {0xC001, 8, 2, o.Shorts({0xFFFE, 7})},
          {0xC002, 11, 1, o.U32(0x3FC00000)}}},  // FLOAT 1.5
        {"gps",
         {{0, 1, 4, std::string("\2\3\0\0", 4)},
          {1, 2, 2, std::string("N\0", 2)},
          {2, 5, 3, o.Rational(48, 1) + o.Rational(51, 1) + o.Rational(2400, 100)},
          {29, 2, 11, std::string("2024:05:06\0", 11)}}},
        {"interop", {{1, 2, 4, std::string("R98\0", 4)}, {2, 7, 4, "0100"}}},
        {"ifd1",
         {{259, 3, 1, o.U16(6)},
          {513, 4, 1, ""},
          {514, 4, 1, o.U32(64)}}},
    };
    return BuildSample(bigEndian, directories, thumbnail);
}

void Patch16(Sample& sample, size_t at, uint32_t value, bool bigEndian) {
    sample.bytes.replace(at, 2, Order{bigEndian}.U16(value));
}

void Patch32(Sample& sample, size_t at, uint32_t value, bool bigEndian) {
    sample.bytes.replace(at, 4, Order{bigEndian}.U32(value));
}

static_assert(sizeof kCameraMakerNote > 40, "the MakerNote sample is 40 bytes");
static_assert(sizeof kCameraThumbnail > 64, "the thumbnail sample is 64 bytes");

const TiffDirectory* Sub(const TiffDirectory& directory, uint16_t tag) {
    for (const TiffDirectory& sub : directory.subDirectories)
        if (sub.tag == tag) return &sub;
    return nullptr;
}

std::string Value(const TiffDirectory& directory, uint16_t tag) {
    const TiffEntry* entry = FindTiffEntry(directory, tag);
    return entry ? entry->value : "<none>";
}

std::string Number(const TiffDirectory& directory, uint16_t tag, bool bigEndian) {
    const TiffEntry* entry = FindTiffEntry(directory, tag);
    uint32_t number = 0;
    if (!entry || !TiffEntryNumber(*entry, bigEndian, number)) return "none";
    return (entry->type == kTypeShort ? "SHORT " : "LONG ") + std::to_string(number);
}
