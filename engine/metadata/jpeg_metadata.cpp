#include "jpeg_metadata.h"

#include "container_bytes.h"
#include "md5.h"
#include "xmp_edit.h"

#include <algorithm>

namespace {

constexpr uint8_t kApp0 = 0xE0;
constexpr uint8_t kApp1 = 0xE1;
constexpr uint8_t kApp2 = 0xE2;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kEndOfImage = 0xD9;

constexpr char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/";  // with its terminator
constexpr size_t kXmpPrefixSize = sizeof kXmpPrefix;
constexpr char kExtendedXmpPrefix[] = "http://ns.adobe.com/xmp/extension/";
constexpr size_t kExtendedXmpPrefixSize = sizeof kExtendedXmpPrefix;
constexpr size_t kGuidSize = 32;  // the extension's MD5 in hexadecimal digits
// Then the extension's whole length and this piece's offset in it, 32 bits each.
constexpr size_t kExtendedXmpHeaderSize = kExtendedXmpPrefixSize + kGuidSize + 8;
constexpr char kIccPrefix[] = "ICC_PROFILE";
constexpr size_t kIccPrefixSize = sizeof kIccPrefix;
constexpr size_t kIccHeaderSize = kIccPrefixSize + 2;  // then sequence number and count

constexpr size_t kMaxSegmentBody = 65533;  // a 16-bit length that counts itself
constexpr size_t kMaxIccChunkBytes = kMaxSegmentBody - kIccHeaderSize;
constexpr size_t kMaxIccChunks = 255;
constexpr size_t kMaxExtendedXmpPiece = kMaxSegmentBody - kExtendedXmpHeaderSize;

struct Segment {
    size_t start;  // its marker
    size_t end;    // past its body
    uint8_t marker;
    const uint8_t* body;
    size_t bodySize;

    bool Holds(uint8_t app, const char* prefix, size_t prefixSize) const {
        return marker == app && StartsWith(body, bodySize, prefix, prefixSize);
    }
};

// The segments from SOI to SOS, which is the last; true when they reach it whole. Standalone
// markers come as segments without a body.
bool ReadSegments(const uint8_t* data, size_t size, std::vector<Segment>& segments) {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 2 <= size) {
        if (data[at] != 0xFF) return false;
        uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // TEM, RSTn
            segments.push_back({at, at + 2, marker, data + at + 2, 0});
            at += 2;
            continue;
        }
        if (marker == kEndOfImage || marker == 0xD8 || marker == 0x00 || at + 4 > size)
            return false;
        size_t length = Load16(data + at + 2, true);
        if (length < 2 || length > size - at - 2) return false;
        segments.push_back({at, at + 2 + length, marker, data + at + 4, length - 2});
        if (marker == kStartOfScan) return true;
        at += 2 + length;
    }
    return false;
}

struct IccChunk {
    uint8_t sequence;
    uint8_t count;
    const uint8_t* data;
    size_t size;
};

// The profile joined from its chunks in sequence order, or nothing unless they are exactly
// chunks 1..count of one count.
std::string JoinIccChunks(std::vector<IccChunk> chunks) {
    if (chunks.empty() || chunks.size() != chunks[0].count) return {};
    std::sort(chunks.begin(), chunks.end(),
              [](const IccChunk& a, const IccChunk& b) { return a.sequence < b.sequence; });
    std::string profile;
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (size_t{chunks[i].sequence} != i + 1 || chunks[i].count != chunks[0].count)
            return {};
        if (chunks[i].size > kMaxIccBytes - profile.size()) return {};
        profile.append(reinterpret_cast<const char*>(chunks[i].data), chunks[i].size);
    }
    return profile;
}

struct ExtendedXmpPiece {
    std::string guid;
    uint32_t length;  // of the whole extension
    uint32_t offset;
    const uint8_t* data;
    size_t size;
};

// The extension named guid joined from its pieces, or nothing unless pieces of that name
// tile it exactly and its digest is guid.
std::string JoinExtendedXmp(std::vector<ExtendedXmpPiece> pieces, const std::string& guid) {
    pieces.erase(std::remove_if(pieces.begin(), pieces.end(),
                                [&](const ExtendedXmpPiece& piece) { return piece.guid != guid; }),
                 pieces.end());
    if (pieces.empty() || pieces[0].length > kMaxXmpBytes) return {};
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const ExtendedXmpPiece& a, const ExtendedXmpPiece& b) { return a.offset < b.offset; });
    std::string extension;
    for (const ExtendedXmpPiece& piece : pieces) {
        if (piece.length != pieces[0].length || piece.offset != extension.size() ||
            piece.size > piece.length - extension.size())
            return {};
        extension.append(reinterpret_cast<const char*>(piece.data), piece.size);
    }
    if (extension.size() != pieces[0].length || Md5Hex(extension) != guid) return {};
    return extension;
}

void PutSegment(std::vector<uint8_t>& out, uint8_t marker, const char* prefix, size_t prefixSize,
                const std::string& body) {
    out.push_back(0xFF);
    out.push_back(marker);
    PutBigEndian16(out, 2 + prefixSize + body.size());
    Append(out, prefix, prefixSize);
    Append(out, body.data(), body.size());
}

