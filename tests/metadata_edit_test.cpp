#include "exif_edit.h"
#include "md5.h"
#include "metadata.h"
#include "tiff_structure.h"
#include "xmp_edit.h"

#include "exif_sample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

// Every entry's type, count and value but those named.
std::vector<std::string> Entries(const TiffDirectory& directory, std::vector<uint16_t> except = {}) {
    std::vector<std::string> out;
    for (const TiffEntry& e : directory.entries)
        if (std::find(except.begin(), except.end(), e.tag) == except.end())
            out.push_back(std::to_string(e.tag) + "," + std::to_string(e.type) + "," +
                          std::to_string(e.count) + ":" + e.value);
    std::sort(out.begin(), out.end());
    return out;
}

struct OutputSize {
    bool bigEndian;
    uint32_t width, height;
    const char* pixelX;  // PixelXDimension as written: a SHORT that cannot hold it widens
    const char* length;  // ImageLength likewise
};

TEST(ExifForOutput, MakesTheExifTrueToTheOutputAndKeepsEverythingElse) {
    const OutputSize cases[] = {
        {false, 16, 12, "SHORT 16", "SHORT 12"},
        {true, 16, 12, "SHORT 16", "SHORT 12"},
        {false, 4000, 3000, "SHORT 4000", "SHORT 3000"},
        {false, 70000, 3, "LONG 70000", "SHORT 3"},
        {true, 3, 70000, "SHORT 3", "LONG 70000"},
    };
    for (const OutputSize& c : cases) {
        SCOPED_TRACE(std::string(c.bigEndian ? "MM " : "II ") + std::to_string(c.width) + "x" +
                     std::to_string(c.height));
        TiffStructure source, out;
        ASSERT_TRUE(ParseTiff(CameraExif(c.bigEndian).bytes, source));
        std::string written = ExifForOutput(CameraExif(c.bigEndian).bytes, c.width, c.height, true);
        ASSERT_TRUE(ParseTiff(written, out));
        bool big = c.bigEndian;
        EXPECT_EQ(out.bigEndian, big);
        EXPECT_EQ(Number(out.ifd0, kTagOrientation, big), "SHORT 1");
        EXPECT_EQ(Number(out.ifd0, kTagImageWidth, big), "LONG " + std::to_string(c.width));
        EXPECT_EQ(Number(out.ifd0, kTagImageLength, big), c.length);
        EXPECT_EQ(Entries(out.ifd0, {256, 257, 274}), Entries(source.ifd0, {256, 257, 274}));

        const TiffDirectory* exif = Sub(out.ifd0, kTagExifDirectory);
        ASSERT_NE(exif, nullptr);
        EXPECT_EQ(Number(*exif, kTagPixelXDimension, big), c.pixelX);
        EXPECT_EQ(Number(*exif, kTagPixelYDimension, big), "LONG " + std::to_string(c.height));
        // The MakerNote, the dates and the rest, bytes unchanged.
        const TiffDirectory* sourceExif = Sub(source.ifd0, kTagExifDirectory);
        EXPECT_EQ(Entries(*exif, {40962, 40963}), Entries(*sourceExif, {40962, 40963}));
        EXPECT_EQ(Entries(*Sub(*exif, kTagInteroperabilityDirectory)),
                  Entries(*Sub(*sourceExif, kTagInteroperabilityDirectory)));
        EXPECT_EQ(Entries(*Sub(out.ifd0, kTagGpsDirectory)), Entries(*Sub(source.ifd0, kTagGpsDirectory)));

        // Turned: the thumbnail stays where it was, unlinked.
        EXPECT_TRUE(out.ifd1.entries.empty());
        EXPECT_EQ(written.size(), CameraExif(c.bigEndian).bytes.size());
        EXPECT_EQ(written.find(std::string(kCameraThumbnail, 64)),
                  CameraExif(c.bigEndian).bytes.find(std::string(kCameraThumbnail, 64)));
        EXPECT_EQ(ExifForOutput(written, c.width, c.height, true), written);
        EXPECT_EQ(ExifOrientation(written), 1);
    }
}

