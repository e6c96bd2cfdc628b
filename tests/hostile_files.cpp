#include "hostile_files.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <utility>

namespace {

// ---- corpus files with bytes changed ----

struct Patch {
    size_t offset;
    std::string bytes;
};

std::string ReadCorpusFile(const wchar_t* corpusFile) {
    std::string bytes = ReadBytes(CorpusFile(corpusFile));
    const std::wstring name = corpusFile;  // the corpus's own names are ASCII
    if (bytes.empty()) ADD_FAILURE() << "corpus file missing: " << std::string(name.begin(), name.end());
    return bytes;
}

std::string Patched(const wchar_t* corpusFile, std::initializer_list<Patch> patches) {
    std::string bytes = ReadCorpusFile(corpusFile);
    for (const Patch& patch : patches) {
        if (patch.offset + patch.bytes.size() > bytes.size()) return {};
        bytes.replace(patch.offset, patch.bytes.size(), patch.bytes);
    }
    return bytes;
}

// ---- little builders for headers ----

void Put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutBig16(std::string& out, uint32_t value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

void PutBig32(std::string& out, uint32_t value) {
    PutBig16(out, value >> 16);
    PutBig16(out, value & 0xFFFF);
}

// Bits in the order deflate reads them: the first bit is a byte's lowest.
class BitWriter {
public:
    void Bits(uint32_t value, int count) {  // value's lowest bit first
        for (int i = 0; i < count; ++i) Bit((value >> i) & 1u);
    }
    void Code(uint32_t code, int length) {  // a Huffman code, its highest bit first
        for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1u);
    }
    std::string Finish() {
        if (used_) bytes_ += static_cast<char>(current_);
        return bytes_;
    }

private:
    void Bit(uint32_t bit) {
        current_ |= bit << used_;
        if (++used_ == 8) {
            bytes_ += static_cast<char>(current_);
            current_ = 0;
            used_ = 0;
        }
    }
    std::string bytes_;
    uint32_t current_ = 0;
    int used_ = 0;
};

void PngChunk(std::string& png, const char* type, const std::string& data) {
    PutBig32(png, static_cast<uint32_t>(data.size()));
    std::string typed = std::string(type, 4) + data;
    png += typed;
    PutBig32(png, Crc32(typed));
}

constexpr uint32_t kBombSide = 60000;  // 3.6 gigapixels, far beyond any decoder's limit
constexpr uint32_t kBombZeros = 1 + 258 * 4000;

std::string PngBomb() {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    PutBig32(header, kBombSide);
    PutBig32(header, kBombSide);
    header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", ZlibZeros(kBombZeros));
    PngChunk(png, "IEND", "");
    return png;
}

// A GIF's screen of side x side with a global table of 2 colours.
std::string GifScreen(unsigned side) {
    std::string gif = "GIF89a";
    Put16(gif, side);
    Put16(gif, side);
    return gif + std::string("\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF", 9);
}

// A picture's descriptor at 0,0 of side x side.
std::string GifDescriptor(unsigned side) {
    std::string descriptor = ",";
    Put32(descriptor, 0);
    Put16(descriptor, side);
    Put16(descriptor, side);
    return descriptor + '\0';
}

std::string GifBomb() {
    std::string gif = GifScreen(0xFFFF) + GifDescriptor(0xFFFF);
    // LZW with 2-bit pixels: code 0 (pixel 0) again and again, in sub-blocks of 255 bytes.
    gif += '\x02';
    for (int block = 0; block < 16; ++block) gif += '\xFF' + std::string(255, '\0');
    gif += std::string("\x00;", 2);
    return gif;
}

// A canvas of the largest picture and frames of a pixel each, more than ten of them: every
// frame is composed on the whole canvas, so together they are more than a file may decode.
std::string GifFramesBomb() {
    std::string gif = GifScreen(10000);
    for (int frame = 0; frame < 11; ++frame)
        gif += GifDescriptor(1) + std::string("\x02\x02\x44\x01\x00", 5);  // clear, pixel 0, end
    return gif + ";";
}

std::string BmpBomb() {
    // 8-bit run-length coded: a run of zeros per row would cover any size in a few bytes.
    std::string info;
    Put32(info, 40);
    Put32(info, kBombSide);
    Put32(info, kBombSide);
    Put16(info, 1);
    Put16(info, 8);
    Put32(info, 1);  // BI_RLE8
    std::string pixels;
    for (int run = 0; run < 4000; ++run) pixels += std::string("\xFF\x00", 2);
    pixels += std::string("\x00\x01", 2);  // end of bitmap
    Put32(info, static_cast<uint32_t>(pixels.size()));
    Put32(info, 2835);
    Put32(info, 2835);
    Put32(info, 2);
    Put32(info, 0);
    std::string palette("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8);
    std::string bmp = "BM";
    const uint32_t offset = 14 + static_cast<uint32_t>(info.size() + palette.size());
    Put32(bmp, offset + static_cast<uint32_t>(pixels.size()));
    Put32(bmp, 0);
    Put32(bmp, offset);
    return bmp + info + palette + pixels;
}

std::string TiffBomb() {
    // One strip of PackBits runs of zeros, for an 8-bit grey picture.
    std::string strip;
    for (int run = 0; run < 4000; ++run) strip += std::string("\x81\x00", 2);
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t value;
    };
    const Entry entries[] = {
        {256, 4, kBombSide}, {257, 4, kBombSide}, {258, 3, 8},     {259, 3, 32773},
        {262, 3, 1},         {273, 4, 8},         {277, 3, 1},     {278, 4, kBombSide},
        {279, 4, static_cast<uint32_t>(strip.size())},
    };
    std::string tiff = "II*";
    tiff += '\0';
    Put32(tiff, 8 + static_cast<uint32_t>(strip.size()));
    tiff += strip;
    Put16(tiff, sizeof entries / sizeof entries[0]);
    for (const Entry& entry : entries) {
        Put16(tiff, entry.tag);
        Put16(tiff, entry.type);
        Put32(tiff, 1);
        if (entry.type == 3) {
            Put16(tiff, entry.value);
            Put16(tiff, 0);
        } else {
            Put32(tiff, entry.value);
        }
    }
    Put32(tiff, 0);
    return tiff;
}

void JpegSegment(std::string& jpeg, unsigned char marker, const std::string& data) {
    jpeg += '\xFF';
    jpeg += static_cast<char>(marker);
    PutBig16(jpeg, static_cast<uint32_t>(data.size() + 2));
    jpeg += data;
}

std::string JpegBomb() {
    // Baseline grey; each 8x8 block is two bits (DC difference 0, end of block).
    std::string jpeg = "\xFF\xD8";
    JpegSegment(jpeg, 0xDB, '\0' + std::string(64, '\x01'));
    std::string frame("\x08", 1);
    PutBig16(frame, kBombSide);
    PutBig16(frame, kBombSide);
    frame += std::string("\x01\x01\x11\x00", 4);
    JpegSegment(jpeg, 0xC0, frame);
    const std::string oneCode = std::string("\x01", 1) + std::string(15, '\0') + '\0';
    JpegSegment(jpeg, 0xC4, '\x00' + oneCode);  // DC: category 0
    JpegSegment(jpeg, 0xC4, '\x10' + oneCode);  // AC: end of block
    JpegSegment(jpeg, 0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6));
    jpeg += std::string(8000, '\0');
    return jpeg + "\xFF\xD9";
}

