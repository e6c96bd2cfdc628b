#include "exif_edit.h"
#include "tiff_metadata.h"
#include "tiff_structure.h"

#include "exif_sample.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

std::string DirectoryName(uint16_t tag) {
    return tag == kTagExifDirectory ? "exif" : tag == kTagGpsDirectory ? "gps" : "interop";
}

// Every entry and directory of a structure by its path, so that two can be compared whole.
void Flatten(const TiffDirectory& directory, const std::string& path,
             std::map<std::string, std::string>& out) {
    out[path] = "";
    for (const TiffEntry& e : directory.entries)
        out[path + ":" + std::to_string(e.tag)] =
            std::to_string(e.type) + "," + std::to_string(e.count) + ":" + e.value;
    for (const TiffDirectory& sub : directory.subDirectories)
        Flatten(sub, path + "/" + DirectoryName(sub.tag), out);
}

std::map<std::string, std::string> Flatten(const TiffStructure& tiff) {
    std::map<std::string, std::string> out;
    Flatten(tiff.ifd0, "ifd0", out);
    if (!tiff.ifd1.entries.empty()) Flatten(tiff.ifd1, "ifd1", out);
    for (size_t i = 0; i < tiff.thumbnail.size(); ++i)
        out["thumbnail" + std::to_string(i)] = tiff.thumbnail[i];
    return out;
}

std::map<std::string, std::string> Flatten(const TiffDirectory& directory, const std::string& name) {
    std::map<std::string, std::string> out;
    Flatten(directory, name, out);
    return out;
}

TiffStructure Parsed(const std::string& bytes) {
    TiffStructure tiff;
    EXPECT_TRUE(ParseTiff(bytes, tiff));
    return tiff;
}

uint32_t Load32(const std::string& bytes, size_t at, bool bigEndian) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t byte = static_cast<uint8_t>(bytes.at(at + (bigEndian ? i : 3 - i)));
        v = v << 8 | byte;
    }
    return v;
}

uint16_t Load16(const std::string& bytes, size_t at, bool bigEndian) {
    uint8_t a = static_cast<uint8_t>(bytes.at(at)), b = static_cast<uint8_t>(bytes.at(at + 1));
    return static_cast<uint16_t>(bigEndian ? a << 8 | b : b << 8 | a);
}

// The tags of the directory table at offset, as written; every offset met must be even.
std::vector<uint16_t> RawTags(const std::string& bytes, size_t table, bool bigEndian) {
    EXPECT_EQ(table % 2, 0u);
    std::vector<uint16_t> tags;
    for (size_t i = 0, n = Load16(bytes, table, bigEndian); i < n; ++i) {
        size_t at = table + 2 + i * 12;
        tags.push_back(Load16(bytes, at, bigEndian));
        uint64_t length = uint64_t{Load32(bytes, at + 4, bigEndian)} *
                          TiffTypeSize(Load16(bytes, at + 2, bigEndian));
        if (length > 4) {
            EXPECT_EQ(Load32(bytes, at + 8, bigEndian) % 2, 0u) << tags.back();
        }
    }
    return tags;
}

std::string Str(const char* bytes, size_t n) { return std::string(bytes, n); }

TEST(ParseTiff, ReadsEveryDirectoryOfACamerasExifInBothByteOrders) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        Order o{big};
        TiffStructure tiff = Parsed(CameraExif(big).bytes);
        const TiffDirectory* exif = Sub(tiff.ifd0, kTagExifDirectory);
        const TiffDirectory* gps = Sub(tiff.ifd0, kTagGpsDirectory);
        const TiffDirectory* interop = exif ? Sub(*exif, kTagInteroperabilityDirectory) : nullptr;
        ASSERT_TRUE(exif && gps && interop);
        EXPECT_EQ(tiff.bigEndian, big);
        EXPECT_EQ(tiff.ifd0.entries.size(), 9u);  // its pointers are sub-directories instead
        EXPECT_EQ(Value(tiff.ifd0, 271), Str("Vorandel Cam\0", 13));
        EXPECT_EQ(Number(tiff.ifd0, kTagOrientation, big), "SHORT 6");
        EXPECT_EQ(Number(tiff.ifd0, kTagImageWidth, big), "LONG 4000");
        EXPECT_EQ(Value(tiff.ifd0, 282), o.Rational(300, 1));
        EXPECT_EQ(exif->entries.size(), 11u);
        EXPECT_EQ(Value(*exif, 37500), Str(kCameraMakerNote, 40));
        EXPECT_EQ(Value(*exif, 37377), o.Rational(0xFFFFFFF8, 1));
        EXPECT_EQ(Value(*gps, 2), o.Rational(48, 1) + o.Rational(51, 1) + o.Rational(2400, 100));
        EXPECT_EQ(Value(*gps, 0), Str("\2\3\0\0", 4));
        EXPECT_EQ(Value(*interop, 1), Str("R98\0", 4));
        EXPECT_EQ(tiff.ifd1.entries.size(), 3u);
        ASSERT_EQ(tiff.thumbnail.size(), 1u);
        EXPECT_EQ(tiff.thumbnail[0], Str(kCameraThumbnail, 64));
    }
}

