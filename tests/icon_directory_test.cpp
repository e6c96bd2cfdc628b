// Which picture of an icon is converted, read from the icon's bytes alone.
#include "icon_directory.h"

#include "container_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// One picture's bytes: a PNG's signature and header, or a bitmap's information header
// (which declares the mask's rows too) and some bits.
std::string PngPicture(unsigned width, unsigned height, unsigned depth, unsigned colourType) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutU32(png, 13, true);
    png += "IHDR";
    PutU32(png, width, true);
    PutU32(png, height, true);
    return png + std::string{static_cast<char>(depth), static_cast<char>(colourType), 0, 0, 0} +
           std::string(4, '\0');
}
std::string BmpPicture(unsigned width, unsigned rows, unsigned depth, unsigned headerSize = 40) {
    std::string bmp;
    PutU32(bmp, headerSize, false);
    PutU32(bmp, width, false);
    PutU32(bmp, rows, false);
    PutU16(bmp, 1, false);
    PutU16(bmp, depth, false);
    return bmp + std::string(24 + 64, '\x11');
}

struct Entry {
    std::string bytes;
    unsigned directorySize = 16;  // the directory's own width and height byte
    long offsetShift = 0;         // added to the true offset
    long sizeShift = 0;           // added to the true size
};

std::string Icon(const std::vector<Entry>& entries, unsigned type = 1, size_t declared = SIZE_MAX) {
    std::string head("\0\0", 2);
    PutU16(head, type, false);
    PutU16(head, static_cast<unsigned>(declared == SIZE_MAX ? entries.size() : declared), false);
    std::string data;
    size_t offset = 6 + 16 * entries.size();
    for (const Entry& e : entries) {
        head += std::string{static_cast<char>(e.directorySize), static_cast<char>(e.directorySize), 0, 0};
        PutU16(head, 1, false);
        PutU16(head, 32, false);
        PutU32(head, static_cast<unsigned>(static_cast<long>(e.bytes.size()) + e.sizeShift), false);
        PutU32(head, static_cast<unsigned>(static_cast<long>(offset + data.size()) + e.offsetShift), false);
        data += e.bytes;
    }
    return head + data;
}

// A picture as "WxH/depth", with "png" for a PNG.
std::string Describe(const IconPicture& p) {
    return std::to_string(p.width) + "x" + std::to_string(p.height) + "/" +
           std::to_string(p.bitsPerPixel) + (p.png ? " png" : "");
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct Case {
    const char* what;
    std::string icon;
    std::vector<std::string> pictures;  // as Describe gives them, in the directory's order
    std::string chosen;                 // empty: none
};

TEST(IconPictures, TheLargestAndThenDeepestPictureIsConverted) {
    const Case cases[] = {
        {"one bitmap", Icon({{BmpPicture(16, 32, 8)}}), {"16x16/8"}, "16x16/8"},
        {"sizes in rising order, as ImageMagick writes them",
         Icon({{BmpPicture(16, 32, 32)}, {BmpPicture(32, 64, 32)}, {BmpPicture(48, 96, 32)},
               {PngPicture(256, 256, 8, 6), 0}}),
         {"16x16/32", "32x32/32", "48x48/32", "256x256/32 png"}, "256x256/32 png"},
        {"largest first", Icon({{PngPicture(256, 256, 8, 6), 0}, {BmpPicture(48, 96, 32)}}),
         {"256x256/32 png", "48x48/32"}, "256x256/32 png"},
        {"equal sizes: the deepest",
         Icon({{BmpPicture(32, 64, 4)}, {BmpPicture(32, 64, 32)}, {BmpPicture(32, 64, 8)}}),
         {"32x32/4", "32x32/32", "32x32/8"}, "32x32/32"},
        {"equal sizes and depths: the first",
         Icon({{PngPicture(48, 48, 8, 2)}, {BmpPicture(48, 96, 24)}}), {"48x48/24 png", "48x48/24"},
         "48x48/24 png"},
        {"png depths by colour type",
         Icon({{PngPicture(8, 8, 1, 0)}, {PngPicture(8, 8, 16, 6)}, {PngPicture(8, 8, 4, 3)},
               {PngPicture(8, 8, 8, 4)}}),
         {"8x8/1 png", "8x8/64 png", "8x8/4 png", "8x8/16 png"}, "8x8/64 png"},
        {"the picture's header counts, not the directory's bytes",
         Icon({{BmpPicture(48, 96, 32), 0}, {BmpPicture(64, 128, 8), 16}}), {"48x48/32", "64x64/8"},
         "64x64/8"},
        {"a picture whose bytes lie outside the file is left out",
         Icon({{BmpPicture(300, 600, 8), 0, 100000}, {BmpPicture(16, 32, 8)}}), {"16x16/8"}, "16x16/8"},
        {"a size reaching past the end is cut to the file",
         Icon({{BmpPicture(16, 32, 8), 16, 0, 5000}}), {"16x16/8"}, "16x16/8"},
        {"damaged headers are left out",
         Icon({{BmpPicture(0, 32, 8)}, {BmpPicture(16, 1, 8)}, {BmpPicture(16, 32, 0)},
               {BmpPicture(16, 32, 8, 12)}, {PngPicture(16, 16, 8, 5)}, {BmpPicture(24, 48, 1)}}),
         {"24x24/1"}, "24x24/1"},
        {"more entries declared than the file holds", Icon({{BmpPicture(16, 32, 8)}}, 1, 40),
         {"16x16/8"}, "16x16/8"},
        {"no entries", Icon({}), {}, ""},
        {"a cursor is no icon", Icon({{BmpPicture(16, 32, 8)}}, 2), {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = Bytes(c.icon);
        std::vector<IconPicture> pictures = ReadIconPictures(bytes.data(), bytes.size());
        std::vector<std::string> described;
        for (const IconPicture& p : pictures) described.push_back(Describe(p));
        EXPECT_EQ(described, c.pictures);
        std::optional<IconPicture> chosen = LargestIconPicture(pictures);
        EXPECT_EQ(chosen ? Describe(*chosen) : "", c.chosen);
        if (!chosen) continue;
        // Alone in an icon of its own, the picture is the same bytes with the same header.
        std::vector<uint8_t> alone = IconOfOnePicture(bytes.data(), *chosen);
        std::vector<IconPicture> again = ReadIconPictures(alone.data(), alone.size());
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(Describe(again[0]), c.chosen);
        EXPECT_EQ(std::vector<uint8_t>(alone.begin() + 22, alone.end()),
                  std::vector<uint8_t>(bytes.begin() + static_cast<long>(chosen->offset),
                                       bytes.begin() + static_cast<long>(chosen->offset + chosen->size)));
        EXPECT_EQ(alone[6], chosen->width >= 256 ? 0 : chosen->width);
        EXPECT_EQ(alone[7], chosen->height >= 256 ? 0 : chosen->height);
        for (size_t cut = 0; cut < bytes.size(); ++cut) ReadIconPictures(bytes.data(), cut);
    }
}

}  // namespace
