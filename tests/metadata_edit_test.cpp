#include "exif_edit.h"
#include "tiff_structure.h"
#include "xmp_edit.h"

#include "exif_sample.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        std::string written = ExifForOutput(CameraExif(c.bigEndian).bytes, c.width, c.height);
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

        EXPECT_TRUE(out.ifd1.entries.empty());
        EXPECT_EQ(written.find(std::string(kCameraThumbnail, 64)), std::string::npos);
        EXPECT_EQ(ExifForOutput(written, c.width, c.height), written);
        EXPECT_EQ(ExifOrientation(written), 1);
    }
}

TEST(ExifForOutput, DropsOffsetsThatWouldPointNowhereAndAddsNothing) {
    Order o{false};
    Sample sample = BuildSample(false, {{"ifd0",
                                          {{273, 4, 2, o.U32(100) + o.U32(200)},
                                           {279, 4, 2, o.U32(10) + o.U32(10)},
                                           {513, 4, 1, o.U32(300)},
                                           {514, 4, 1, o.U32(20)},
                                           {305, 2, 4, std::string("abc\0", 4)}}}});
    TiffStructure out;
    ASSERT_TRUE(ParseTiff(ExifForOutput(sample.bytes, 10, 10), out));
    EXPECT_EQ(Entries(out.ifd0), (std::vector<std::string>{std::string("305,2,4:abc\0", 12)}));
}

TEST(ExifForOutput, EmptyForWhatCannotBeReadAndNeverMoreThanWhatEachCutHolds) {
    for (const std::string& bytes :
         {std::string(), std::string("Exif\0\0II*\0\x08\0\0\0", 14), std::string("II*\0\x08\0\0\0", 8),
          std::string("MM\0*\0\0\0\x08\xFF\xFF", 10)})
        EXPECT_EQ(ExifForOutput(bytes, 10, 10), "") << bytes.size();

    for (bool big : {false, true}) {
        Sample sample = CameraExif(big);
        for (size_t cut = 0; cut <= sample.bytes.size(); ++cut) {
            SCOPED_TRACE((big ? "MM cut at " : "II cut at ") + std::to_string(cut));
            std::string written = ExifForOutput(sample.bytes.substr(0, cut), 16, 12);
            ASSERT_EQ(written.empty(), cut < sample.ifd0TableEnd);
            if (written.empty()) continue;
            EXPECT_EQ(ExifOrientation(written), 1);
            EXPECT_EQ(ExifForOutput(written, 16, 12), written);
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
// packet for each name takes minutes over them.
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
        {std::string("\0\xFF tiff:Orientation=\"6\"\0\xFE", 25), std::string("\0\xFF tiff:Orientation=\"1\"\0\xFE", 25)},
        {"", ""},
        {" tiff:ImageWidth=\"123456789012345678901234567890123\"", " tiff:ImageWidth=\"123456789012345678901234567890123\""},
        {" tiff:ImageWidth=\"a tiff:ImageWidth='5'\"", " tiff:ImageWidth=\"640\""},
        {Repeat(" tiff:ImageWidth=\"4000\"", 50000), Repeat(" tiff:ImageWidth=\"640\"", 50000)},
        {Repeat(" tiff:ImageWidth='" + std::string(40, 'x'), 50000),
         Repeat(" tiff:ImageWidth='" + std::string(40, 'x'), 50000)},
        {Repeat("<tiff:ImageLength>", 50000), Repeat("<tiff:ImageLength>", 50000)},
    };
    for (const auto& [xmp, expected] : cases) {
        EXPECT_EQ(XmpForOutput(xmp, 640, 480), expected) << xmp.substr(0, 80);
        EXPECT_EQ(XmpForOutput(expected, 640, 480), expected) << xmp.substr(0, 80);
    }
}

}  // namespace