TEST(SerializeTiff, WritesWhatItReadSortedAndAlignedAndIsAFixedPoint) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        TiffStructure tiff = Parsed(CameraExif(big).bytes);
        std::string written = SerializeTiff(tiff);
        TiffStructure again = Parsed(written);
        std::map<std::string, std::string> before = Flatten(tiff), after = Flatten(again);
        EXPECT_NE(before.at("ifd1:513"), after.at("ifd1:513"));  // where the thumbnail went
        before.erase("ifd1:513");
        after.erase("ifd1:513");
        EXPECT_EQ(after, before);
        EXPECT_EQ(SerializeTiff(again), written);

        // Directories in the order IFD0, its values, EXIF (with Interoperability), GPS, then
        // the thumbnail and IFD1; every table sorted.
        std::vector<uint16_t> ifd0 = RawTags(written, 8, big);
        EXPECT_TRUE(std::is_sorted(ifd0.begin(), ifd0.end()));
        EXPECT_EQ(ifd0.size(), 11u);
        size_t exifTable = Load32(written, 8 + 2 + 12 * 9 + 8, big);  // 34665 is the tenth
        std::vector<uint16_t> exif = RawTags(written, exifTable, big);
        EXPECT_TRUE(std::is_sorted(exif.begin(), exif.end()));
        EXPECT_EQ(exif.size(), 12u);
        size_t ifd1Table = Load32(written, 8 + 2 + 12 * 11, big);
        std::vector<uint16_t> ifd1 = RawTags(written, ifd1Table, big);
        EXPECT_EQ(ifd1, (std::vector<uint16_t>{259, 513, 514}));
        size_t thumbnailAt = Load32(written, ifd1Table + 2 + 12 + 8, big);
        EXPECT_EQ(written.substr(thumbnailAt, 64), Str(kCameraThumbnail, 64));
    }
}

TEST(SwapTiffByteOrder, TurnsABigEndianStructureIntoTheLittleEndianOneAndBack) {
    TiffStructure little = Parsed(CameraExif(false).bytes);
    TiffStructure big = Parsed(CameraExif(true).bytes);
    TiffStructure turned = big;
    SwapTiffByteOrder(turned.ifd0);
    SwapTiffByteOrder(turned.ifd1);
    turned.bigEndian = false;
    EXPECT_EQ(SerializeTiff(turned), SerializeTiff(little));
    // ASCII, BYTE and UNDEFINED stay as they are: the MakerNote among them.
    EXPECT_EQ(Value(*Sub(turned.ifd0, kTagExifDirectory), 37500), Str(kCameraMakerNote, 40));
    SwapTiffByteOrder(turned.ifd0);
    SwapTiffByteOrder(turned.ifd1);
    turned.bigEndian = true;
    EXPECT_EQ(SerializeTiff(turned), SerializeTiff(big));
}

TEST(ParseTiff, EveryCutReadsWhatLiesBeforeItAndNothingElse) {
    for (bool big : {false, true}) {
        Sample sample = CameraExif(big);
        std::map<std::string, std::string> whole = Flatten(Parsed(sample.bytes));
        for (size_t cut = 0; cut <= sample.bytes.size(); ++cut) {
            SCOPED_TRACE((big ? "MM cut at " : "II cut at ") + std::to_string(cut));
            TiffStructure tiff;
            bool parsed = ParseTiff(sample.bytes.substr(0, cut), tiff);
            ASSERT_EQ(parsed, cut >= sample.ifd0TableEnd);
            if (!parsed) continue;
            for (const auto& [key, value] : Flatten(tiff)) EXPECT_EQ(whole.at(key), value) << key;
            // The thumbnail comes last, so any cut loses it with its directory.
            EXPECT_EQ(tiff.ifd1.entries.empty(), cut < sample.bytes.size());
            TiffStructure again;
            EXPECT_TRUE(ParseTiff(SerializeTiff(tiff), again));
        }
    }
}

struct Damage {
    const char* what;
    bool bigEndian;
    std::function<void(Sample&, bool)> damage;
    bool parses;
    std::vector<std::string> lost;  // paths of entries or directories (with all inside) left out
};

