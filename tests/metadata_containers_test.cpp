// Photo metadata read from and written into JPEG, PNG and WebP bytes.
#include "jpeg_metadata.h"
#include "md5.h"
#include "png_metadata.h"
#include "webp_metadata.h"

#include "container_bytes.h"
#include "hostile_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Letters a..m from seed on: no marker, chunk type or keyword of any container is among them.
std::string Letters(size_t size, unsigned seed) {
    std::string text(size, 'a');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + seed) % 13);
    return text;
}

std::string Icc(size_t size, unsigned seed) { return Letters(size, seed); }
std::string Exif(size_t size, unsigned seed) {
    return std::string("MM\0*", 4) + Letters(size - 4, seed);
}
std::string Xmp(size_t size, unsigned seed) { return "<x:xmpmeta>" + Letters(size - 11, seed); }

const std::string kExifPrefix("Exif\0\0", 6);
const std::string kXmpPrefix("http://ns.adobe.com/xap/1.0/\0", 29);
const std::string kExtendedXmpPrefix("http://ns.adobe.com/xmp/extension/\0", 35);
const std::string kXmpKeyword("XML:com.adobe.xmp\0", 18);

size_t Count(const Bytes& file, const std::string& mark) {
    size_t count = 0;
    for (auto at = file.begin();
         (at = std::search(at, file.end(), mark.begin(), mark.end())) != file.end(); ++at)
        ++count;
    return count;
}

std::string Zlib(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string stream(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&stream[0]), &size,
              reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()), 9);
    stream.resize(size);
    return stream;
}

std::string IccSegment(unsigned sequence, unsigned count, const std::string& data) {
    return JpegSegment(0xE2, std::string("ICC_PROFILE\0", 12) + static_cast<char>(sequence) +
                                 static_cast<char>(count) + data);
}

// A JPEG's frame: what follows its metadata, as GDI+ writes it (the scan is a stand-in).
const std::string kJpegFrame = JpegSegment(0xDB, std::string(65, '\1')) +
                               JpegSegment(0xDA, std::string("\1\1\0\0\x3F\0", 6)) +
                               "\x12\x34\xFF\xD9";

std::string Jpeg(const std::string& segments) {
    return "\xFF\xD8" + JpegSegment(0xE0, std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14)) +
           segments + kJpegFrame;
}

const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);
const std::string kPngHeader = PngChunk("IHDR", std::string("\0\0\0\1\0\0\0\1\x08\2\0\0\0", 13));

std::string Png(const std::string& chunks) {
    return kPngSignature + kPngHeader + PngChunk("sRGB", std::string(1, '\0')) + chunks +
           PngChunk("IDAT", Zlib(std::string(4, '\0'))) + PngChunk("IEND", "");
}

std::string IccpChunk(const std::string& keyword, char method, const std::string& stream) {
    return PngChunk("iCCP", keyword + '\0' + method + stream);
}

std::string XmpChunk(const std::string& xmp, bool compressed = false,
                     const std::string& language = "", const std::string& translated = "") {
    return PngChunk("iTXt", kXmpKeyword + (compressed ? '\1' : '\0') + '\0' + language + '\0' +
                                translated + '\0' + (compressed ? Zlib(xmp) : xmp));
}

// ImageMagick's text for a raw profile: a length, then hex digits in lines of 72.
std::string RawProfile(const std::string& name, const std::string& bytes, size_t declared,
                       bool upperCase = false) {
    char length[16];
    std::snprintf(length, sizeof length, "%8zu", declared);
    std::string text = "\n" + name + "\n" + length;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, upperCase ? "%02X" : "%02x",
                      static_cast<unsigned char>(bytes[i]));
        text += (i % 36 == 0 ? "\n" : "") + std::string(digits);
    }
    return text + "\n";
}