// Offsets into the EXIF stay true, as no byte moves.
TEST(ExifForOutput, KeepsOffsetsAsTheBytesDoNotMoveAndAddsNothing) {
    Order o{false};
    Sample sample = BuildSample(false, {{"ifd0",
                                          {{273, 4, 2, o.U32(100) + o.U32(200)},
                                           {279, 4, 2, o.U32(10) + o.U32(10)},
                                           {513, 4, 1, o.U32(300)},
                                           {514, 4, 1, o.U32(20)},
                                           {305, 2, 4, std::string("abc\0", 4)}}}});
    EXPECT_EQ(ExifForOutput(sample.bytes, 10, 10, false), sample.bytes);
    EXPECT_EQ(ExifForOutput(sample.bytes, 10, 10, true), sample.bytes);
}

// A maker note whose offsets count from the EXIF's start, as Canon's do: a directory of two
// entries, one pointing 8 bytes past the note's own start.
std::string CanonLikeNote(const Order& o, uint32_t noteAt) {
    return o.U16(2) + o.U16(1) + o.U16(3) + o.U32(1) + o.U16(7) + o.U16(0) + o.U16(4) + o.U16(3) +
           o.U32(4) + o.U32(noteAt + 30) + o.U32(0) + o.Shorts({11, 22, 33, 44});
}

// Each row: what the edit must change in the camera's bytes, and nothing more.
TEST(ExifForOutput, EditsOnlyInPlace) {
    struct Patch {
        const char* directory;
        uint16_t tag;
        size_t offset;  // within the entry
        std::string bytes;
    };
    using Patches = std::vector<Patch>;
    struct Row {
        const char* name;
        std::function<Sample(const Order&)> build;
        uint32_t width, height;
        bool turned;
        std::function<Patches(const Order&, uint32_t width, uint32_t height)> patches;
        bool unlinksThumbnail;
    };
    auto camera = [](const Order& o) { return CameraExif(o.bigEndian); };
    auto sizes = [](const Order& o, uint32_t w, uint32_t h) {
        return Patches{{"ifd0", 274, 8, o.U16(1)},
                       {"ifd0", 256, 8, o.U32(w)},
                       {"ifd0", 257, 8, o.U16(h) + o.U16(0)},
                       {"exif", 40962, 8, o.U16(w) + o.U16(0)},
                       {"exif", 40963, 8, o.U32(h)}};
    };
    // A maker note after every other value, its offsets counting from the EXIF's start.
    auto withNote = [](const Order& o) {
        std::vector<SampleDirectory> directories = {
            {"ifd0", {{271, 2, 6, std::string("Canon\0", 6)}, {274, 3, 1, o.U16(6)},
                      {256, 3, 1, o.U16(1600)}, {34665, 4, 1, ""}}},
            {"exif", {{37500, 7, 38, std::string(38, '?')}, {40962, 3, 1, o.U16(1600)}}}};
        Sample sample = BuildSample(o.bigEndian, directories);
        size_t noteAt = sample.bytes.find(std::string(38, '?'));
        sample.bytes.replace(noteAt, 38, CanonLikeNote(o, static_cast<uint32_t>(noteAt)));
        return sample;
    };
    const Row rows[] = {
        {"turned", camera, 300, 400, true, sizes, true},
        {"not turned: the thumbnail stays linked", camera, 4000, 3000, false, sizes, false},
        {"a SHORT too small becomes a LONG in its entry", camera, 70000, 3, true,
         [](const Order& o, uint32_t, uint32_t) {
             return Patches{{"ifd0", 274, 8, o.U16(1)},
                            {"ifd0", 256, 8, o.U32(70000)},
                            {"ifd0", 257, 8, o.U16(3) + o.U16(0)},
                            {"exif", 40962, 2, o.U16(4) + o.U32(1) + o.U32(70000)},
                            {"exif", 40963, 8, o.U32(3)}};
         },
         true},
        {"a size of another type, or of two values, becomes one in its entry",
         [](const Order& o) {
             return BuildSample(o.bigEndian, {{"ifd0", {{256, 5, 1, o.Rational(4, 1)}, {257, 3, 2, o.Shorts({5, 6})}}}});
         },
         8, 9, false,
         [](const Order& o, uint32_t, uint32_t) {
             return Patches{{"ifd0", 256, 2, o.U16(4) + o.U32(1) + o.U32(8)},
                            {"ifd0", 257, 4, o.U32(1) + o.U16(9) + o.U16(0)}};
         },
         false},
        {"an orientation of another type becomes a SHORT",
         [](const Order& o) { return BuildSample(o.bigEndian, {{"ifd0", {{274, 4, 1, o.U32(6)}}}}); }, 8, 9,
         false, [](const Order& o, uint32_t, uint32_t) { return Patches{{"ifd0", 274, 2, o.U16(3) + o.U32(1) + o.U16(1) + o.U16(0)}}; },
         false},
        {"no orientation or sizes: nothing added",
         [](const Order& o) { return BuildSample(o.bigEndian, {{"ifd0", {{305, 2, 4, std::string("abc\0", 4)}, {282, 5, 1, o.Rational(1, 1)}}}}); },
         8, 9, true, [](const Order&, uint32_t, uint32_t) { return Patches{}; }, false},
        {"a maker note with offsets from the EXIF's start", withNote, 1200, 1600, true,
         [](const Order& o, uint32_t w, uint32_t) {
             return Patches{{"ifd0", 274, 8, o.U16(1)}, {"ifd0", 256, 8, o.U16(w) + o.U16(0)},
                            {"exif", 40962, 8, o.U16(w) + o.U16(0)}};
         },
         false},
    };
    for (const Row& row : rows)
        for (bool big : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (big ? ", MM" : ", II"));
            Order o{big};
            Sample sample = row.build(o);
            std::string expected = sample.bytes;
            for (const Patch& patch : row.patches(o, row.width, row.height))
                expected.replace(sample.entryAt.at({patch.directory, patch.tag}) + patch.offset,
                                 patch.bytes.size(), patch.bytes);
            if (row.unlinksThumbnail) expected.replace(sample.ifd0LinkAt, 4, o.U32(0));
            std::string written = ExifForOutput(sample.bytes, row.width, row.height, row.turned);
            EXPECT_TRUE(written == expected);
            EXPECT_EQ(ExifForOutput(written, row.width, row.height, row.turned), written);
            TiffStructure parsed;
            ASSERT_TRUE(ParseTiff(written, parsed));
            EXPECT_EQ(parsed.ifd1.entries.empty(), row.unlinksThumbnail || !sample.tableAt.count("ifd1"));
        }
}

