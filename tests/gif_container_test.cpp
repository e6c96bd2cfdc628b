#include "gif_container.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes Le16(unsigned v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes Text(const char* text) { return Bytes(text, text + std::char_traits<char>::length(text)); }

const Bytes kTwoColours = {0, 0, 0, 255, 255, 255};
// LZW data of a 2x2 picture of index 0: code size 2, then clear, 4 zeros and end in one block.
const Bytes kPixels = {2, 2, 0x84, 0x51, 0};

Bytes Screen(unsigned w, unsigned h, bool table) {
    return Text("GIF89a") + Le16(w) + Le16(h) + Bytes{uint8_t(table ? 0xF0 : 0x70), 0, 0} +
           (table ? kTwoColours : Bytes{});
}
Bytes Control(unsigned disposal, unsigned delay, int transparent) {
    return Bytes{0x21, 0xF9, 4, uint8_t(disposal << 2 | (transparent >= 0 ? 1 : 0))} + Le16(delay) +
           Bytes{uint8_t(transparent >= 0 ? transparent : 0), 0};
}
Bytes Loop(unsigned n) { return Bytes{0x21, 0xFF, 11} + Text("NETSCAPE2.0") + Bytes{3, 1} + Le16(n) + Bytes{0}; }
Bytes Picture(unsigned left, unsigned top, bool localTable, const Bytes& data = kPixels) {
    return Bytes{0x2C} + Le16(left) + Le16(top) + Le16(2) + Le16(2) +
           Bytes{uint8_t(localTable ? 0x80 : 0)} + (localTable ? kTwoColours : Bytes{}) + data;
}
const Bytes kComment = Bytes{0x21, 0xFE, 3, 'h', 'i', '!', 0};
const Bytes kEnd = {0x3B};

struct ReadCase {
    const char* what;
    Bytes file;
    int plays;
    // Per frame: left, delay in ms, transparent index, disposal, colour table's offset.
    std::vector<std::vector<int>> frames;
};

TEST(GifContainer, ReadsFramesPlacementDelaysAndLoopCount) {
    const size_t global = 13;
    const ReadCase cases[] = {
        {"two frames, played forever; delays of 0 and 1 hundredths show as 100 ms",
         Screen(4, 4, true) + Loop(0) + Control(1, 0, -1) + Picture(0, 0, false) +
             Control(2, 1, 1) + Picture(2, 2, false) + kEnd,
         0, {{0, 100, -1, 1, int(global)}, {2, 100, 1, 2, int(global)}}},
        {"a loop count of 2 plays 3 times; a local table; a comment between frames",
         Screen(4, 4, true) + Loop(2) + Control(3, 7, 0) + Picture(0, 0, true) + kComment +
             Picture(1, 0, false) + kEnd,
         3, {{0, 70, 0, 3, int(global + 6 + 19 + 8 + 10)}, {1, 0, -1, 1, int(global)}}},
        {"no loop extension plays once; the control applies to the next frame alone",
         Screen(4, 4, true) + Control(2, 50, -1) + Picture(0, 0, false) + Picture(0, 0, false) + kEnd,
         1, {{0, 500, -1, 2, int(global)}, {0, 0, -1, 1, int(global)}}},
        {"a frame whose data runs past the end is not read, nor what follows",
         Screen(4, 4, true) + Picture(0, 0, false) + Picture(0, 0, false, {2, 9, 1}), 1,
         {{0, 0, -1, 1, int(global)}}},
        {"no colour table at all", Screen(4, 4, false) + Picture(0, 0, false) + kEnd, 1,
         {{0, 0, -1, 1, 13}}},
        {"not a GIF", Text("GIF90a") + Screen(4, 4, true), 1, {}},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        GifLayout layout = ReadGifLayout(c.file.data(), c.file.size());
        EXPECT_EQ(layout.plays, c.plays);
        ASSERT_EQ(layout.frames.size(), c.frames.size());
        for (size_t i = 0; i < c.frames.size(); ++i) {
            const GifFrame& f = layout.frames[i];
            EXPECT_EQ(f.left, c.frames[i][0]);
            EXPECT_EQ(int(f.delayMs), c.frames[i][1]);
            EXPECT_EQ(f.transparent, c.frames[i][2]);
            EXPECT_EQ(int(f.disposal), c.frames[i][3]);
            EXPECT_EQ(int(f.table), c.frames[i][4]);
            EXPECT_EQ(f.width, 2);
            EXPECT_EQ(f.data + kPixels.size(), f.dataEnd);
        }
    }
}