std::string RawProfileChunk(const std::string& kind, const std::string& text, bool compressed) {
    std::string keyword = "Raw profile type " + kind + '\0';
    return compressed ? PngChunk("zTXt", keyword + '\0' + Zlib(text))
                      : PngChunk("tEXt", keyword + text);
}

std::string RiffChunk(const char* fourcc, const std::string& body) {
    std::string chunk = fourcc;
    PutU32(chunk, static_cast<unsigned>(body.size()), false);
    return chunk + body + std::string(body.size() % 2, '\0');
}

// A WebP's container whose RIFF size counts riffSizeCut bytes fewer than there are.
std::string Riff(const std::string& chunks, size_t riffSizeCut = 0) {
    std::string body = "WEBP" + RiffChunk("VP8X", std::string(10, '\0')) + chunks;
    std::string riff = "RIFF";
    PutU32(riff, static_cast<unsigned>(body.size() - riffSizeCut), false);
    return riff + body;
}

// A real 3 x 2 lossless WebP, as libwebp encodes one.
Bytes EncodedWebP() {
    std::vector<uint8_t> rgba(3 * 2 * 4, 0x80);
    uint8_t* output = nullptr;
    size_t size = WebPEncodeLosslessRGBA(rgba.data(), 3, 2, 3 * 4, &output);
    Bytes webp(output, output + size);
    WebPFree(output);
    return webp;
}

void ExpectMetadata(const PhotoMetadata& read, const PhotoMetadata& expected) {
    EXPECT_EQ(read.icc.size(), expected.icc.size());
    EXPECT_TRUE(read.icc == expected.icc);
    EXPECT_TRUE(read.exif == expected.exif) << read.exif.size() << " EXIF bytes";
    EXPECT_TRUE(read.xmp == expected.xmp) << read.xmp.size() << " XMP bytes";
}

struct Container {
    const char* name;
    PhotoMetadata (*read)(const uint8_t*, size_t);
    bool (*write)(Bytes&, const PhotoMetadata&);
    std::function<Bytes(const PhotoMetadata& old)> fileWithCopies;  // as an encoder leaves it
    std::string marks[3];                                             // ICC, EXIF, XMP
};

std::vector<Container> Containers() {
    return {
        {"JPEG", ReadJpegMetadata, WriteJpegMetadata,
         [](const PhotoMetadata& old) {
             return ToBytes(Jpeg(JpegSegment(0xE1, kExifPrefix + old.exif) +
                                 JpegSegment(0xE1, kXmpPrefix + old.xmp) +
                                 JpegSegment(0xE1, kExtendedXmpPrefix + "extended") +
                                 IccSegment(2, 2, old.icc.substr(9)) +
                                 IccSegment(1, 2, old.icc.substr(0, 9))));
         },
         {"ICC_PROFILE", kExifPrefix, "http://ns.adobe.com/"}},
        {"PNG", ReadPngMetadata, WritePngMetadata,
         [](const PhotoMetadata& old) {
             return ToBytes(Png(IccpChunk("sRGB IEC61966-2.1", '\0', Zlib(old.icc)) +
                                PngChunk("eXIf", old.exif) + XmpChunk(old.xmp) +
                                RawProfileChunk("exif", RawProfile("exif", old.exif, 20), true) +
                                RawProfileChunk("xmp", RawProfile("xmp", old.xmp, 20), false)));
         },
         {"iCCP", "eXIf", "XML:com.adobe.xmp"}},
        {"WebP", ReadWebpMetadata, WriteWebpMetadata,
         [](const PhotoMetadata& old) {
             Bytes webp = EncodedWebP();
             EXPECT_TRUE(WriteWebpMetadata(webp, old));
             return webp;
         },
         {"ICCP", "EXIF", "XMP "}},
    };
}

