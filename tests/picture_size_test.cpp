#include "codec.h"
#include "picture_size.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string Le16(unsigned v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Be16(unsigned v) { return {char(v >> 8 & 0xFF), char(v & 0xFF)}; }
std::string Be32(uint32_t v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }
std::string Bytes(const char* text, size_t n) { return std::string(text, n); }

std::string PngHead(uint32_t w, uint32_t h) {
    return "\x89PNG\r\n\x1a\n" + Be32(13) + "IHDR" + Be32(w) + Be32(h) + Bytes("\x08\x06\0\0\0", 5);
}
std::string BmpInfo(int32_t w, int32_t h) {
    return Le32(40) + Le32(static_cast<uint32_t>(w)) + Le32(static_cast<uint32_t>(h)) + Le16(1) + Le16(24);
}
std::string Bmp(int32_t w, int32_t h) { return "BM" + std::string(12, '\0') + BmpInfo(w, h); }
std::string Gif(unsigned w, unsigned h, unsigned left, unsigned top, unsigned fw, unsigned fh,
                const std::string& extensions = "") {
    return "GIF89a" + Le16(w) + Le16(h) + Bytes("\0\0\0", 3) + extensions + "," + Le16(left) +
           Le16(top) + Le16(fw) + Le16(fh) + Bytes("\0", 1);
}
// A picture's data after its descriptor: a code size of 2 and one sub-block of LZW codes.
const std::string kGifData = Bytes("\x02\x02\x44\x01\0", 5);
std::string GifPicture(unsigned left, unsigned top, unsigned w, unsigned h) {
    return "," + Le16(left) + Le16(top) + Le16(w) + Le16(h) + Bytes("\0", 1) + kGifData;
}
std::string Jpeg(const std::string& before, unsigned w, unsigned h) {
    return Bytes("\xFF\xD8", 2) + before + Bytes("\xFF\xC2", 2) + Be16(11) + Bytes("\x08", 1) +
           Be16(h) + Be16(w) + Bytes("\x01\x01\x11\x00", 4);
}
std::string App(unsigned payload) { return Bytes("\xFF\xE1", 2) + Be16(payload + 2) + std::string(payload, 'x'); }
std::string TiffEntry(unsigned tag, unsigned type, uint32_t v) {
    return Le16(tag) + Le16(type) + Le32(1) + (type == 3 ? Le16(v) + Le16(0) : Le32(v));
}
std::string TiffLe(const std::vector<std::string>& entries) {
    std::string directory = Le16(static_cast<unsigned>(entries.size()));
    for (const std::string& entry : entries) directory += entry;
    return Bytes("II*\0", 4) + Le32(8) + directory + Le32(0);
}
std::string TiffLe(unsigned widthType, uint32_t w, uint32_t h) {
    return TiffLe({TiffEntry(256, widthType, w), TiffEntry(257, 4, h)});
}
std::string Icon(const std::vector<std::string>& pictures) {
    std::string head = Bytes("\0\0\1\0", 4) + Le16(static_cast<unsigned>(pictures.size()));
    std::string data;
    size_t offset = 6 + 16 * pictures.size();
    for (const std::string& p : pictures) {
        head += std::string(8, '\0') + Le32(static_cast<uint32_t>(p.size())) +
                Le32(static_cast<uint32_t>(offset + data.size()));
        data += p;
    }
    return head + data;
}

struct Case {
    const char* what;
    std::string bytes;
    DeclaredSize expected;
    uint64_t width;
    uint64_t height;
};