TEST(ExifForOutput, EmptyForWhatCannotBeReadAndNeverMoreThanWhatEachCutHolds) {
    for (const std::string& bytes :
         {std::string(), std::string("Exif\0\0II*\0\x08\0\0\0", 14), std::string("II*\0\x08\0\0\0", 8),
          std::string("MM\0*\0\0\0\x08\xFF\xFF", 10)})
        EXPECT_EQ(ExifForOutput(bytes, 10, 10, true), "") << bytes.size();

    for (bool big : {false, true}) {
        Sample sample = CameraExif(big);
        for (size_t cut = 0; cut <= sample.bytes.size(); ++cut) {
            SCOPED_TRACE((big ? "MM cut at " : "II cut at ") + std::to_string(cut));
            std::string written = ExifForOutput(sample.bytes.substr(0, cut), 16, 12, true);
            ASSERT_EQ(written.empty(), cut < sample.ifd0TableEnd);
            if (written.empty()) continue;
            EXPECT_EQ(ExifOrientation(written), 1);
            EXPECT_EQ(ExifForOutput(written, 16, 12, true), written);
            EXPECT_EQ(written.size(), cut);
        }
    }
}

TEST(ExifOrientation, ReadsAShortOneToEightInTheFirstDirectoryOnly) {
    Order le{false}, be{true};
    auto one = [](bool big, uint16_t tag, uint16_t type, uint32_t count, const std::string& value) {
        return BuildSample(big, {{"ifd0", {{271, 2, 2, std::string("x\0", 2)}, {tag, type, count, value}}}}).bytes;
    };
    const std::pair<std::string, int> cases[] = {
        {CameraExif(false).bytes, 6},
        {CameraExif(true).bytes, 6},
        {one(false, 274, 3, 1, le.U16(8)), 8},
        {one(true, 274, 3, 1, be.U16(3)), 3},
        {one(false, 274, 3, 1, le.U16(9)), 1},
        {one(false, 274, 3, 1, le.U16(0)), 1},
        {one(false, 274, 4, 1, le.U32(8)), 1},
        {one(false, 274, 3, 0, ""), 1},
        {one(false, 305, 3, 1, le.U16(6)), 1},
        {BuildSample(false, {{"ifd0", {{271, 2, 2, std::string("x\0", 2)}}}, {"ifd1", {{274, 3, 1, le.U16(6)}}}}).bytes, 1},
        {CameraExif(false).bytes.substr(0, 20), 1},
        {"", 1},
        {"garbage that is not TIFF", 1},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(ExifOrientation(bytes), expected) << bytes.size();
}

std::string Repeat(const std::string& text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

// The large rows are hostile packets: an editor that rescans or moves the rest of the
// packet for each name takes minutes over them. Markup that is not well formed ends what is
// edited.
TEST(XmpForOutput, SetsOrientationAndDimensionsInEitherFormAndNothingElse) {
    const std::pair<std::string, std::string> cases[] = {
        {R"(<rdf:Description tiff:Orientation="6" exif:PixelXDimension="4000" exif:PixelYDimension="3000" tiff:ImageWidth="4000" tiff:ImageLength="3000"/>)",
         R"(<rdf:Description tiff:Orientation="1" exif:PixelXDimension="640" exif:PixelYDimension="480" tiff:ImageWidth="640" tiff:ImageLength="480"/>)"},
        {"<tiff:Orientation>8</tiff:Orientation>\n<exif:PixelXDimension>4000</exif:PixelXDimension>"
         "<exif:PixelYDimension> 3000 </exif:PixelYDimension><tiff:ImageWidth>1</tiff:ImageWidth>"
         "<tiff:ImageLength>22</tiff:ImageLength >",
         "<tiff:Orientation>1</tiff:Orientation>\n<exif:PixelXDimension>640</exif:PixelXDimension>"
         "<exif:PixelYDimension>480</exif:PixelYDimension><tiff:ImageWidth>640</tiff:ImageWidth>"
         "<tiff:ImageLength>480</tiff:ImageLength >"},
        {"<x\n  tiff:Orientation = '3'\ttiff:ImageWidth\n=\n\"9\"/>",
         "<x\n  tiff:Orientation = '1'\ttiff:ImageWidth\n=\n\"640\"/>"},
        {"<x tiff:Orientation=\"6\"/><tiff:Orientation>6</tiff:Orientation>",
         "<x tiff:Orientation=\"1\"/><tiff:Orientation>1</tiff:Orientation>"},
        {R"(<rdf:Description xmp:Rating="5" dc:format="image/jpeg"/>)", R"(<rdf:Description xmp:Rating="5" dc:format="image/jpeg"/>)"},
        {R"(<x tiff:OrientationX="6" mytiff:Orientation="6" <tiff:ImageWidthRatio>5</tiff:ImageWidthRatio>)",
         R"(<x tiff:OrientationX="6" mytiff:Orientation="6" <tiff:ImageWidthRatio>5</tiff:ImageWidthRatio>)"},
        {"<tiff:Orientation><rdf:Seq/></tiff:Orientation>", "<tiff:Orientation><rdf:Seq/></tiff:Orientation>"},
        {"<x tiff:Orientation=\"6", "<x tiff:Orientation=\"6"},
        {"<tiff:Orientation>6", "<tiff:Orientation>6"},
        {" tiff:Orientation", " tiff:Orientation"},
        {"tiff:Orientation=\"6\"", "tiff:Orientation=\"6\""},
        {std::string("\0\xFF<x tiff:Orientation=\"6\"/>\0\xFE", 29), std::string("\0\xFF<x tiff:Orientation=\"1\"/>\0\xFE", 29)},
        {"", ""},
        {" tiff:ImageWidth=\"123456789012345678901234567890123\"", " tiff:ImageWidth=\"123456789012345678901234567890123\""},
        {"<x tiff:ImageWidth=\"a tiff:ImageWidth='5'\"/>", "<x tiff:ImageWidth=\"640\"/>"},
        // Names inside other values, comments and text are not properties.
        {"<x dc:title=\"tiff:Orientation='6'\" tiff:Orientation=\"6\"/>",
         "<x dc:title=\"tiff:Orientation='6'\" tiff:Orientation=\"1\"/>"},
        {"<dc:description> tiff:ImageWidth=\"5\" <tiff:ImageWidth>5</tiff:ImageWidth></dc:description>",
         "<dc:description> tiff:ImageWidth=\"5\" <tiff:ImageWidth>640</tiff:ImageWidth></dc:description>"},
        {"<!-- <x tiff:Orientation=\"6\"/> --><![CDATA[<tiff:Orientation>6</tiff:Orientation>]]><?pi tiff:Orientation=\"6\"?>",
         "<!-- <x tiff:Orientation=\"6\"/> --><![CDATA[<tiff:Orientation>6</tiff:Orientation>]]><?pi tiff:Orientation=\"6\"?>"},
        {"<x dc:title=\"" + std::string(40, ' ') + "\" tiff:ImageWidth=\"" + std::string(40, '4') + "\"/>",
         "<x dc:title=\"" + std::string(40, ' ') + "\" tiff:ImageWidth=\"640\"/>"},
        {"<x tiff:Orientation=\"6\"/><y tiff:Orientation=\"6\" <z tiff:Orientation=\"6\"/>",
         "<x tiff:Orientation=\"1\"/><y tiff:Orientation=\"6\" <z tiff:Orientation=\"6\"/>"},
        {"<x" + Repeat(" tiff:ImageWidth=\"4000\"", 50000) + "/>", "<x" + Repeat(" tiff:ImageWidth=\"640\"", 50000) + "/>"},
        {Repeat(" tiff:ImageWidth='" + std::string(40, 'x'), 50000),
         Repeat(" tiff:ImageWidth='" + std::string(40, 'x'), 50000)},
        {Repeat("<tiff:ImageLength>", 50000), Repeat("<tiff:ImageLength>", 50000)},
    };
    for (const auto& [xmp, expected] : cases) {
        EXPECT_EQ(XmpForOutput(xmp, 640, 480), expected) << xmp.substr(0, 80);
        EXPECT_EQ(XmpForOutput(expected, 640, 480), expected) << xmp.substr(0, 80);
    }
}

// RFC 1321's test suite, and the lengths on either side of a block's end.
TEST(Md5Hex, GivesTheReferenceDigests) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {Repeat("1234567890", 8), "57EDF4A22BE3C955AC49DA2E2107B67A"},
        {std::string(55, 'x'), "04364420E25C512FD958A70738AA8F72"},
        {std::string(56, 'x'), "668A72D5BA17F08E62DABCAFAD6DB14B"},
        {std::string(64, 'x'), "C1BB4F81D892B2D57947682AEB252456"},
        {std::string(119, 'x'), "AB347A5F68C8A443CFCDDC633F12C24F"},
        {std::string(120, 'x'), "FB98667F98096DE92620B64F46E1C5B5"},
    };
    for (const auto& [bytes, digest] : cases) EXPECT_EQ(Md5Hex(bytes), digest) << bytes.size();
}