std::string WebPBomb() {
    // Lossless: 14-bit sizes allow 16384 x 16384, 268 megapixels.
    std::string vp8l("\x2F", 1);
    const uint32_t side = 16384 - 1;
    Put32(vp8l, side | (side << 14));
    vp8l += std::string(63, '\0');  // the chunk stays of even size
    std::string riff = "WEBPVP8L";
    Put32(riff, static_cast<uint32_t>(vp8l.size()));
    riff += vp8l;
    std::string webp = "RIFF";
    Put32(webp, static_cast<uint32_t>(riff.size()));
    return webp + riff;
}

std::string IcoBomb() {
    // One 256 x 256 entry whose PNG declares the bomb's size.
    const std::string png = PngBomb();
    std::string ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, 1);
    ico += std::string("\x00\x00\x00\x00", 4);
    Put16(ico, 1);
    Put16(ico, 32);
    Put32(ico, static_cast<uint32_t>(png.size()));
    Put32(ico, 22);
    return ico + png;
}

std::string EmfBomb() {
    // A header whose frame is 60000 pixels wide at 96 dpi, and the end record.
    const int32_t frame = static_cast<int32_t>(kBombSide * 2540 / 96);
    std::string header;
    Put32(header, 1);    // EMR_HEADER
    Put32(header, 108);
    for (uint32_t value : {0u, 0u, kBombSide - 1, kBombSide - 1}) Put32(header, value);
    for (int32_t value : {0, 0, frame, frame}) Put32(header, static_cast<uint32_t>(value));
    Put32(header, 0x464D4520);  // " EMF"
    Put32(header, 0x00010000);
    Put32(header, 108 + 20);    // bytes in the file
    Put32(header, 2);           // records
    Put16(header, 1);           // handles
    Put16(header, 0);
    Put32(header, 0);           // description
    Put32(header, 0);
    Put32(header, 0);           // palette entries
    for (uint32_t value : {1024u, 768u, 271u, 203u}) Put32(header, value);  // device px, mm
    Put32(header, 0);  // no pixel format
    Put32(header, 0);
    Put32(header, 0);  // not OpenGL
    for (uint32_t value : {271000u, 203000u}) Put32(header, value);  // device size in µm
    std::string end;
    Put32(end, 14);  // EMR_EOF
    Put32(end, 20);
    Put32(end, 0);
    Put32(end, 16);
    Put32(end, 20);
    return header + end;
}