TEST(ParseTiff, LeavesOutEachDamagedPieceAlone) {
    auto at = [](const Sample& s, const char* directory, uint16_t tag) {
        return s.entryAt.at({directory, tag});
    };
    const Damage cases[] = {
        {"MakerNote count overlong", false,
         [&](Sample& s, bool b) { Patch32(s, at(s, "exif", 37500) + 4, 0xFFFFFFFF, b); }, true,
         {"ifd0/exif:37500"}},
        {"MakerNote count overlong, MM", true,
         [&](Sample& s, bool b) { Patch32(s, at(s, "exif", 37500) + 4, 0x7FFFFFFF, b); }, true,
         {"ifd0/exif:37500"}},
        {"rational count whose size wraps 32 bits", false,
         [&](Sample& s, bool b) { Patch32(s, at(s, "exif", 33434) + 4, 0x20000001, b); }, true,
         {"ifd0/exif:33434"}},
        {"value just past the end", false,
         [&](Sample& s, bool b) {
             Patch32(s, at(s, "ifd0", 272) + 8, static_cast<uint32_t>(s.bytes.size() - 4), b);
         },
         true, {"ifd0:272"}},
        {"value at the last offset", true,
         [&](Sample& s, bool b) { Patch32(s, at(s, "ifd0", 306) + 8, 0xFFFFFFFF, b); }, true,
         {"ifd0:306"}},
        {"unknown type", false, [&](Sample& s, bool b) { Patch16(s, at(s, "ifd0", 296) + 2, 99, b); },
         true, {"ifd0:296"}},
        {"second entry of one tag", false,
         [&](Sample& s, bool b) { Patch16(s, at(s, "ifd0", 272), 271, b); }, true, {"ifd0:272"}},
        {"absurd entry count in IFD0", false,
         [&](Sample& s, bool b) { Patch16(s, s.tableAt.at("ifd0"), 0xFFFF, b); }, false, {}},
        {"absurd entry count in EXIF", true,
         [&](Sample& s, bool b) { Patch16(s, s.tableAt.at("exif"), 0xFFFF, b); }, true,
         {"ifd0/exif"}},
        {"Interoperability points back at EXIF", false,
         [&](Sample& s, bool b) {
             Patch32(s, at(s, "exif", 40965) + 8, static_cast<uint32_t>(s.tableAt.at("exif")), b);
         },
         true, {"ifd0/exif/interop"}},
        {"EXIF points at IFD0", true, [&](Sample& s, bool b) { Patch32(s, at(s, "ifd0", 34665) + 8, 8, b); },
         true, {"ifd0/exif"}},
        {"GPS points at EXIF", false,
         [&](Sample& s, bool b) {
             Patch32(s, at(s, "ifd0", 34853) + 8, static_cast<uint32_t>(s.tableAt.at("exif")), b);
         },
         true, {"ifd0/gps"}},
        {"GPS past the end", false,
         [&](Sample& s, bool b) { Patch32(s, at(s, "ifd0", 34853) + 8, 0xFFFFFFF0, b); }, true,
         {"ifd0/gps"}},
        {"GPS pointer of two values", false,
         [&](Sample& s, bool b) { Patch32(s, at(s, "ifd0", 34853) + 4, 2, b); }, true, {"ifd0/gps"}},
        {"GPS pointer a SHORT", true,
         [&](Sample& s, bool b) { Patch16(s, at(s, "ifd0", 34853) + 2, 3, b); }, true, {"ifd0/gps"}},
        {"EXIF pointer inside GPS", false,
         [&](Sample& s, bool b) { Patch16(s, at(s, "gps", 29), 34665, b); }, true, {"ifd0/gps:29"}},
        {"IFD1 links back to IFD0", false, [&](Sample& s, bool b) { Patch32(s, s.ifd0LinkAt, 8, b); },
         true, {"ifd1", "thumbnail0"}},
        {"IFD1 past the end", true, [&](Sample& s, bool b) { Patch32(s, s.ifd0LinkAt, 0xFFFFFF00, b); },
         true, {"ifd1", "thumbnail0"}},
        {"thumbnail past the end", false,
         [&](Sample& s, bool b) {
             Patch32(s, at(s, "ifd1", 513) + 8, static_cast<uint32_t>(s.bytes.size() - 10), b);
         },
         true, {"ifd1", "thumbnail0"}},
        {"thumbnail length overlong", true,
         [&](Sample& s, bool b) { Patch32(s, at(s, "ifd1", 514) + 8, 0xFFFFFFFF, b); }, true,
         {"ifd1", "thumbnail0"}},
        {"IFD0 past the end", false, [&](Sample& s, bool b) { Patch32(s, 4, 0xFFFFFFF0, b); }, false, {}},
        {"not a TIFF header", false, [&](Sample& s, bool) { s.bytes[0] = 'X'; }, false, {}},
        {"BigTIFF header", false, [&](Sample& s, bool) { s.bytes[2] = '+'; }, false, {}},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        Sample sample = CameraExif(c.bigEndian);
        std::map<std::string, std::string> expected = Flatten(Parsed(sample.bytes));
        c.damage(sample, c.bigEndian);
        TiffStructure tiff;
        ASSERT_EQ(ParseTiff(sample.bytes, tiff), c.parses);
        if (!c.parses) continue;
        for (const std::string& lost : c.lost)
            for (auto it = expected.begin(); it != expected.end();)
                it = it->first.compare(0, lost.size(), lost) == 0 ? expected.erase(it) : std::next(it);
        EXPECT_EQ(Flatten(tiff), expected);
    }
}

TEST(ParseTiff, ValuesSharedBeyondTheDataSizeAreLeftOut) {
    // A hostile structure: 200 entries all pointing at one value of 64 KiB.
    std::vector<SampleEntry> entries;
    for (uint16_t tag = 1000; tag < 1200; ++tag) entries.push_back({tag, 7, 65536, std::string(65536, 'v')});
    Sample sample = BuildSample(false, {{"ifd0", entries}});
    uint32_t first = Load32(sample.bytes, sample.entryAt.at({"ifd0", 1000}) + 8, false);
    for (uint16_t tag = 1001; tag < 1200; ++tag) Patch32(sample, sample.entryAt.at({"ifd0", tag}) + 8, first, false);
    sample.bytes.resize(first + 65536);
    TiffStructure tiff = Parsed(sample.bytes);
    EXPECT_EQ(tiff.ifd0.entries.size(), 1u);
}