const std::string kGuid = "30952884410FAE7EE96D914FA3F9D359";

std::string Packet(const std::string& descriptions, const std::string& rdfAttributes = "") {
    return "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
           "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'" + rdfAttributes + ">" +
           descriptions + "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
}

const std::string kElementPointer =
    "<rdf:Description rdf:about='' xmlns:xmpNote='http://ns.adobe.com/xmp/note/'>"
    "<xmpNote:HasExtendedXMP>" + kGuid + "</xmpNote:HasExtendedXMP></rdf:Description>";
const std::string kAttributePointer =
    "<rdf:Description rdf:about='' xmlns:xmpNote='http://ns.adobe.com/xmp/note/'\n"
    " xmpNote:HasExtendedXMP=\"" + kGuid + "\" xmp:Rating='5'/>";
const std::string kTitle = "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'>"
                           "<dc:title>hello</dc:title></rdf:Description>";
const std::string kDepth = "<rdf:Description rdf:about='' GDepth:Data='AAAA'/>";
// The pointers once removed.
const std::string kElementRemoved =
    "<rdf:Description rdf:about='' xmlns:xmpNote='http://ns.adobe.com/xmp/note/'></rdf:Description>";
const std::string kAttributeRemoved =
    "<rdf:Description rdf:about='' xmlns:xmpNote='http://ns.adobe.com/xmp/note/' xmp:Rating='5'/>";