std::string WmfBomb() {
    // Placeable header: a box 32767 units wide at 1 unit an inch, 3 million pixels at 96 dpi.
    std::string placeable;
    Put32(placeable, 0x9AC6CDD7u);
    Put16(placeable, 0);
    for (int value : {0, 0, 32767, 32767}) Put16(placeable, static_cast<uint32_t>(value));
    Put16(placeable, 1);
    Put32(placeable, 0);
    uint16_t checksum = 0;
    for (size_t i = 0; i < placeable.size(); i += 2)
        checksum ^= static_cast<uint16_t>(static_cast<unsigned char>(placeable[i]) |
                                          static_cast<unsigned char>(placeable[i + 1]) << 8);
    Put16(placeable, checksum);
    std::string records;
    Put16(records, 1);   // in memory
    Put16(records, 9);   // header words
    Put16(records, 0x0300);
    Put32(records, 9 + 3);
    Put16(records, 0);
    Put32(records, 3);
    Put16(records, 0);
    Put32(records, 3);  // META_EOF
    Put16(records, 0);
    return placeable + records;
}

// One seed per input format whose first half the damaged files keep.
struct Seed {
    const wchar_t* extension;
    const wchar_t* corpusFile;
};

const Seed kSeeds[] = {
    {L"png", L"png/pillow/hopper.png"},        {L"gif", L"gif/pillow/hopper.gif"},
    {L"bmp", L"bmp/bmpsuite/g/pal8.bmp"},      {L"tif", L"tiff/pillow/hopper_lzw.tif"},
    {L"jpg", L"jpeg/pillow/hopper.jpg"},       {L"webp", L"webp/pillow/hopper.webp"},
    {L"ico", L"ico/pillow/python.ico"},        {L"emf", L"metafile/libemf2svg/test-000.emf"},
    {L"wmf", L"metafile/libwmf/2doorvan.wmf"},
};

}  // namespace

// One zero literal and then copies of 258 bytes at distance 1, 13 bits each, in one block of
// the fixed codes.
std::string ZlibZeros(uint32_t zeroCount) {
    BitWriter bits;
    bits.Bits(1, 1);       // last block
    bits.Bits(1, 2);       // fixed Huffman codes
    bits.Code(0x30, 8);    // literal 0
    for (uint32_t copied = 1; copied + 258 <= zeroCount; copied += 258) {
        bits.Code(0xC5, 8);  // length 258
        bits.Code(0, 5);     // distance 1
    }
    bits.Code(0, 7);  // end of block
    std::string stream = "\x78\x01" + bits.Finish();
    // Adler-32 of zeros: the sum stays 1, the sum of sums is the count.
    PutBig32(stream, ((zeroCount % 65521u) << 16) | 1u);
    return stream;
}

std::vector<DecoderBreaker> DecoderBreakers() {
    return {
        // A region fill where a comment was: Wine 8's GDI playback writes through a wild
        // pointer, which faults or lands harmlessly as the process's memory happens to lie.
        {{L"wild-write-emf.emf", Patched(L"metafile/libemf2svg/test-000.emf", {{152, "\x47"}})},
         DecoderFault::WildWrite},
        // The picture's width in its bitmap header grows past 2^28: Wine 8's ICO decoder
        // reads beyond its buffer at once, on every machine.
        {{L"crash-ico.ico", Patched(L"ico/pillow/hopper.ico", {{29, "\x10"}})},
         DecoderFault::Crash},
        // A record one byte longer than it is: Wine 8's playback runs on through misaligned
        // records without end.
        {{L"hang-emf.emf", Patched(L"metafile/libemf2svg/test-000.emf", {{324, "\x09"}})},
         DecoderFault::Hang},
    };
}

std::vector<HostileFile> DecompressionBombs() {
    return {
        {L"bomb-png.png", PngBomb()},    {L"bomb-gif.gif", GifBomb()},
        {L"bomb-gif-frames.gif", GifFramesBomb()},
        {L"bomb-bmp.bmp", BmpBomb()},    {L"bomb-tif.tif", TiffBomb()},
        {L"bomb-jpg.jpg", JpegBomb()},   {L"bomb-webp.webp", WebPBomb()},
        {L"bomb-ico.ico", IcoBomb()},    {L"bomb-emf.emf", EmfBomb()},
        {L"bomb-wmf.wmf", WmfBomb()},
    };
}

std::vector<HostileFile> DamagedFiles() {
    std::vector<HostileFile> files;
    for (const Seed& seed : kSeeds) {
        const std::wstring extension = seed.extension;
        std::string whole = ReadCorpusFile(seed.corpusFile);
        const std::wstring name = L"-" + extension + L"." + extension;
        files.push_back({L"empty" + name, std::string()});
        files.push_back({kCutPrefix + (extension + L"." + extension),
                         whole.empty() ? std::string() : whole.substr(0, whole.size() / 2)});
        files.push_back({L"text" + name, "These are notes, not a picture.\r\n"});
    }
    return files;
}

bool WriteHostileFiles(const std::wstring& folder, const std::vector<HostileFile>& files) {
    for (const HostileFile& file : files) {
        std::ofstream out((folder + L"\\" + file.name).c_str(), std::ios::binary | std::ios::trunc);
        out.write(file.bytes.data(), static_cast<std::streamsize>(file.bytes.size()));
        if (!out.good()) return false;
    }
    return true;
}