TEST(ParseTiff, AFullDirectoryIsReadAndWrittenWhole) {
    // Every tag but the three pointers, two of them twice: as many entries as a table holds.
    std::vector<SampleEntry> entries;
    for (uint32_t tag = 0; tag <= 0xFFFF; ++tag)
        if (tag != kTagExifDirectory && tag != kTagGpsDirectory && tag != kTagInteroperabilityDirectory)
            entries.push_back({static_cast<uint16_t>(tag), 3, 1, Order{true}.U16(tag)});
    entries.push_back(entries[0]);
    entries.push_back(entries[1]);
    ASSERT_EQ(entries.size(), 0xFFFFu);
    TiffStructure tiff = Parsed(BuildSample(true, {{"ifd0", entries}}).bytes);
    EXPECT_EQ(tiff.ifd0.entries.size(), 0xFFFFu - 2);
    EXPECT_EQ(Flatten(Parsed(SerializeTiff(tiff))), Flatten(tiff));
}

TEST(ParseTiff, ReadsAThumbnailInStripsUpToItsBound) {
    for (uint32_t strips : {2u, 1024u, 1025u}) {
        SCOPED_TRACE(strips);
        Order o{true};
        auto build = [&](uint32_t dataAt) {
            std::string offsets, lengths;
            for (uint32_t i = 0; i < strips; ++i) {
                offsets += o.U32(dataAt + 2 * i);
                lengths += o.U16(2);
            }
            return BuildSample(true, {{"ifd0", {{274, 3, 1, o.U16(1)}}},
                                      {"ifd1", {{273, 4, strips, offsets}, {279, 3, strips, lengths}}}});
        };
        Sample sample = build(static_cast<uint32_t>(build(0).bytes.size()));
        for (uint32_t i = 0; i < strips; ++i) sample.bytes += o.U16(i);
        TiffStructure tiff = Parsed(sample.bytes);
        if (strips > 1024) {
            EXPECT_TRUE(tiff.ifd1.entries.empty());
            continue;
        }
        ASSERT_EQ(tiff.thumbnail.size(), strips);
        EXPECT_EQ(tiff.thumbnail.back(), o.U16(strips - 1));
        TiffStructure again = Parsed(SerializeTiff(tiff));
        EXPECT_EQ(again.thumbnail, tiff.thumbnail);
        EXPECT_EQ(Value(again.ifd1, 279), Value(tiff.ifd1, 279));
    }
}

std::vector<uint16_t> Tags(const TiffDirectory& directory);