TEST(ReadDeclaredSize, ReadsWhatEachFormatsHeadersDeclare) {
    const Case cases[] = {
        {"png", PngHead(640, 480), DeclaredSize::Found, 640, 480},
        {"png bomb", PngHead(200000, 200000), DeclaredSize::Found, 200000, 200000},
        {"png cut in its header", PngHead(640, 480).substr(0, 20), DeclaredSize::Damaged, 0, 0},
        {"png without IHDR first", "\x89PNG\r\n\x1a\n" + Be32(13) + "IDAT" + Be32(1) + Be32(1),
         DeclaredSize::Damaged, 0, 0},
        {"bmp", Bmp(127, 64), DeclaredSize::Found, 127, 64},
        {"bmp top down", Bmp(127, -64), DeclaredSize::Found, 127, 64},
        {"bmp most negative height", Bmp(10, INT32_MIN), DeclaredSize::Found, 10, 2147483648u},
        {"os/2 bmp", "BM" + std::string(12, '\0') + Le32(12) + Le16(30) + Le16(20) + Le16(1) + Le16(24),
         DeclaredSize::Found, 30, 20},
        {"bmp with a header too small", "BM" + std::string(12, '\0') + Le32(8) + Le32(1),
         DeclaredSize::Damaged, 0, 0},
        {"gif", Gif(100, 50, 0, 0, 100, 50), DeclaredSize::Found, 100, 50},
        {"gif picture beyond its screen", Gif(10, 10, 65000, 0, 65000, 3), DeclaredSize::Found,
         130000, 10},
        {"gif after a long comment",
         Gif(8, 8, 0, 0, 8, 8, Bytes("\x21\xFE", 2) + std::string(300, '\0').replace(0, 1, "\xFF") +
                                   std::string(1, '\0')),
         DeclaredSize::Damaged, 0, 0},
        {"gif bomb in its second picture",
         Gif(1, 1, 0, 0, 1, 1) + kGifData +
             Bytes("\x21\xF9\x04\0\0\0\0\0", 8) + GifPicture(0, 0, 12000, 12000) + ";",
         DeclaredSize::Found, 12000, 12000},
        {"gif whose later picture lies beyond its screen",
         Gif(10, 10, 0, 0, 10, 10) + kGifData +
             GifPicture(60000, 5, 100, 40000),
         DeclaredSize::Found, 60100, 40005},
        {"gif cut inside its second picture's descriptor",
         Gif(30, 20, 0, 0, 30, 20) + kGifData + GifPicture(0, 0, 50, 60).substr(0, 6),
         DeclaredSize::Found, 30, 20},
        {"gif cut inside its second picture's data",
         Gif(30, 20, 0, 0, 30, 20) + kGifData + GifPicture(0, 0, 50, 60).substr(0, 12),
         DeclaredSize::Found, 50, 60},
        {"gif with no picture", "GIF89a" + Le16(8) + Le16(8) + Bytes("\0\0\0;", 4),
         DeclaredSize::Damaged, 0, 0},
        {"jpeg after app segments", Jpeg(App(70000 % 65000) + App(100), 4000, 3000),
         DeclaredSize::Found, 4000, 3000},
        {"jpeg with fill bytes and restart marker", Jpeg(Bytes("\xFF\xFF\xFF\xD0", 4), 65535, 65535),
         DeclaredSize::Found, 65535, 65535},
        // After the stuffed zero a reader that takes it for a segment lands on a 1x1 frame
        // inside the APP1 segment; libjpeg passes over it and finds the real frame.
        {"jpeg with a stuffed zero before a segment holding a frame's bytes",
         Jpeg(Bytes("\xFF\x00\x00\x06", 4) + Bytes("\xFF\xE1", 2) + Be16(2 + 13) +
                  Jpeg("", 1, 1).substr(2),
              30000, 30000),
         DeclaredSize::Found, 30000, 30000},
        {"jpeg whose scan comes before any frame", Bytes("\xFF\xD8\xFF\xDA", 4) + Be16(2),
         DeclaredSize::Damaged, 0, 0},
        {"jpeg cut inside a segment", Jpeg(App(100), 10, 10).substr(0, 50), DeclaredSize::Damaged, 0, 0},
        {"tiff with short width", TiffLe(3, 300, 200), DeclaredSize::Found, 300, 200},
        {"tiff bomb", TiffLe(4, 100000, 100000), DeclaredSize::Found, 100000, 100000},
        {"tiff giving its width twice",
         TiffLe({TiffEntry(256, 3, 1), TiffEntry(257, 3, 1), TiffEntry(256, 4, 12000)}),
         DeclaredSize::Damaged, 0, 0},
        {"tiff giving its height twice",
         TiffLe({TiffEntry(256, 4, 12000), TiffEntry(257, 4, 12000), TiffEntry(257, 3, 1)}),
         DeclaredSize::Damaged, 0, 0},
        {"tiff with a float width", TiffLe(11, 1, 1), DeclaredSize::Damaged, 0, 0},
        {"tiff whose directory lies outside", Bytes("II*\0", 4) + Le32(1000), DeclaredSize::Damaged, 0, 0},
        {"icon of a png and a bmp", Icon({PngHead(256, 256), BmpInfo(32, 64)}), DeclaredSize::Found, 256, 256},
        {"icon bomb in its second picture", Icon({BmpInfo(16, 32), PngHead(30000, 30000)}),
         DeclaredSize::Found, 30000, 30000},
        {"icon pointing outside the file", Icon({BmpInfo(16, 32)}).substr(0, 22), DeclaredSize::Damaged, 0, 0},
        {"icon of no pictures", Bytes("\0\0\1\0\0\0", 6), DeclaredSize::Damaged, 0, 0},
        {"webp", "RIFF" + Le32(100) + "WEBPVP8 ", DeclaredSize::OtherFormat, 0, 0},
        {"text", "just some words", DeclaredSize::OtherFormat, 0, 0},
        {"nothing", "", DeclaredSize::OtherFormat, 0, 0},
    };
    for (const Case& c : cases) {
        uint64_t width = 0, height = 0;
        auto data = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(ReadDeclaredSize(data, c.bytes.size(), width, height), c.expected) << c.what;
        if (c.expected == DeclaredSize::Found) {
            EXPECT_EQ(std::make_pair(width, height), std::make_pair(c.width, c.height)) << c.what;
        }
        // Every cut of the bytes is read safely too.
        for (size_t cut = 0; cut < c.bytes.size(); ++cut) ReadDeclaredSize(data, cut, width, height);
    }
}