TEST(ExtendedXmp, ThePointerIsReadSetOrRemovedInEitherForm) {
    struct Row {
        const char* name;
        std::string xmp;
        std::string guid;       // as read
        std::string set;        // with the pointer set to "NEW"
        std::string removed;    // without the pointer
    };
    const std::string inValue = Packet("<x dc:title='xmpNote:HasExtendedXMP=\"" + kGuid + "\"'/>");
    const Row rows[] = {
        {"element", Packet(kElementPointer + kTitle), kGuid,
         Packet("<rdf:Description rdf:about='' xmlns:xmpNote='http://ns.adobe.com/xmp/note/'>"
                "<xmpNote:HasExtendedXMP>NEW</xmpNote:HasExtendedXMP></rdf:Description>" + kTitle),
         Packet(kElementRemoved + kTitle)},
        {"attribute", Packet(kAttributePointer), kGuid,
         Packet("<rdf:Description rdf:about='' xmlns:xmpNote='http://ns.adobe.com/xmp/note/'\n"
                " xmpNote:HasExtendedXMP=\"NEW\" xmp:Rating='5'/>"),
         Packet(kAttributeRemoved)},
        {"none", Packet(kTitle), "", Packet(kTitle), Packet(kTitle)},
        {"only in a value", inValue, "", inValue, inValue},
        {"with spaces", "<xmpNote:HasExtendedXMP>\n " + kGuid + " </xmpNote:HasExtendedXMP>", kGuid,
         "<xmpNote:HasExtendedXMP>NEW</xmpNote:HasExtendedXMP>", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ExtendedXmpGuid(row.xmp), row.guid);
        EXPECT_EQ(WithExtendedXmpPointer(row.xmp, "NEW"), row.set);
        EXPECT_EQ(WithExtendedXmpPointer(row.xmp, ""), row.removed);
        EXPECT_EQ(ExtendedXmpGuid(row.removed), "");
    }
}