// IFD1 as the parser may hold it, its offsets those of the structure it came from.
TEST(SerializeTiff, WritesAThumbnailItReadsBack) {
    Order o{false};
    const std::string a = "JPEG-A", b = "JPEG-BB";
    struct Row {
        const char* name;
        std::vector<TiffEntry> ifd1;
        std::vector<std::string> blocks;
        std::vector<uint16_t> tags;  // IFD1's tags as written
    };
    const Row rows[] = {
        {"a JPEG in two pieces",
         {{513, 4, 2, o.U32(900) + o.U32(906)}, {514, 4, 2, o.U32(6) + o.U32(7)}}, {a, b}, {513, 514}},
        {"strips beside a JPEG offset without its length",
         {{273, 3, 2, o.Shorts({900, 906})}, {279, 3, 2, o.Shorts({6, 7})}, {513, 4, 1, o.U32(900)}},
         {a, b}, {273, 279}},
        {"a JPEG beside strips",
         {{273, 4, 1, o.U32(906)}, {279, 4, 1, o.U32(7)}, {513, 4, 1, o.U32(900)},
          {514, 4, 1, o.U32(6)}},
         {a}, {513, 514}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TiffStructure tiff;
        tiff.ifd0.entries = {{305, 2, 4, Str("abc\0", 4)}};
        tiff.ifd1.entries = row.ifd1;
        tiff.thumbnail = row.blocks;
        std::string written = SerializeTiff(tiff);
        TiffStructure again = Parsed(written);
        EXPECT_EQ(again.thumbnail, row.blocks);
        EXPECT_EQ(Tags(again.ifd1), row.tags);
        EXPECT_EQ(SerializeTiff(again), written);
    }
}

// A two-page TIFF file: a first directory laying out 2 x 2 pixels and describing them, with
// its own ICC profile, XMP, EXIF and GPS directories; and a second page.
Sample TiffFile(bool big, const std::string& icc = "old profile", const std::string& xmp = "<old/>") {
    Order o{big};
    return BuildSample(
        big, {{"ifd0",
               {{256, 3, 1, o.U16(2)},
                {257, 3, 1, o.U16(2)},
                {258, 3, 3, o.Shorts({8, 8, 8})},
                {259, 3, 1, o.U16(1)},
                {262, 3, 1, o.U16(2)},
                {271, 2, 6, Str("Maker\0", 6)},
                {273, 4, 1, o.U32(8)},
                {277, 3, 1, o.U16(3)},
                {278, 3, 1, o.U16(2)},
                {279, 4, 1, o.U32(12)},
                {282, 5, 1, o.Rational(72, 1)},
                {305, 2, 5, Str("Tool\0", 5)},
                {700, 1, static_cast<uint32_t>(xmp.size()), xmp},
                {34665, 4, 1, ""},
                {34853, 4, 1, ""},
                {34675, 7, static_cast<uint32_t>(icc.size()), icc}}},
              {"exif", {{36867, 2, 20, Str("2020:01:02 03:04:05\0", 20)}}},
              {"gps", {{1, 2, 2, Str("S\0", 2)}}},
              {"ifd1", {{256, 3, 1, o.U16(1)}}}});
}

std::vector<uint16_t> Tags(const TiffDirectory& directory) {
    std::vector<uint16_t> tags;
    for (const TiffEntry& e : directory.entries) tags.push_back(e.tag);
    for (const TiffDirectory& sub : directory.subDirectories) tags.push_back(sub.tag);
    std::sort(tags.begin(), tags.end());
    return tags;
}

struct FileDamage {
    const char* what;
    bool bigEndian;
    size_t iccBytes;
    std::function<void(Sample&, bool)> damage;
    bool icc, xmp;
    std::vector<uint16_t> exifTags;  // those of the EXIF's IFD0 with its sub-directories
};

TEST(ReadTiffMetadata, TakesEachPieceOfTheFirstDirectoryOnItsOwn) {
    auto at = [](const Sample& s, const char* directory, uint16_t tag) {
        return s.entryAt.at({directory, tag});
    };
    const std::vector<uint16_t> all = {271, 282, 305, 34665, 34853};
    const FileDamage cases[] = {
        {"whole", false, 700, [](Sample&, bool) {}, true, true, all},
        {"whole, MM", true, 700, [](Sample&, bool) {}, true, true, all},
        {"ICC at its bound", false, kMaxIccBytes, [](Sample&, bool) {}, true, true, all},
        {"ICC over its bound", false, kMaxIccBytes + 1, [](Sample&, bool) {}, false, true, all},
        {"ICC count overlong", true, 700,
         [&](Sample& s, bool b) { Patch32(s, at(s, "ifd0", 34675) + 4, 0x10000000, b); }, false, true, all},
        {"XMP a SHORT", false, 700, [&](Sample& s, bool b) { Patch16(s, at(s, "ifd0", 700) + 2, 3, b); },
         true, false, all},
        {"EXIF directory looping to the first", false, 700,
         [&](Sample& s, bool b) { Patch32(s, at(s, "ifd0", 34665) + 8, 8, b); }, true, true,
         {271, 282, 305, 34853}},
        {"not a TIFF", false, 700, [](Sample& s, bool) { s.bytes[1] = 'M'; }, false, false, {}},
    };
    for (const FileDamage& c : cases) {
        SCOPED_TRACE(c.what);
        std::string icc(c.iccBytes, 'p');
        Sample file = TiffFile(c.bigEndian, icc, "<x:xmpmeta/>");
        c.damage(file, c.bigEndian);
        PhotoMetadata metadata =
            ReadTiffMetadata(reinterpret_cast<const uint8_t*>(file.bytes.data()), file.bytes.size());
        EXPECT_EQ(metadata.icc, c.icc ? icc : "");
        EXPECT_EQ(metadata.xmp, c.xmp ? "<x:xmpmeta/>" : "");
        if (c.exifTags.empty()) {
            EXPECT_EQ(metadata.exif, "");
            continue;
        }
        TiffStructure exif = Parsed(metadata.exif);
        EXPECT_EQ(exif.bigEndian, c.bigEndian);
        EXPECT_EQ(Tags(exif.ifd0), c.exifTags);
        EXPECT_EQ(Value(exif.ifd0, 271), Str("Maker\0", 6));
        if (const TiffDirectory* sub = Sub(exif.ifd0, kTagExifDirectory)) {
            EXPECT_EQ(Value(*sub, 36867), Str("2020:01:02 03:04:05\0", 20));
        }
    }
}

std::vector<uint8_t> Vec(const std::string& bytes) { return {bytes.begin(), bytes.end()}; }

// The tags of a file's first directory as written, each checked to appear once.
std::vector<uint16_t> FirstDirectoryTags(const std::vector<uint8_t>& file) {
    std::string bytes(file.begin(), file.end());
    bool big = bytes[0] == 'M';
    std::vector<uint16_t> tags = RawTags(bytes, Load32(bytes, 4, big), big);
    EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end()));
    EXPECT_EQ(std::adjacent_find(tags.begin(), tags.end()), tags.end());
    return tags;
}

// What a TIFF file gives back as EXIF holds the given EXIF's descriptive tags and its EXIF and
// GPS directories whole, in the file's byte order.
void ExpectCarried(const std::string& back, const std::string& given) {
    TiffStructure exif = Parsed(back), expected = Parsed(given);
    if (exif.bigEndian != expected.bigEndian) SwapTiffByteOrder(expected.ifd0);
    for (const TiffEntry& entry : expected.ifd0.entries) {
        if (!IsTiffLayoutTag(entry.tag)) {
            EXPECT_EQ(Value(exif.ifd0, entry.tag), entry.value) << entry.tag;
        }
    }
    for (uint16_t tag : {kTagExifDirectory, kTagGpsDirectory}) {
        ASSERT_TRUE(Sub(exif.ifd0, tag) && Sub(expected.ifd0, tag)) << tag;
        std::map<std::string, std::string> want = Flatten(*Sub(expected.ifd0, tag), "sub");
        want.erase("sub:37500");  // the maker note is left out whole
        EXPECT_EQ(Flatten(*Sub(exif.ifd0, tag), "sub"), want);
    }
}