TEST(ContainerMetadata, EveryCombinationOfPiecesComesBackOnceInPlaceOfTheEncodersCopies) {
    const PhotoMetadata old{Icc(20, 1), Exif(20, 1), Xmp(20, 1)};
    // The profile needs three JPEG segments.
    const PhotoMetadata given{Icc(140000, 2), Exif(3000, 2), Xmp(2000, 2)};
    for (const Container& container : Containers()) {
        for (int pieces = 0; pieces < 8; ++pieces) {
            SCOPED_TRACE(std::string(container.name) + ", pieces " + std::to_string(pieces));
            PhotoMetadata metadata;
            if (pieces & 1) metadata.icc = given.icc;
            if (pieces & 2) metadata.exif = given.exif;
            if (pieces & 4) metadata.xmp = given.xmp;
            Bytes file = container.fileWithCopies(old);
            ASSERT_TRUE(container.write(file, metadata));
            ExpectMetadata(container.read(file.data(), file.size()), metadata);
            bool jpeg = container.marks[0] == "ICC_PROFILE";
            EXPECT_EQ(Count(file, container.marks[0]), (pieces & 1) ? (jpeg ? 3u : 1u) : 0u);
            EXPECT_EQ(Count(file, container.marks[1]), (pieces & 2) ? 1u : 0u);
            EXPECT_EQ(Count(file, container.marks[2]), (pieces & 4) ? 1u : 0u);
            if (jpeg) {
                EXPECT_EQ(file[3], 0xE0) << "JFIF comes first";
            }
            if (container.marks[0] == "iCCP") {
                EXPECT_EQ(Count(file, "sRGB"), (pieces & 1) ? 0u : 1u);
                EXPECT_EQ(Count(file, "Raw profile"), 0u);
            }
        }
    }
}

TEST(ContainerMetadata, EveryCutReadsWholePiecesOrNoneAndIsNotWritten) {
    const PhotoMetadata given{Icc(300, 3), Exif(200, 3), Xmp(100, 3)};
    for (const Container& container : Containers()) {
        Bytes file = container.fileWithCopies({Icc(20, 1), Exif(20, 1), Xmp(20, 1)});
        ASSERT_TRUE(container.write(file, given));
        PhotoMetadata last;
        for (size_t cut = 0; cut < file.size(); ++cut) {
            SCOPED_TRACE(std::string(container.name) + " cut at " + std::to_string(cut));
            PhotoMetadata read = container.read(file.data(), cut);
            for (auto piece : {&PhotoMetadata::icc, &PhotoMetadata::exif, &PhotoMetadata::xmp}) {
                EXPECT_TRUE(read.*piece == given.*piece || (read.*piece).empty());
                EXPECT_TRUE((last.*piece).empty() || read.*piece == last.*piece)
                    << "a longer file holds all a shorter one did";
            }
            last = read;
            Bytes copy(file.begin(), file.begin() + cut);
            if (!container.write(copy, given))
                EXPECT_TRUE(std::equal(copy.begin(), copy.end(), file.begin()) &&
                            copy.size() == cut);
            else
                EXPECT_EQ(container.name, std::string("JPEG")) << "only its scan may be cut";
        }
        ExpectMetadata(container.read(file.data(), file.size()), given);
    }
}

