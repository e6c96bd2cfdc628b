#include "png_metadata.h"

#include "container_bytes.h"

#include <zlib.h>

#include <algorithm>

namespace {

constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
constexpr size_t kSignatureSize = 8;
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFF;
constexpr size_t kMaxKeyword = 79;

constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";
constexpr char kIccKeyword[] = "ICC Profile";
constexpr char kRawProfile[] = "Raw profile type ";

struct Chunk {
    size_t start;  // its length field
    size_t end;    // past its CRC
    char type[5];
    const uint8_t* data;
    size_t size;

    bool Is(const char* name) const { return std::strcmp(type, name) == 0; }
    // Asked only of the chunks whose content is read: the picture's own would cost a pass
    // over every byte of it.
    bool CrcMatches() const {
        uLong crc = crc32(0, data - 4, static_cast<uInt>(4 + size));
        return crc == Load32(data + size, true);
    }
};

// The chunks after the signature up to IEND, which is the last; true when they reach it whole.
bool ReadChunks(const uint8_t* data, size_t size, std::vector<Chunk>& chunks) {
    if (!StartsWith(data, size, kSignature, kSignatureSize)) return false;
    size_t at = kSignatureSize;
    while (at + 12 <= size) {
        uint32_t length = Load32(data + at, true);
        if (length > kMaxChunkLength || length > size - at - 12) return false;
        Chunk chunk{at, at + 12 + length, {}, data + at + 8, length};
        std::memcpy(chunk.type, data + at + 4, 4);
        chunks.push_back(chunk);
        if (chunk.Is("IEND")) return true;
        at = chunk.end;
    }
    return false;
}

// A chunk's keyword: 1 to 79 bytes up to a NUL. Empty when there is none; next is past the NUL.
std::string Keyword(const Chunk& chunk, size_t& next) {
    const uint8_t* end = chunk.data + std::min(chunk.size, kMaxKeyword + 1);
    const uint8_t* nul = std::find(chunk.data, end, 0);
    if (nul == end || nul == chunk.data) return {};
    next = static_cast<size_t>(nul - chunk.data) + 1;
    return std::string(reinterpret_cast<const char*>(chunk.data), next - 1);
}

// A zlib stream inflated; false when it is damaged, cut or would grow past limit, which
// bounds what a bomb can make this allocate.
bool Inflate(const uint8_t* data, size_t size, size_t limit, std::string& out) {
    constexpr size_t kStep = 64 << 10;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);  // a chunk's length is below 2^31
    out.clear();
    int status = Z_OK;
    while (status == Z_OK && out.size() <= limit) {
        size_t done = out.size();
        out.resize(done + std::min(kStep, limit + 1 - done));
        stream.next_out = reinterpret_cast<Bytef*>(&out[done]);
        stream.avail_out = static_cast<uInt>(out.size() - done);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(done + (out.size() - done - stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && out.size() <= limit;
}

// The text after a chunk's keyword, inflated when compressed: tEXt holds it plain, zTXt
// compressed, and iTXt says which before its language tag and translated keyword.
bool ChunkText(const Chunk& chunk, size_t at, size_t limit, std::string& text) {
    bool compressed = chunk.Is("zTXt");
    if (chunk.Is("iTXt")) {
        if (at + 2 > chunk.size || chunk.data[at] > 1) return false;
        compressed = chunk.data[at] == 1;
        if (compressed && chunk.data[at + 1] != 0) return false;  // zlib is the only method
        at += 2;
        for (int field = 0; field < 2; ++field) {  // language tag, translated keyword
            const uint8_t* end = chunk.data + chunk.size;
            const uint8_t* nul = std::find(chunk.data + at, end, 0);
            if (nul == end) return false;
            at = static_cast<size_t>(nul - chunk.data) + 1;
        }
    } else if (compressed) {
        if (at >= chunk.size || chunk.data[at] != 0) return false;
        ++at;
    }
    if (compressed) return Inflate(chunk.data + at, chunk.size - at, limit, text);
    if (chunk.size - at > limit) return false;
    text.assign(reinterpret_cast<const char*>(chunk.data) + at, chunk.size - at);
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// ImageMagick's raw profile: "\n<name>\n<spaces><decimal length>\n<hex digits with line
// breaks>". The bytes, or nothing when the text is damaged or the length is wrong or over
// limit.
std::string DecodeRawProfile(const std::string& text, size_t limit) {
    size_t at = text.find('\n', 1);
    if (text.empty() || text[0] != '\n' || at == std::string::npos) return {};
    ++at;
    while (at < text.size() && text[at] == ' ') ++at;
    size_t length = 0;
    size_t digits = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        length = length * 10 + static_cast<size_t>(text[at] - '0');
        if (length > limit) return {};
    }
    if (at == digits || at >= text.size() || text[at] != '\n') return {};
    std::string bytes;
    bytes.reserve(length);
    int high = -1;
    for (++at; at < text.size(); ++at) {
        if (IsSpace(text[at])) continue;
        int digit = HexDigit(text[at]);
        if (digit < 0 || bytes.size() == length) return {};
        if (high < 0) {
            high = digit;
        } else {
            bytes += static_cast<char>(high << 4 | digit);
            high = -1;
        }
    }
    if (high >= 0 || bytes.size() != length) return {};
    return bytes;
}

// Room for a raw profile's hex text: two digits per byte and a line break for every 36 bytes,
// with room to spare for other writers' line lengths.
constexpr size_t RawProfileTextBound(size_t limit) { return limit * 3 + 64; }

bool IsRawProfile(const std::string& keyword, const char* kind) {
    return keyword == std::string(kRawProfile) + kind;
}

bool IsReplacedText(const Chunk& chunk) {
    if (!chunk.Is("tEXt") && !chunk.Is("zTXt") && !chunk.Is("iTXt")) return false;
    size_t next = 0;
    std::string keyword = Keyword(chunk, next);
    return keyword == kXmpKeyword || IsRawProfile(keyword, "exif") ||
           IsRawProfile(keyword, "APP1") || IsRawProfile(keyword, "xmp") ||
           IsRawProfile(keyword, "icc") || IsRawProfile(keyword, "icm");
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::string& head,
              const std::string& body) {
    size_t size = head.size() + body.size();
    PutBigEndian32(out, size);
    size_t typeAt = out.size();
    Append(out, type, 4);
    Append(out, head.data(), head.size());
    Append(out, body.data(), body.size());
    uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(4 + size));
    PutBigEndian32(out, crc);
}

// The zlib stream of data; false when zlib fails.
bool Deflate(const std::string& data, std::string& out) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    out.resize(size);
    if (compress2(reinterpret_cast<Bytef*>(&out[0]), &size,
                  reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return false;
    out.resize(size);
    return true;
}

}  // namespace

PhotoMetadata ReadPngMetadata(const uint8_t* data, size_t size) {
    std::vector<Chunk> chunks;
    ReadChunks(data, size, chunks);  // a cut file still holds what came before the cut
    PhotoMetadata metadata;
    bool iccSeen = false, exifSeen = false, xmpSeen = false;
    // Only the first raw profile of each kind is inflated: a file of many that fail would
    // otherwise have each one inflated up to its bound.
    bool rawExifSeen = false, rawXmpSeen = false;
    std::string rawExif, rawXmp;
    for (const Chunk& chunk : chunks) {
        bool holdsMetadata = chunk.Is("iCCP") || chunk.Is("eXIf") || chunk.Is("iTXt") ||
                             chunk.Is("tEXt") || chunk.Is("zTXt");
        if (!holdsMetadata || !chunk.CrcMatches()) continue;
        size_t next = 0;
        if (chunk.Is("iCCP") && !iccSeen) {
            iccSeen = true;
            std::string keyword = Keyword(chunk, next);
            if (!keyword.empty() && next < chunk.size && chunk.data[next] == 0 &&
                !Inflate(chunk.data + next + 1, chunk.size - next - 1, kMaxIccBytes, metadata.icc))
                metadata.icc.clear();
        } else if (chunk.Is("eXIf") && !exifSeen) {
            exifSeen = true;
            metadata.exif = TiffStructuredExif(chunk.data, chunk.size);
        } else if (chunk.Is("iTXt") || chunk.Is("tEXt") || chunk.Is("zTXt")) {
            std::string keyword = Keyword(chunk, next);
            std::string text;
            if (keyword == kXmpKeyword && chunk.Is("iTXt") && !xmpSeen) {
                xmpSeen = true;
                if (!ChunkText(chunk, next, kMaxXmpBytes, metadata.xmp)) metadata.xmp.clear();
            } else if ((IsRawProfile(keyword, "exif") || IsRawProfile(keyword, "APP1")) &&
                       !rawExifSeen) {
                rawExifSeen = true;
                if (ChunkText(chunk, next, RawProfileTextBound(kMaxExifBytes), text)) {
                    std::string bytes = DecodeRawProfile(text, kMaxExifBytes + kExifPrefixSize);
                    rawExif = TiffStructuredExif(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                 bytes.size());
                }
            } else if (IsRawProfile(keyword, "xmp") && !rawXmpSeen) {
                rawXmpSeen = true;
                if (ChunkText(chunk, next, RawProfileTextBound(kMaxXmpBytes), text))
                    rawXmp = DecodeRawProfile(text, kMaxXmpBytes);
            }
        }
    }
    if (!exifSeen) metadata.exif = std::move(rawExif);
    if (!xmpSeen) metadata.xmp = std::move(rawXmp);
    return metadata;
}

bool WritePngMetadata(std::vector<uint8_t>& file, const PhotoMetadata& metadata) {
    std::vector<Chunk> chunks;
    if (!ReadChunks(file.data(), file.size(), chunks) || !chunks[0].Is("IHDR")) return false;
    std::string profile;
    if (!metadata.icc.empty() && !Deflate(metadata.icc, profile)) return false;
    std::vector<uint8_t> added;
    if (!metadata.icc.empty())
        PutChunk(added, "iCCP", std::string(kIccKeyword, sizeof kIccKeyword) + '\0', profile);
    if (!metadata.exif.empty()) PutChunk(added, "eXIf", {}, metadata.exif);
    if (!metadata.xmp.empty())  // uncompressed, no language tag, no translated keyword
        PutChunk(added, "iTXt", std::string(kXmpKeyword, sizeof kXmpKeyword) + std::string(4, '\0'),
                 metadata.xmp);
    std::vector<std::pair<size_t, size_t>> kept;
    for (size_t i = 1; i < chunks.size(); ++i) {
        const Chunk& chunk = chunks[i];
        if (chunk.Is("iCCP") || chunk.Is("eXIf") || IsReplacedText(chunk) ||
            (chunk.Is("sRGB") && !metadata.icc.empty()))
            continue;
        kept.emplace_back(chunk.start, chunk.end);
    }
    kept.emplace_back(chunks.back().end, file.size());
    KeepSpansAfter(file, chunks[0].end, kept, added);
    return true;
}