TEST(WriteTiffMetadata, MergesIntoTheFirstDirectoryInEitherByteOrderWithoutMovingTheImage) {
    for (bool fileBig : {false, true}) {
        for (bool exifBig : {false, true}) {
            SCOPED_TRACE(std::string(fileBig ? "MM" : "II") + " file, " + (exifBig ? "MM" : "II") + " EXIF");
            Sample sample = TiffFile(fileBig);
            PhotoMetadata given{std::string(300, 'i'), ExifForOutput(CameraExif(exifBig).bytes, 40, 30, true),
                                "<x:xmpmeta>new</x:xmpmeta>"};
            std::vector<uint8_t> file = Vec(sample.bytes);
            ASSERT_TRUE(WriteTiffMetadata(file, given));

            size_t end = sample.bytes.size() + (sample.bytes.size() & 1);
            std::string written(file.begin(), file.end());
            EXPECT_EQ(Load32(written, 4, fileBig), end);
            EXPECT_EQ(written.substr(8, sample.bytes.size() - 8), sample.bytes.substr(8));
            std::vector<uint16_t> tags = FirstDirectoryTags(file);
            for (uint16_t tag : {700, 34665, 34675, 34853})
                EXPECT_NE(std::find(tags.begin(), tags.end(), tag), tags.end()) << tag;

            TiffFirstDirectory first;
            ASSERT_TRUE(ReadTiffFirstDirectory(file.data(), file.size(), first));
            EXPECT_EQ(first.next, sample.tableAt.at("ifd1"));
            const TiffDirectory& d = first.directory;
            EXPECT_EQ(Number(d, kTagImageWidth, fileBig), "SHORT 2");  // the image's own, not the EXIF's
            EXPECT_EQ(Value(d, 273), Order{fileBig}.U32(8));
            EXPECT_EQ(Value(d, 271), Str("Vorandel Cam\0", 13));  // the photo's over the file's
            EXPECT_EQ(Value(d, 282), Order{fileBig}.Rational(300, 1));
            EXPECT_EQ(Value(d, 305), Str("Tool\0", 5));  // the file's where the photo has none
            EXPECT_EQ(Number(d, kTagOrientation, fileBig), "SHORT 1");

            PhotoMetadata back = ReadTiffMetadata(file.data(), file.size());
            EXPECT_EQ(back.icc, given.icc);
            EXPECT_EQ(back.xmp, given.xmp);
            ExpectCarried(back.exif, given.exif);

            // Writing again replaces what the first writing added.
            std::vector<uint8_t> twice = file;
            ASSERT_TRUE(WriteTiffMetadata(twice, given));
            EXPECT_EQ(FirstDirectoryTags(twice), tags);
            EXPECT_EQ(ReadTiffMetadata(twice.data(), twice.size()).exif, back.exif);
        }
    }
}

TEST(WriteTiffMetadata, KeepsTheFilesOwnPiecesWhereNoneIsGiven) {
    Sample sample = TiffFile(true);
    std::vector<uint8_t> file = Vec(sample.bytes);
    ASSERT_TRUE(WriteTiffMetadata(file, PhotoMetadata{}));
    EXPECT_EQ(ReadTiffMetadata(file.data(), file.size()).icc, "old profile");
    std::vector<uint8_t> damagedExif = Vec(sample.bytes);
    ASSERT_TRUE(WriteTiffMetadata(damagedExif, PhotoMetadata{"", "II*\0garbage", "<new/>"}));
    PhotoMetadata before = ReadTiffMetadata(Vec(sample.bytes).data(), sample.bytes.size());
    PhotoMetadata after = ReadTiffMetadata(damagedExif.data(), damagedExif.size());
    EXPECT_EQ(after.exif, before.exif);
    EXPECT_EQ(after.icc, "old profile");
    EXPECT_EQ(after.xmp, "<new/>");
}