TEST(JpegMetadata, ProfileChunksJoinOnlyAsOneWholeSet) {
    struct Row {
        const char* name;
        std::string segments;
        std::string profile;
    };
    std::string hugeChunks;  // 65 full chunks: more than kMaxIccBytes
    for (unsigned i = 1; i <= 65; ++i) hugeChunks += IccSegment(i, 65, Icc(65519, i));
    const Row rows[] = {
        {"in order", IccSegment(1, 3, "aa") + IccSegment(2, 3, "bb") + IccSegment(3, 3, "cc"),
         "aabbcc"},
        {"out of order", IccSegment(3, 3, "cc") + IccSegment(1, 3, "aa") + IccSegment(2, 3, "bb"),
         "aabbcc"},
        {"one chunk", IccSegment(1, 1, "aa"), "aa"},
        {"a gap", IccSegment(1, 3, "aa") + IccSegment(3, 3, "cc"), ""},
        {"a duplicate", IccSegment(1, 2, "aa") + IccSegment(1, 2, "aa"), ""},
        {"a duplicate beside a whole set",
         IccSegment(1, 2, "aa") + IccSegment(2, 2, "bb") + IccSegment(2, 2, "bb"), ""},
        {"sequence 0", IccSegment(0, 1, "aa"), ""},
        {"count 0", IccSegment(1, 0, "aa"), ""},
        {"counts disagree", IccSegment(1, 2, "aa") + IccSegment(2, 3, "bb"), ""},
        {"sequence past the count", IccSegment(1, 2, "aa") + IccSegment(3, 2, "cc"), ""},
        {"no sequence or count", JpegSegment(0xE2, std::string("ICC_PROFILE\0\1", 13)), ""},
        {"over its bound", hugeChunks, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = ToBytes(Jpeg(row.segments + JpegSegment(0xE1, kExifPrefix + Exif(8, 0))));
        ExpectMetadata(ReadJpegMetadata(file.data(), file.size()), {row.profile, Exif(8, 0), ""});
    }
}

TEST(ContainerMetadata, LengthsPastTheBytesOrTheContainerEndTheWalk) {
    const std::string exif = Exif(10, 4), xmp = Xmp(20, 4), icc = Icc(7, 4);
    const std::string xmpSegment = JpegSegment(0xE1, kXmpPrefix + xmp);
    std::string overlongExif = JpegSegment(0xE1, kExifPrefix + exif);
    overlongExif[2] = '\x7F';
    std::string overlongPng = PngChunk("eXIf", exif);
    overlongPng[0] = '\x7F';
    std::string hugePng = PngChunk("eXIf", exif);
    hugePng[0] = '\x80';
    std::string badCrc = PngChunk("eXIf", exif);
    badCrc.back() ^= 1;
    const std::string exifChunk = RiffChunk("EXIF", exif);
    std::string overlongRiff = RiffChunk("XMP ", xmp);
    overlongRiff[5] = '\x7F';
    struct Row {
        const char* name;
        const Container& container;
        std::string file;
        PhotoMetadata expected;
    };
    const std::vector<Container> containers = Containers();
    const Container &jpeg = containers[0], &png = containers[1], &webp = containers[2];
    const Row rows[] = {
        {"JPEG segment past the end", jpeg, Jpeg(xmpSegment + overlongExif), {"", "", xmp}},
        {"JPEG length below 2", jpeg, Jpeg(std::string("\xFF\xE3\0\1", 4) + xmpSegment), {}},
        {"JPEG fill bytes and standalone markers", jpeg,
         Jpeg("\xFF\xFF\xFF\xD0\xFF\x01" + xmpSegment), {"", "", xmp}},
        {"JPEG no marker where one belongs", jpeg, Jpeg(xmpSegment + "x" + overlongExif),
         {"", "", xmp}},
        {"JPEG segments past the picture data", jpeg,
         Jpeg("") + JpegSegment(0xE1, kExifPrefix + exif), {}},
        {"JPEG Exif that is not TIFF", jpeg,
         Jpeg(JpegSegment(0xE1, kExifPrefix + "II*") + xmpSegment), {"", "", xmp}},
        {"PNG chunk past the end", png, Png(XmpChunk(xmp) + overlongPng), {"", "", xmp}},
        {"PNG length over 2^31", png, Png(XmpChunk(xmp) + hugePng), {"", "", xmp}},
        {"PNG chunk with a bad CRC", png, Png(badCrc + XmpChunk(xmp)), {"", "", xmp}},
        {"PNG chunks past IEND", png, Png("") + PngChunk("eXIf", exif), {}},
        {"PNG eXIf with Exif before it", png, Png(PngChunk("eXIf", kExifPrefix + exif)),
         {"", exif, ""}},
        {"WebP chunk past the end", webp, Riff(RiffChunk("ICCP", icc) + overlongRiff),
         {icc, "", ""}},
        {"WebP chunk past the RIFF size", webp,
         Riff(RiffChunk("ICCP", icc) + exifChunk, exifChunk.size()), {icc, "", ""}},
        {"WebP chunk across the RIFF end", webp,
         Riff(RiffChunk("ICCP", icc) + exifChunk, 1), {icc, "", ""}},
        {"WebP RIFF size below its header", webp,
         "RIFF" + std::string("\2\0\0\0", 4) + Riff(exifChunk).substr(8), {}},
        {"WebP odd chunk padded, Exif kept before EXIF", webp,
         Riff(RiffChunk("ICCP", icc) + RiffChunk("EXIF", kExifPrefix + exif) +
              RiffChunk("XMP ", xmp)),
         {icc, exif, xmp}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = ToBytes(row.file);
        ExpectMetadata(row.container.read(file.data(), file.size()), row.expected);
    }
}

TEST(ContainerMetadata, MalformedFilesAreLeftAsTheyAre) {
    const std::vector<Container> containers = Containers();
    const Container &jpeg = containers[0], &png = containers[1], &webp = containers[2];
    const std::string goodJpeg = Jpeg(""), goodPng = Png("");
    const Bytes goodWebP = EncodedWebP();
    std::string overlongJpeg = goodJpeg;
    overlongJpeg[4] = '\x7F';
    std::string overlongPng = goodPng;
    overlongPng[8] = '\x7F';
    struct Row {
        const char* name;
        const Container& container;
        std::string file;
    };
    const Row rows[] = {
        {"not a JPEG", jpeg, "\xFF\xD9" + goodJpeg.substr(2)},
        {"JPEG cut before its picture data", jpeg, goodJpeg.substr(0, goodJpeg.find("\xFF\xDA"))},
        {"JPEG ends before its picture data", jpeg, "\xFF\xD8\xFF\xD9"},
        {"JPEG segment past the end", jpeg, overlongJpeg},
        {"not a PNG", png, "\x88" + goodPng.substr(1)},
        {"PNG without IHDR first", png, kPngSignature + goodPng.substr(8 + kPngHeader.size())},
        {"PNG without IEND", png, goodPng.substr(0, goodPng.size() - 12)},
        {"PNG chunk past the end", png, overlongPng},
        {"WebP that is not one", webp, Riff(RiffChunk("EXIF", "II*\0"))},
        {"WebP cut", webp, std::string(goodWebP.begin(), goodWebP.begin() + goodWebP.size() / 2)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = ToBytes(row.file);
        EXPECT_FALSE(row.container.write(file, {Icc(10, 5), Exif(10, 5), Xmp(20, 5)}));
        EXPECT_TRUE(file == ToBytes(row.file));
    }
}

TEST(JpegMetadata, PiecesLargerThanItsSegmentsHoldAreLeftOut) {
    struct Row {
        size_t icc, exif, xmp;
        size_t iccSegments, exifSegments, xmpSegments;
    };
    const Row rows[] = {
        {65519, 65527, 65504, 1, 1, 1},
        {65520, 65528, 65505, 2, 0, 0},
        {255 * 65519, 100, 100, 255, 1, 1},
        {255 * 65519 + 1, 100, 100, 0, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.icc);
        const PhotoMetadata given{Icc(row.icc, 6), Exif(row.exif, 6), Xmp(row.xmp, 6)};
        Bytes file = ToBytes(Jpeg(""));
        ASSERT_TRUE(WriteJpegMetadata(file, given));
        EXPECT_EQ(Count(file, "ICC_PROFILE"), row.iccSegments);
        EXPECT_EQ(Count(file, kExifPrefix), row.exifSegments);
        EXPECT_EQ(Count(file, kXmpPrefix), row.xmpSegments);
        PhotoMetadata read = ReadJpegMetadata(file.data(), file.size());
        EXPECT_EQ(read.icc.size(), row.iccSegments && row.icc <= kMaxIccBytes ? row.icc : 0);
        EXPECT_EQ(read.exif.size(), row.exifSegments ? row.exif : 0);
        EXPECT_EQ(read.xmp.size(), row.xmpSegments ? row.xmp : 0);
    }
}

TEST(PngMetadata, CompressedPiecesInflateWithinTheirBounds) {
    const SIZE_T peakBefore = PeakMemory();
    const std::string exifChunk = PngChunk("eXIf", Exif(10, 7));
    const std::string largest = Icc(kMaxIccBytes, 7), xmp = Xmp(300, 7);
    const std::string stream = Zlib(Icc(1000, 7));
    struct Row {
        const char* name;
        std::string chunks;
        std::string icc, xmp;
    };
    const Row rows[] = {
        {"profile of the largest size", IccpChunk("ICC Profile", '\0', Zlib(largest)), largest, ""},
        {"profile one byte larger", IccpChunk("ICC Profile", '\0', Zlib(largest + 'a')), "", ""},
        {"bomb of a gigabyte", IccpChunk("x", '\0', ZlibZeros(1 + 258 * 4000000)), "", ""},
        {"stream cut in half", IccpChunk("x", '\0', stream.substr(0, stream.size() / 2)), "", ""},
        {"stream without its checksum", IccpChunk("x", '\0', stream.substr(0, stream.size() - 4)),
         "", ""},
        {"unknown method", IccpChunk("x", '\1', Zlib("profile")), "", ""},
        {"no keyword", IccpChunk("", '\0', Zlib("profile")), "", ""},
        {"keyword of 79", IccpChunk(std::string(79, 'k'), '\0', Zlib("profile")), "profile", ""},
        {"keyword of 80", IccpChunk(std::string(80, 'k'), '\0', Zlib("profile")), "", ""},
        {"compressed XMP", XmpChunk(xmp, true), "", xmp},
        {"XMP with a language", XmpChunk(xmp, false, "en-GB", "XMP"), "", xmp},
        {"XMP bomb", XmpChunk(std::string(kMaxXmpBytes + 1, ' '), true), "", ""},
        {"XMP of an unknown compression flag",
         PngChunk("iTXt", kXmpKeyword + std::string("\2\0\0\0", 4) + xmp), "", ""},
        {"XMP without its translated keyword",
         PngChunk("iTXt", kXmpKeyword + std::string("\0\0\0", 3) + xmp), "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = ToBytes(Png(row.chunks + exifChunk));
        ExpectMetadata(ReadPngMetadata(file.data(), file.size()), {row.icc, Exif(10, 7), row.xmp});
    }
    EXPECT_LT(PeakMemory() - peakBefore, SIZE_T{256} << 20) << "a bomb stops at its bound";
}

TEST(PngMetadata, ImageMagicksRawProfilesStandInForMissingChunks) {
    const std::string exif = Exif(100, 8), xmp = Xmp(100, 8);
    const std::string otherExif = Exif(20, 9), otherXmp = Xmp(30, 9);
    const std::string app1 = kExifPrefix + exif;
    std::string badDigit = RawProfile("exif", exif, exif.size());
    badDigit[badDigit.size() - 2] = 'g';
    struct Row {
        const char* name;
        std::string chunks;
        std::string exif, xmp;
    };
    const Row rows[] = {
        {"exif", RawProfileChunk("exif", RawProfile("exif", app1, app1.size()), false), exif, ""},
        {"APP1, compressed", RawProfileChunk("APP1", RawProfile("APP1", app1, app1.size()), true),
         exif, ""},
        {"exif without Exif before it",
         RawProfileChunk("exif", RawProfile("exif", exif, exif.size()), true), exif, ""},
        {"upper-case digits",
         RawProfileChunk("exif", RawProfile("exif", exif, exif.size(), true), false), exif, ""},
        {"xmp", RawProfileChunk("xmp", RawProfile("xmp", xmp, xmp.size()), true), "", xmp},
        {"a digit that is not hex", RawProfileChunk("exif", badDigit, false), "", ""},
        {"an odd count of digits",
         RawProfileChunk("exif", RawProfile("exif", exif, exif.size()) + "a", false), "", ""},
        {"length larger than the digits",
         RawProfileChunk("exif", RawProfile("exif", exif, exif.size() + 1), false), "", ""},
        {"length smaller than the digits",
         RawProfileChunk("exif", RawProfile("exif", exif, exif.size() - 1), false), "", ""},
        {"no length", RawProfileChunk("exif", "\nexif\n" + exif, false), "", ""},
        {"not TIFF", RawProfileChunk("exif", RawProfile("exif", "II", 2), false), "", ""},
        {"eXIf after it wins",
         RawProfileChunk("exif", RawProfile("exif", exif, exif.size()), false) +
             PngChunk("eXIf", otherExif),
         otherExif, ""},
        {"only the first is inflated, though it fails",
         RawProfileChunk("exif", badDigit, true) +
             RawProfileChunk("exif", RawProfile("exif", exif, exif.size()), true) +
             RawProfileChunk("xmp", RawProfile("xmp", xmp, xmp.size() + 1), true) +
             RawProfileChunk("xmp", RawProfile("xmp", xmp, xmp.size()), false),
         "", ""},
        {"iTXt before it wins",
         XmpChunk(otherXmp) + RawProfileChunk("xmp", RawProfile("xmp", xmp, xmp.size()), false),
         "", otherXmp},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes file = ToBytes(Png(row.chunks));
        ExpectMetadata(ReadPngMetadata(file.data(), file.size()), {"", row.exif, row.xmp});
    }
}

TEST(ContainerMetadata, WrittenFilesStillDecode) {
    const PhotoMetadata given{Icc(70000, 10), Exif(500, 10), Xmp(400, 10)};
    TempDir temp;
    for (const wchar_t* mimeType : {L"image/jpeg", L"image/png"}) {
        SCOPED_TRACE(mimeType[6] == L'j' ? "JPEG" : "PNG");
        SaveTestImage(temp / L"encoded", mimeType);
        Bytes file = ToBytes(ReadBytes(temp / L"encoded"));
        bool jpeg = mimeType == std::wstring(L"image/jpeg");
        ASSERT_TRUE((jpeg ? WriteJpegMetadata : WritePngMetadata)(file, given));
        ExpectMetadata((jpeg ? ReadJpegMetadata : ReadPngMetadata)(file.data(), file.size()),
                       given);
        WriteBytes(temp / L"written", std::string(file.begin(), file.end()));
        EXPECT_EQ(DecodedSize(temp / L"written"), (ImageSize{16, 12}));
    }
    Bytes webp = EncodedWebP();
    ASSERT_TRUE(WriteWebpMetadata(webp, given));
    ExpectMetadata(ReadWebpMetadata(webp.data(), webp.size()), given);
    int width = 0, height = 0;
    uint8_t* rgba = WebPDecodeRGBA(webp.data(), webp.size(), &width, &height);
    EXPECT_TRUE(rgba != nullptr && width == 3 && height == 2);
    WebPFree(rgba);
}

// An extension segment: its GUID, the whole extension's length, this piece's offset.
std::string ExtensionSegment(const std::string& guid, size_t length, size_t offset, const std::string& piece) {
    std::string header = kExtendedXmpPrefix + guid;
    PutU32(header, static_cast<unsigned>(length), true);
    PutU32(header, static_cast<unsigned>(offset), true);
    return JpegSegment(0xE1, header + piece);
}

std::string PointingXmp(const std::string& guid) {
    return "<x:xmpmeta><rdf:RDF><rdf:Description><xmpNote:HasExtendedXMP>" + guid +
           "</xmpNote:HasExtendedXMP></rdf:Description></rdf:RDF></x:xmpmeta>";
}

TEST(JpegMetadata, ExtendedXmpIsReadOnlyWholeAndTrueToItsDigest) {
    const std::string extension = "<x:xmpmeta><rdf:RDF>" + Letters(150000, 11) + "</rdf:RDF></x:xmpmeta>";
    const std::string guid = Md5Hex(extension), other = Md5Hex("other");
    const size_t n = extension.size();
    auto piece = [&](size_t from, size_t to) { return ExtensionSegment(guid, n, from, extension.substr(from, to - from)); };
    const std::string whole = piece(0, 65000) + piece(65000, 130000) + piece(130000, n);
    std::string damaged = extension;
    damaged[5] ^= 1;
    struct Row {
        const char* name;
        std::string pointer;  // the GUID the main packet holds
        std::string segments;
        std::string expected;
    };
    const Row rows[] = {
        {"in order", guid, whole, extension},
        {"out of order, among another extension's", guid,
         piece(130000, n) + ExtensionSegment(other, 5, 0, "other") + piece(0, 65000) + piece(65000, 130000),
         extension},
        {"a piece missing", guid, piece(0, 65000) + piece(130000, n), ""},
        {"the last piece missing", guid, piece(0, 65000) + piece(65000, 130000), ""},
        {"pieces overlapping", guid, piece(0, 65000) + piece(64000, 130000) + piece(130000, n), ""},
        {"a piece twice", guid, whole + piece(0, 65000), ""},
        {"lengths disagreeing", guid,
         piece(0, 65000) + ExtensionSegment(guid, n + 1, 65000, extension.substr(65000, 65000)) + piece(130000, n), ""},
        {"a piece past the length", guid, whole + ExtensionSegment(guid, n, n, "x"), ""},
        {"not true to its digest", guid,
         ExtensionSegment(guid, n, 0, damaged.substr(0, 65000)) + piece(65000, 130000) + piece(130000, n), ""},
        {"pointing to another", other, whole, ""},
        {"no pointer", "", whole, ""},
        {"a segment too short for its header", guid, JpegSegment(0xE1, kExtendedXmpPrefix + guid) + whole, extension},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string main = row.pointer.empty() ? Xmp(40, 11) : PointingXmp(row.pointer);
        Bytes file = ToBytes(Jpeg(JpegSegment(0xE1, kXmpPrefix + main) + row.segments));
        PhotoMetadata read = ReadJpegMetadata(file.data(), file.size());
        EXPECT_EQ(read.xmp, main);
        EXPECT_TRUE(read.extendedXmp == row.expected) << read.extendedXmp.size();
    }
}

TEST(JpegMetadata, ExtendedXmpIsWrittenAfterItsMainPacketOnly) {
    struct Row {
        size_t mainBytes, extensionBytes;
        size_t extensionSegments;
    };
    const Row rows[] = {{100, 65458, 1}, {100, 65459, 2}, {100, 300000, 5}, {65505, 1000, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.extensionBytes);
        const std::string extension = Xmp(row.extensionBytes, 12);
        std::string main = PointingXmp(Md5Hex(extension));
        main += std::string(row.mainBytes > main.size() ? row.mainBytes - main.size() : 0, ' ');
        Bytes file = ToBytes(Jpeg(ExtensionSegment(Md5Hex("old"), 3, 0, "old")));
        ASSERT_TRUE(WriteJpegMetadata(file, {"", "", main, extension}));
        EXPECT_EQ(Count(file, kExtendedXmpPrefix), row.extensionSegments);
        EXPECT_EQ(Count(file, "old"), 0u);
        PhotoMetadata read = ReadJpegMetadata(file.data(), file.size());
        EXPECT_EQ(read.extendedXmp.size(), row.extensionSegments ? extension.size() : 0);
        EXPECT_TRUE(read.extendedXmp == (row.extensionSegments ? extension : ""));
    }
}

}  // namespace