// Directories one after another, each of width x height, the last one's link given.
std::string TiffPages(const std::vector<std::pair<uint32_t, uint32_t>>& pages, uint32_t lastLink) {
    std::string tiff = Bytes("II*\0", 4) + Le32(8);
    for (size_t i = 0; i < pages.size(); ++i) {
        const uint32_t next = i + 1 < pages.size() ? static_cast<uint32_t>(tiff.size() + 30) : lastLink;
        tiff += Le16(2) + TiffEntry(256, 4, pages[i].first) + TiffEntry(257, 4, pages[i].second) + Le32(next);
    }
    return tiff;
}

TEST(DeclaredPixelsOfPages, AddsUpEveryDirectory) {
    const struct {
        const char* what;
        std::string bytes;
        uint64_t pixels;
    } cases[] = {
        {"three pages", TiffPages({{200, 150}, {200, 150}, {150, 200}}, 0), 90000},
        {"one page", TiffPages({{10, 10}}, 0), 100},
        {"a link past the end ends the pages", TiffPages({{10, 10}, {5, 5}}, 9999), 125},
        // 65,536 directories at most: a loop is not followed for ever.
        {"a page linking back to the first", TiffPages({{10, 10}}, 8), 6553600},
        {"not a TIFF", PngHead(10, 10), 0},
        {"cut in its header", Bytes("II*\0", 4), 0},
    };
    for (const auto& c : cases) {
        auto data = reinterpret_cast<const uint8_t*>(c.bytes.data());
        EXPECT_EQ(DeclaredPixelsOfPages(data, c.bytes.size()), c.pixels) << c.what;
    }
}

// A picture the platform decodes must never be refused for a size misread: the headers give
// the very size the decoder reports (or, for icons and GIFs, an upper bound of it). Which files
// decode, and at what size, is what Wine 8's GDI+ reported (the manifest's gdiplus columns).
TEST(ReadDeclaredSize, AgreesWithTheDecoderOnEveryDecodableCorpusFile) {
    int compared = 0;
    for (const std::vector<std::string>& row : ManifestRows()) {
        if (row.size() < 11 || row[8] != "yes") continue;
        std::string bytes = ReadBytes(CorpusFile(FromUtf8(row[0])));
        uint64_t width = 0, height = 0;
        DeclaredSize found = ReadDeclaredSize(reinterpret_cast<const uint8_t*>(bytes.data()),
                                              bytes.size(), width, height);
        if (found == DeclaredSize::OtherFormat) continue;
        unsigned decodedWidth = 0, decodedHeight = 0;
        ASSERT_EQ(std::sscanf(row[10].c_str(), "%ux%u", &decodedWidth, &decodedHeight), 2) << row[0];
        ASSERT_EQ(found, DeclaredSize::Found) << row[0];
        bool bound = row[0].find(".ico") != std::string::npos || row[0].find(".gif") != std::string::npos;
        if (bound) {
            EXPECT_GE(width * height, uint64_t{decodedWidth} * decodedHeight) << row[0];
        } else {
            EXPECT_EQ(width, decodedWidth) << row[0];
            EXPECT_EQ(height, decodedHeight) << row[0];
        }
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

}  // namespace

namespace {

// The whole road: a small file declaring a huge picture fails without a decoder seeing it
// (the platform's decoders would take a gigabyte and a minute over these).
TEST(ConvertImageFileDeclaredSize, BombsOfEveryFormatFailAndWriteNothing) {
    TempDir dir;
    const SIZE_T peakBefore = PeakMemory();
    const std::pair<const wchar_t*, std::string> bombs[] = {
        {L"bomb.png", PngHead(20000, 20000) + std::string(64, '\0')},
        {L"bomb.bmp", Bmp(20000, -20000) + std::string(64, '\0')},
        {L"bomb.gif", Gif(65535, 65535, 0, 0, 65535, 65535) + std::string(64, '\0')},
        {L"bomb-second.gif", Gif(1, 1, 0, 0, 1, 1) + kGifData + GifPicture(0, 0, 12000, 12000) + std::string(64, '\0')},
        {L"bomb.jpg", Jpeg(App(16), 65535, 65535) + std::string(64, '\0')},
        {L"bomb.tiff", TiffLe(4, 100000, 100000)},
        {L"bomb.ico", Icon({PngHead(30000, 30000)})},
    };
    for (const auto& bomb : bombs) {
        WriteBytes(dir / bomb.first, bomb.second);
        EXPECT_FALSE(ConvertImageFile(dir / bomb.first, dir / L"out.png", L"image/png", 90))
            << bomb.first;
        EXPECT_FALSE(FileExists(dir / L"out.png")) << bomb.first;
    }
    EXPECT_LT(PeakMemory() - peakBefore, SIZE_T{256} << 20);
}

}  // namespace