TEST(WriteTiffMetadata, LeavesWhatIsNotAReadableTiffUnchanged) {
    Sample sample = TiffFile(false);
    Sample absurd = sample;
    Patch16(absurd, absurd.tableAt.at("ifd0"), 0xFFFF, false);
    const std::pair<const char*, std::string> cases[] = {
        {"nothing", ""},
        {"a header alone", Str("II*\0\x08\0\0\0", 8)},
        {"a PNG", Str("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
        {"cut in its first directory", sample.bytes.substr(0, sample.ifd0TableEnd - 1)},
        {"an absurd entry count", absurd.bytes},
    };
    PhotoMetadata given{"icc", CameraExif(false).bytes, "<x/>"};
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        std::vector<uint8_t> file = Vec(bytes);
        EXPECT_FALSE(WriteTiffMetadata(file, given));
        EXPECT_EQ(file, Vec(bytes));
    }
}

// The value of a property as GDI+ reads it from the file.
std::string GdiplusProperty(const std::wstring& path, PROPID id) {
    GpImage* loaded = nullptr;
    if (GdipLoadImageFromFile(path.c_str(), &loaded) != Ok) return "<not loaded>";
    ImagePtr image(loaded);
    UINT size = 0;
    if (GdipGetPropertyItemSize(image.get(), id, &size) != Ok || size < sizeof(PropertyItem)) return "<none>";
    std::vector<uint64_t> buffer(size / 8 + 1);
    PropertyItem* item = reinterpret_cast<PropertyItem*>(buffer.data());
    if (GdipGetPropertyItem(image.get(), id, size, item) != Ok) return "<none>";
    return std::string(static_cast<const char*>(item->value), item->length);
}

TEST(WriteTiffMetadata, GdiplusTiffStillDecodesToTheSamePixelsAndGivesItsMetadataBack) {
    TempDir dir;
    SaveTestImage(dir / L"plain.tiff", L"image/tiff", 16, 12);
    std::string plain = ReadBytes(dir / L"plain.tiff");
    Pixels before = DecodePixels(dir / L"plain.tiff");
    ASSERT_FALSE(before.argb.empty());

    std::string icc(132, '\0');  // a profile's header and an empty tag table
    icc.replace(0, 4, Str("\0\0\0\x84", 4));
    icc.replace(12, 12, "mntrRGB XYZ ");
    icc.replace(36, 4, "acsp");
    PhotoMetadata given{icc, ExifForOutput(CameraExif(true).bytes, 16, 12, true),
                        "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>"};
    std::vector<uint8_t> file = Vec(plain);
    ASSERT_TRUE(WriteTiffMetadata(file, given));
    WriteBytes(dir / L"rich.tiff", std::string(file.begin(), file.end()));
    Pixels after = DecodePixels(dir / L"rich.tiff");
    EXPECT_EQ(after.size, before.size);
    EXPECT_EQ(after.argb, before.argb);
    // Wine's GDI+ reads the first directory's tags of a TIFF but not its EXIF directory's.
    EXPECT_EQ(GdiplusProperty(dir / L"rich.tiff", PropertyTagEquipMake), Str("Vorandel Cam\0", 13));

    FirstDirectoryTags(file);
    PhotoMetadata back = ReadTiffMetadata(file.data(), file.size());
    EXPECT_EQ(back.icc, given.icc);
    EXPECT_EQ(back.xmp, given.xmp);
    ExpectCarried(back.exif, given.exif);
}

// A one-page TIFF as an encoder writes it: 2 x 2 pixels of bits-bit samples in one strip
// after its directory.
std::string OnePageTiff(bool big, uint32_t bits, const std::string& pixels) {
    Order o{big};
    auto build = [&](uint32_t at) {
        return BuildSample(big, {{"ifd0", {{256, 3, 1, o.U16(2)}, {257, 3, 1, o.U16(2)},
                                           {258, 3, 3, o.Shorts({bits, bits, bits})}, {259, 3, 1, o.U16(1)},
                                           {262, 3, 1, o.U16(2)}, {273, 3, 1, o.U16(at)},
                                           {277, 3, 1, o.U16(3)}, {278, 3, 1, o.U16(2)},
                                           {279, 4, 1, o.U32(static_cast<uint32_t>(pixels.size()))}}}});
    };
    return build(static_cast<uint32_t>(build(0).bytes.size())).bytes + pixels;
}

// Where it can, the camera's EXIF stands as it is at the file's start, so that the maker
// note's offsets, counted from there whatever its make, hold true.
TEST(WriteTiffMetadata, KeepsTheExifAsItIsAtTheFileStartWhereItCan) {
    struct Row {
        const char* name;
        bool fileBig, exifBig;
        uint32_t bits;
        bool emptyInterop;
        bool aroundExif;
    };
    const Row rows[] = {
        {"II file, II EXIF", false, false, 8, false, true},
        {"II file, MM EXIF", false, true, 8, false, true},
        {"MM file, II EXIF", true, false, 8, false, true},
        {"16-bit samples in the same order", true, true, 16, false, true},
        {"16-bit samples in the other order", false, true, 16, false, false},
        {"an empty directory in the EXIF", false, false, 8, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string pixels(row.bits / 8 * 12, 'p');
        pixels.replace(0, 6, "PIXELS");
        std::string plain = OnePageTiff(row.fileBig, row.bits, pixels);
        Sample camera = CameraExif(row.exifBig);
        if (row.emptyInterop) Patch16(camera, camera.tableAt.at("interop"), 0, row.exifBig);
        std::string exif = ExifForOutput(camera.bytes, 2, 2, true);
        std::vector<uint8_t> file = Vec(plain);
        ASSERT_TRUE(WriteTiffMetadata(file, {"", exif, ""}));
        std::string written(file.begin(), file.end());
        TiffFirstDirectory first;
        ASSERT_TRUE(ReadTiffFirstDirectory(file.data(), file.size(), first));
        const TiffDirectory* exifDirectory = Sub(first.directory, kTagExifDirectory);
        ASSERT_NE(exifDirectory, nullptr);
        bool big = row.aroundExif ? row.exifBig : row.fileBig;
        EXPECT_EQ(first.bigEndian, big);
        uint32_t strip = 0;
        ASSERT_TRUE(TiffEntryNumber(*FindTiffEntry(first.directory, 273), big, strip));
        EXPECT_EQ(written.substr(strip, pixels.size()), pixels);
        EXPECT_EQ(Number(first.directory, kTagImageWidth, big), "SHORT 2");
        if (row.aroundExif) {
            EXPECT_EQ(written.substr(8, exif.size() - 8), exif.substr(8));
            EXPECT_EQ(exifDirectory->offset, camera.tableAt.at("exif"));
            EXPECT_EQ(Value(*exifDirectory, 37500), Str(kCameraMakerNote, 40));
            EXPECT_EQ(Sub(first.directory, kTagGpsDirectory)->offset, camera.tableAt.at("gps"));
        } else {
            EXPECT_EQ(written.substr(8, plain.size() - 8), plain.substr(8));
            EXPECT_EQ(Value(*exifDirectory, 37500), "<none>");
        }
        PhotoMetadata back = ReadTiffMetadata(file.data(), file.size());
        TiffStructure read = Parsed(back.exif), given = Parsed(exif);
        if (read.bigEndian != given.bigEndian) SwapTiffByteOrder(given.ifd0);
        EXPECT_EQ(Value(*Sub(read.ifd0, kTagExifDirectory), 33434),
                  Value(*Sub(given.ifd0, kTagExifDirectory), 33434));
    }
}

// What describes how the pixels are read stays the file's own; what points into the structure
// it came from, entries of no value and directories holding nothing are not written. Each row
// is given as a photo's EXIF to a TIFF output, and read from a TIFF input's first directory.
TEST(TiffMetadata, WritesNothingThatChangesHowThePixelsAreReadOrPointsElsewhere) {
    Order o{false};
    struct Row {
        const char* name;
        std::vector<SampleEntry> ifd0, exif;
        bool interop;  // an empty Interoperability directory in the EXIF's
        std::vector<uint16_t> ifd0Tags, exifTags;  // as written, of those the row brings
    };
    const Row rows[] = {
        {"DataType in a JPEG's EXIF", {{32996, 3, 1, o.U16(3)}}, {}, false, {}, {}},
        {"Matteing, DataType, ImageDepth, TileDepth",
         {{32995, 3, 1, o.U16(1)}, {32996, 3, 1, o.U16(3)}, {32997, 4, 1, o.U32(4)}, {32998, 4, 1, o.U32(1)}},
         {}, false, {}, {}},
        {"a CFA pattern, a DNG version, Photoshop's layers",
         {{33421, 3, 2, o.Shorts({2, 2})}, {50706, 1, 4, Str("\1\4\0\0", 4)}, {37724, 7, 4, "8BPS"}},
         {}, false, {}, {}},
        {"Kodak's directory and an entry of type IFD", {{33424, 4, 1, o.U32(8)}, {50000, 13, 1, o.U32(8)}},
         {}, false, {}, {}},
        {"descriptive private tags stay", {{50341, 7, 6, "PrintI"}, {18246, 3, 1, o.U16(4)}},
         {{42016, 2, 4, Str("id1\0", 4)}}, false, {18246, 50341}, {42016}},
        {"a maker note", {}, {{37500, 7, 6, "Canon!"}, {36867, 2, 4, Str("now\0", 4)}}, false, {},
         {36867}},
        {"an entry of no value", {{315, 2, 0, ""}}, {{0x92D6, 7, 0, ""}, {36867, 2, 4, Str("now\0", 4)}},
         false, {}, {36867}},
        {"an empty Interoperability directory", {}, {{36867, 2, 4, Str("now\0", 4)}}, true, {}, {36867}},
        {"an EXIF directory holding only an empty one", {}, {}, true, {}, {}},
    };
    auto brought = [](const TiffDirectory& directory, const std::vector<SampleEntry>& entries) {
        std::vector<uint16_t> tags;
        for (uint16_t tag : Tags(directory))
            for (const SampleEntry& e : entries)
                if (e.tag == tag) tags.push_back(tag);
        return tags;
    };
    const std::vector<SampleEntry> layout = {
        {256, 3, 1, o.U16(2)}, {257, 3, 1, o.U16(2)}, {258, 3, 3, o.Shorts({8, 8, 8})},
        {259, 3, 1, o.U16(1)}, {262, 3, 1, o.U16(2)}, {273, 4, 1, o.U32(8)},
        {277, 3, 1, o.U16(3)}, {278, 3, 1, o.U16(2)}, {279, 4, 1, o.U32(12)}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<SampleDirectory> photo = {{"ifd0", row.ifd0}, {"exif", row.exif}};
        photo[0].entries.push_back({271, 2, 2, Str("M\0", 2)});
        photo[0].entries.push_back({34665, 4, 1, ""});
        if (row.interop) {
            photo[1].entries.push_back({40965, 4, 1, ""});
            photo.push_back({"interop", {}});
        }
        std::vector<SampleDirectory> input = photo;
        input[0].entries.insert(input[0].entries.begin(), layout.begin(), layout.end());

        std::vector<uint8_t> file = Vec(TiffFile(false).bytes);
        ASSERT_TRUE(WriteTiffMetadata(file, {"", BuildSample(false, photo).bytes, ""}));
        TiffFirstDirectory written;
        ASSERT_TRUE(ReadTiffFirstDirectory(file.data(), file.size(), written));
        std::string inputBytes = BuildSample(false, input).bytes;
        PhotoMetadata read = ReadTiffMetadata(reinterpret_cast<const uint8_t*>(inputBytes.data()), inputBytes.size());
        TiffStructure readBack = Parsed(read.exif);
        for (const TiffDirectory* directory : {&written.directory, &readBack.ifd0}) {
            EXPECT_EQ(brought(*directory, row.ifd0), row.ifd0Tags);
            const TiffDirectory* exif = Sub(*directory, kTagExifDirectory);
            EXPECT_EQ(exif != nullptr, !row.exifTags.empty());
            if (exif) {
                EXPECT_EQ(brought(*exif, row.exif), row.exifTags);
                EXPECT_EQ(Sub(*exif, kTagInteroperabilityDirectory), nullptr);
            }
        }
        std::string bytes(file.begin(), file.end());
        std::vector<uint16_t> tags = RawTags(bytes, Load32(bytes, 4, false), false);
        EXPECT_EQ(std::count(tags.begin(), tags.end(), kTagExifDirectory), row.exifTags.empty() ? 0 : 1);
    }
}

}  // namespace
