// Which picture of an icon is converted, read from the icon's bytes alone.
#include "icon_directory.h"

#include "container_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Png(unsigned width, unsigned height, char depth, char colourType) {
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    PutU32(png, width, true);
    PutU32(png, height, true);
    return png + std::string{depth, colourType, 0, 0, 0, 0, 0, 0, 0};
}
// A bitmap's information header declares the mask's rows too.
std::string Bmp(unsigned width, unsigned rows, unsigned depth, unsigned headerSize = 40) {
    std::string bmp;
    for (unsigned field : {headerSize, width, rows}) PutU32(bmp, field, false);
    PutU32(bmp, 1 | depth << 16, false);
    return bmp + std::string(88, '\x11');
}
// The directory gives each picture as 16x16, its true size and its true offset, which
// patch may then change.
std::string Icon(const std::vector<std::string>& pictures, unsigned type = 1,
                 void (*patch)(std::string&) = nullptr) {
    std::string head("\0\0", 2), data;
    PutU16(head, type, false);
    PutU16(head, static_cast<unsigned>(pictures.size()), false);
    for (const std::string& p : pictures) {
        head += std::string("\x10\x10\0\0\1\0\x20\0", 8);
        PutU32(head, static_cast<unsigned>(p.size()), false);
        PutU32(head, static_cast<unsigned>(6 + 16 * pictures.size() + data.size()), false);
        data += p;
    }
    head += data;
    if (patch) patch(head);
    return head;
}
void SetU32(std::string& s, size_t at, unsigned v) {
    std::string bytes;
    PutU32(bytes, v, false);
    s.replace(at, 4, bytes);
}

std::string Describe(const IconPicture& p) {
    return std::to_string(p.width) + "x" + std::to_string(p.height) + "/" +
           std::to_string(p.bitsPerPixel) + (p.png ? " png" : "");
}

TEST(IconPictures, TheLargestAndThenDeepestPictureIsConverted) {
    const struct {
        const char* what;
        std::string icon;
        std::vector<std::string> pictures;  // in the directory's order
        int chosen;                         // its place among them; -1: none
    } cases[] = {
        {"rising sizes, as ImageMagick writes them",
         Icon({Bmp(16, 32, 32), Bmp(48, 96, 32), Png(256, 256, 8, 6)}),
         {"16x16/32", "48x48/32", "256x256/32 png"}, 2},
        {"the picture's header counts, not the directory",
         Icon({Png(64, 64, 8, 2), Bmp(32, 64, 32)}), {"64x64/24 png", "32x32/32"}, 0},
        {"equal sizes: the deepest, then the first",
         Icon({Bmp(32, 64, 4), Png(32, 32, 16, 6), Bmp(32, 64, 8), Png(32, 32, 8, 4), Png(32, 32, 16, 6)}),
         {"32x32/4", "32x32/64 png", "32x32/8", "32x32/16 png", "32x32/64 png"}, 1},
        {"damaged headers are left out",
         Icon({Bmp(0, 32, 8), Bmp(16, 1, 8), Bmp(16, 32, 0), Bmp(64, 128, 8, 12), Png(64, 64, 8, 5),
               Png(64, 64, 8, 7), Bmp(24, 48, 1)}),
         {"24x24/1"}, 0},
        {"a picture outside the file is left out",
         Icon({Bmp(300, 600, 8), Bmp(16, 32, 8)}, 1, [](std::string& s) { SetU32(s, 18, 100000); }),
         {"16x16/8"}, 0},
        {"a size past the end is cut to the file",
         Icon({Bmp(16, 32, 8)}, 1, [](std::string& s) { SetU32(s, 14, 5000); }), {"16x16/8"}, 0},
        {"more entries declared than there are",
         Icon({Bmp(16, 32, 8)}, 1, [](std::string& s) { s[4] = 40; }), {"16x16/8"}, 0},
        {"no entries", Icon({}), {}, -1},
        {"a cursor is no icon", Icon({Bmp(16, 32, 8)}, 2), {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes(c.icon.begin(), c.icon.end());
        std::vector<IconPicture> pictures = ReadIconPictures(bytes.data(), bytes.size());
        std::vector<std::string> described;
        for (const IconPicture& p : pictures) described.push_back(Describe(p));
        EXPECT_EQ(described, c.pictures);
        std::optional<IconPicture> chosen = LargestIconPicture(pictures);
        for (size_t cut = 0; cut < bytes.size(); ++cut) ReadIconPictures(bytes.data(), cut);
        ASSERT_EQ(chosen.has_value(), c.chosen >= 0);
        if (!chosen) continue;
        EXPECT_EQ(chosen->offset, pictures[static_cast<size_t>(c.chosen)].offset);
        // Alone in an icon of its own, the picture keeps its bytes, and the directory its size.
        std::vector<uint8_t> alone = IconOfOnePicture(bytes.data(), *chosen);
        std::vector<IconPicture> again = ReadIconPictures(alone.data(), alone.size());
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(Describe(again[0]), Describe(*chosen));
        EXPECT_TRUE(std::equal(alone.begin() + 22, alone.end(), bytes.begin() + chosen->offset,
                               bytes.begin() + chosen->offset + chosen->size));
        EXPECT_EQ(alone[6], chosen->width % 256);
        EXPECT_EQ(alone[7], chosen->height % 256);
    }
}

}  // namespace