void PutIccSegments(std::vector<uint8_t>& out, const std::string& profile) {
    size_t count = (profile.size() + kMaxIccChunkBytes - 1) / kMaxIccChunkBytes;
    if (count > kMaxIccChunks) return;
    for (size_t i = 0; i < count; ++i) {
        std::string chunk = profile.substr(i * kMaxIccChunkBytes, kMaxIccChunkBytes);
        chunk.insert(0, {static_cast<char>(i + 1), static_cast<char>(count)});
        PutSegment(out, kApp2, kIccPrefix, kIccPrefixSize, chunk);
    }
}

void PutExtendedXmpSegments(std::vector<uint8_t>& out, const std::string& extension) {
    std::string guid = Md5Hex(extension);
    for (size_t offset = 0; offset < extension.size(); offset += kMaxExtendedXmpPiece) {
        std::vector<uint8_t> header(guid.begin(), guid.end());
        PutBigEndian32(header, extension.size());
        PutBigEndian32(header, offset);
        PutSegment(out, kApp1, kExtendedXmpPrefix, kExtendedXmpPrefixSize,
                   std::string(header.begin(), header.end()) + extension.substr(offset, kMaxExtendedXmpPiece));
    }
}

}  // namespace

PhotoMetadata ReadJpegMetadata(const uint8_t* data, size_t size) {
    std::vector<Segment> segments;
    ReadSegments(data, size, segments);  // a cut file still holds what came before the cut
    PhotoMetadata metadata;
    bool exifSeen = false, xmpSeen = false;
    std::vector<IccChunk> iccChunks;
    std::vector<ExtendedXmpPiece> extendedXmp;
    for (const Segment& segment : segments) {
        if (!exifSeen && segment.Holds(kApp1, kExifPrefix, kExifPrefixSize)) {
            exifSeen = true;
            metadata.exif = TiffStructuredExif(segment.body, segment.bodySize);
        } else if (!xmpSeen && segment.Holds(kApp1, kXmpPrefix, kXmpPrefixSize)) {
            xmpSeen = true;
            metadata.xmp.assign(reinterpret_cast<const char*>(segment.body) + kXmpPrefixSize,
                                segment.bodySize - kXmpPrefixSize);
        } else if (segment.Holds(kApp1, kExtendedXmpPrefix, kExtendedXmpPrefixSize) &&
                   segment.bodySize >= kExtendedXmpHeaderSize) {
            const uint8_t* header = segment.body + kExtendedXmpPrefixSize;
            extendedXmp.push_back({std::string(reinterpret_cast<const char*>(header), kGuidSize),
                                   Load32(header + kGuidSize, true), Load32(header + kGuidSize + 4, true),
                                   segment.body + kExtendedXmpHeaderSize,
                                   segment.bodySize - kExtendedXmpHeaderSize});
        } else if (segment.Holds(kApp2, kIccPrefix, kIccPrefixSize) &&
                   segment.bodySize >= kIccHeaderSize) {
            iccChunks.push_back({segment.body[kIccPrefixSize], segment.body[kIccPrefixSize + 1],
                                 segment.body + kIccHeaderSize, segment.bodySize - kIccHeaderSize});
        }
    }
    metadata.icc = JoinIccChunks(std::move(iccChunks));
    std::string guid = ExtendedXmpGuid(metadata.xmp);
    if (guid.size() == kGuidSize) metadata.extendedXmp = JoinExtendedXmp(std::move(extendedXmp), guid);
    return metadata;
}

bool WriteJpegMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata) {
    std::vector<Segment> segments;
    if (!ReadSegments(file.data(), file.size(), segments)) return false;
    size_t first = 0;  // JFIF, and JFXX which must follow it
    while (segments[first].marker == kApp0) ++first;
    std::vector<uint8_t> added;
    if (!metadata.exif.empty() && metadata.exif.size() <= kMaxSegmentBody - kExifPrefixSize)
        PutSegment(added, kApp1, kExifPrefix, kExifPrefixSize, metadata.exif);
    if (!metadata.xmp.empty() && metadata.xmp.size() <= kMaxSegmentBody - kXmpPrefixSize) {
        PutSegment(added, kApp1, kXmpPrefix, kXmpPrefixSize, metadata.xmp);
        PutExtendedXmpSegments(added, metadata.extendedXmp);
    }
    PutIccSegments(added, metadata.icc);
    std::vector<std::pair<size_t, size_t>> kept;
    for (size_t i = first; i < segments.size(); ++i) {
        const Segment& segment = segments[i];
        if (segment.Holds(kApp1, kExifPrefix, kExifPrefixSize) ||
            segment.Holds(kApp1, kXmpPrefix, kXmpPrefixSize) ||
            segment.Holds(kApp1, kExtendedXmpPrefix, kExtendedXmpPrefixSize) ||
            segment.Holds(kApp2, kIccPrefix, kIccPrefixSize))
            continue;
        kept.emplace_back(segment.start, segment.end);
    }
    kept.emplace_back(segments.back().end, file.size());
    // Fill bytes between the leading segments go with them.
    KeepSpansAfter(file, first > 0 ? segments[first - 1].end : 2, kept, added);
    return true;
}
