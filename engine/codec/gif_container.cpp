#include "gif_container.h"

#include "container_bytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kHeaderBytes = 13;  // signature, screen size, flags, background, aspect
constexpr uint8_t kHasTable = 0x80;
constexpr uint8_t kInterlaced = 0x40;
constexpr uint8_t kTableBits = 0x07;  // a table of 2^(n+1) entries
constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kPicture = 0x2C;
constexpr uint8_t kGraphicControl = 0xF9;
constexpr uint8_t kApplication = 0xFF;

void PutLe16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// The table-size bits for a table of bytes (3 x a power of two, 2 to 256 entries).
uint8_t TableSizeBits(size_t bytes) {
    uint8_t bits = 0;
    while ((size_t{3} << (bits + 1)) < bytes && bits < 7) ++bits;
    return bits;
}

}  // namespace

size_t GifTableBytes(uint8_t flags) {
    return flags & kHasTable ? size_t{3} << ((flags & kTableBits) + 1) : 0;
}

size_t SkipGifSubBlocks(const uint8_t* data, size_t size, size_t at) {
    while (at < size && data[at] != 0) at += 1 + size_t{data[at]};
    return at < size ? at + 1 : 0;
}

GifLayout ReadGifLayout(const uint8_t* data, size_t size) {
    GifLayout layout;
    if (size < kHeaderBytes ||
        (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0))
        return layout;
    layout.width = Load16(data + 6, false);
    layout.height = Load16(data + 8, false);
    const size_t globalTable = kHeaderBytes;
    const size_t globalBytes = GifTableBytes(data[10]);
    size_t at = kHeaderBytes + globalBytes;
    GifFrame next;
    while (at < size && data[at] != kGifTrailer) {
        if (data[at] == kExtension && at + 2 < size) {
            const uint8_t label = data[at + 1];
            const uint8_t* block = data + at + 2;
            if (label == kGraphicControl && at + 8 <= size && block[0] == 4) {
                const unsigned method = (block[1] >> 2) & 7;
                next.disposal = method == 2   ? GifDisposal::Background
                                : method == 3 ? GifDisposal::Previous
                                              : GifDisposal::Keep;
                next.delayMs = GifShownDelayMs(Load16(block + 2, false));
                next.transparent = block[1] & 1 ? block[4] : -1;
            } else if (label == kApplication && at + 19 <= size && block[0] == 11 &&
                       (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                        std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0) &&
                       block[12] == 3 && block[13] == 1) {
                const unsigned loops = Load16(block + 14, false);
                layout.plays = loops == 0 ? 0 : static_cast<int>(loops) + 1;
            }
            at = SkipGifSubBlocks(data, size, at + 2);
            if (at == 0) break;
        } else if (data[at] == kPicture && at + 10 <= size) {
            const uint8_t* descriptor = data + at;
            GifFrame frame = next;
            frame.left = Load16(descriptor + 1, false);
            frame.top = Load16(descriptor + 3, false);
            frame.width = Load16(descriptor + 5, false);
            frame.height = Load16(descriptor + 7, false);
            frame.interlaced = (descriptor[9] & kInterlaced) != 0;
            const size_t localBytes = GifTableBytes(descriptor[9]);
            frame.table = localBytes ? at + 10 : globalTable;
            frame.tableBytes = localBytes ? localBytes : globalBytes;
            frame.data = at + 10 + localBytes;
            if (frame.data + 1 >= size) break;
            frame.dataEnd = SkipGifSubBlocks(data, size, frame.data + 1);
            if (frame.dataEnd == 0) break;
            if (frame.width > 0 && frame.height > 0) layout.frames.push_back(frame);
            at = frame.dataEnd;
            next = GifFrame{};
        } else {
            break;
        }
    }
    return layout;
}

std::vector<uint8_t> SingleFrameGif(const uint8_t* data, const GifFrame& frame) {
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
    PutLe16(gif, frame.width);
    PutLe16(gif, frame.height);
    gif.push_back(frame.tableBytes ? static_cast<uint8_t>(kHasTable | 0x70 | TableSizeBits(frame.tableBytes))
                                   : 0);
    gif.push_back(0);  // background
    gif.push_back(0);  // aspect
    gif.insert(gif.end(), data + frame.table, data + frame.table + frame.tableBytes);
    if (frame.transparent >= 0)
        gif.insert(gif.end(), {kExtension, kGraphicControl, 4, 1, 0, 0,
                               static_cast<uint8_t>(frame.transparent), 0});
    gif.push_back(kPicture);
    PutLe16(gif, 0);
    PutLe16(gif, 0);
    PutLe16(gif, frame.width);
    PutLe16(gif, frame.height);
    gif.push_back(frame.interlaced ? kInterlaced : 0);
    gif.insert(gif.end(), data + frame.data, data + frame.dataEnd);
    gif.push_back(kGifTrailer);
    return gif;
}

unsigned GifShownDelayMs(unsigned centiseconds) {
    return centiseconds <= 1 ? 100 : centiseconds * 10;
}

uint16_t GifDelayCentiseconds(unsigned ms) {
    return static_cast<uint16_t>(std::clamp((ms + 5) / 10, 2u, 65535u));
}

std::vector<uint8_t> GifAnimationHead(uint16_t width, uint16_t height, int plays) {
    std::vector<uint8_t> head = {'G', 'I', 'F', '8', '9', 'a'};
    PutLe16(head, width);
    PutLe16(head, height);
    head.insert(head.end(), {0x70, 0, 0});  // 8 bits of colour resolution, no global table
    if (plays != 1) {
        head.insert(head.end(), {kExtension, kApplication, 11});
        const char* name = "NETSCAPE2.0";
        head.insert(head.end(), name, name + 11);
        head.insert(head.end(), {3, 1});
        // Browsers play a GIF once more than its loop count says.
        PutLe16(head, plays <= 0 ? 0 : static_cast<unsigned>(std::min(plays - 1, 65535)));
        head.push_back(0);
    }
    return head;
}

bool AppendGifFrame(std::vector<uint8_t>& out, const uint8_t* single, size_t size,
                    uint16_t left, uint16_t top, unsigned delayMs, int transparent,
                    GifDisposal disposal) {
    GifLayout layout = ReadGifLayout(single, size);
    if (layout.frames.empty() || layout.frames[0].tableBytes == 0) return false;
    const GifFrame& frame = layout.frames[0];
    const uint8_t flags = static_cast<uint8_t>(static_cast<unsigned>(disposal) << 2 |
                                               (transparent >= 0 ? 1 : 0));
    out.insert(out.end(), {kExtension, kGraphicControl, 4, flags});
    PutLe16(out, GifDelayCentiseconds(delayMs));
    out.push_back(static_cast<uint8_t>(transparent >= 0 ? transparent : 0));
    out.push_back(0);
    out.push_back(kPicture);
    PutLe16(out, left);
    PutLe16(out, top);
    PutLe16(out, frame.width);
    PutLe16(out, frame.height);
    out.push_back(static_cast<uint8_t>(kHasTable | (frame.interlaced ? kInterlaced : 0) |
                                       TableSizeBits(frame.tableBytes)));
    out.insert(out.end(), single + frame.table, single + frame.table + frame.tableBytes);
    out.insert(out.end(), single + frame.data, single + frame.dataEnd);
    return true;
}