TEST(GifContainer, TakesAFrameOutAsAGifOfItsOwn) {
    Bytes file = Screen(8, 8, true) + Control(2, 10, -1) + Picture(0, 0, false) +
                 Control(3, 10, 1) + Picture(5, 6, true) + kEnd;
    GifLayout layout = ReadGifLayout(file.data(), file.size());
    ASSERT_EQ(layout.frames.size(), 2u);
    // At its own size and place, with its own table, its transparency and its data.
    EXPECT_EQ(SingleFrameGif(file.data(), layout.frames[1]),
              Screen(2, 2, true) + Control(0, 0, 1) + Picture(0, 0, false) + kEnd);
    EXPECT_EQ(SingleFrameGif(file.data(), layout.frames[0]),
              Screen(2, 2, true) + Picture(0, 0, false) + kEnd);
}

struct WriteCase {
    const char* what;
    int plays;
    unsigned delayMs;
    int transparent;
    Bytes expected;
};

TEST(GifContainer, WritesAnAnimationFromOneFrameGifs) {
    const Bytes single = Screen(2, 2, true) + Control(0, 0, 0) + Picture(0, 0, false) + kEnd;
    const Bytes frameAfter = Bytes{0x2C} + Le16(3) + Le16(4) + Le16(2) + Le16(2) + Bytes{0x80} +
                             kTwoColours + kPixels;
    const Bytes head = Text("GIF89a") + Le16(9) + Le16(7) + Bytes{0x70, 0, 0};
    const WriteCase cases[] = {
        {"forever: a loop count of 0", 0, 70, -1, head + Loop(0) + Control(2, 7, -1) + frameAfter},
        {"once: no loop extension", 1, 1000, 1, head + Control(2, 100, 1) + frameAfter},
        {"three times: a loop count of 2", 3, 0, -1, head + Loop(2) + Control(2, 2, -1) + frameAfter},
        {"more than a loop count holds", 70000, 14, -1, head + Loop(65535) + Control(2, 2, -1) + frameAfter},
        {"delays rounded to hundredths", 1, 25, -1, head + Control(2, 3, -1) + frameAfter},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out = GifAnimationHead(9, 7, c.plays);
        ASSERT_TRUE(AppendGifFrame(out, single.data(), single.size(), 3, 4, c.delayMs, c.transparent,
                                   GifDisposal::Background));
        EXPECT_EQ(out, c.expected);
        // And read back as written, as an encoder's frame would be.
        out.push_back(kGifTrailer);
        GifLayout layout = ReadGifLayout(out.data(), out.size());
        ASSERT_EQ(layout.frames.size(), 1u);
        EXPECT_EQ(layout.plays, std::min(c.plays, 65536));
        EXPECT_EQ(layout.frames[0].delayMs, GifShownDelayMs(GifDelayCentiseconds(c.delayMs)));
        EXPECT_EQ(layout.frames[0].transparent, c.transparent);
        EXPECT_EQ(layout.frames[0].left, 3);
    }
    Bytes out;
    const Bytes tableLess = Screen(2, 2, false) + Picture(0, 0, false) + kEnd;
    EXPECT_FALSE(AppendGifFrame(out, tableLess.data(), tableLess.size(), 0, 0, 0, -1,
                                GifDisposal::Keep));
    EXPECT_FALSE(AppendGifFrame(out, head.data(), head.size(), 0, 0, 0, -1, GifDisposal::Keep));
    EXPECT_TRUE(out.empty());
}

}  // namespace