TEST(ExtendedXmp, JoinsTheMainPacketAsOne) {
    struct Row {
        const char* name;
        std::string main, extension, merged;
    };
    const std::string extensionMeta =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/' xmlns:GDepth='http://ns.google.com/photos/1.0/depthmap/'>"
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#' xmlns:dc='http://purl.org/dc/elements/1.1/'>" +
        kDepth + "</rdf:RDF></x:xmpmeta>";
    const Row rows[] = {
        {"exiftool's", Packet(kElementPointer + kTitle), Packet(kDepth),
         Packet(kElementRemoved + kTitle + kDepth)},
        {"namespaces declared above the descriptions", Packet(kAttributePointer), extensionMeta,
         Packet(kAttributeRemoved + kDepth,
                " xmlns:GDepth='http://ns.google.com/photos/1.0/depthmap/' xmlns:dc='http://purl.org/dc/elements/1.1/'")},
        {"a namespace main declares already", Packet(kTitle, " xmlns:dc='http://purl.org/dc/elements/1.1/'"),
         extensionMeta,
         Packet(kTitle + kDepth, " xmlns:dc='http://purl.org/dc/elements/1.1/' xmlns:GDepth='http://ns.google.com/photos/1.0/depthmap/'")},
        {"an extension without rdf:RDF", Packet(kElementPointer), "<x:xmpmeta/>", Packet(kElementRemoved)},
        {"a main packet without rdf:RDF", "<x:xmpmeta/>", Packet(kDepth), "<x:xmpmeta/>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(MergedXmp(row.main, row.extension), row.merged);
        EXPECT_EQ(ExtendedXmpGuid(row.merged), "");
    }
}

// What the output's XMP points to is its own extension, or nothing.
TEST(MetadataForOutput, PointsToTheExtendedXmpByItsDigestOrNotAtAll) {
    const std::string extension = Packet("<rdf:Description rdf:about='' tiff:Orientation='6' GDepth:Data='AAAA'/>");
    const std::string edited = Packet("<rdf:Description rdf:about='' tiff:Orientation='1' GDepth:Data='AAAA'/>");
    PhotoMetadata input{"", "", Packet(kElementPointer + kTitle), extension};
    PhotoMetadata output = MetadataForOutput(input, 10, 20);
    EXPECT_EQ(output.extendedXmp, edited);
    EXPECT_EQ(ExtendedXmpGuid(output.xmp), Md5Hex(edited));
    EXPECT_EQ(WithExtendedXmpPointer(output.xmp, kGuid), input.xmp);

    input.extendedXmp.clear();  // none, or none read whole
    output = MetadataForOutput(input, 10, 20);
    EXPECT_EQ(output.extendedXmp, "");
    EXPECT_EQ(output.xmp, WithExtendedXmpPointer(input.xmp, ""));
}

}  // namespace
