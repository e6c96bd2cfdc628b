// Files that break image decoders, made from code so that no tool is needed to replay them:
// corpus files with a few bytes changed that crash or hang the platform's decoders under
// Wine 8, decompression bombs (tiny files whose headers declare a huge picture), and
// damaged files with image names. Every file is named with the extension of its format, and
// no two files give one output name in any output format: no file's outcome may depend on
// another's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HostileFile {
    std::wstring name;  // a plain file name, e.g. L"hang-emf.emf"
    std::string bytes;
};

// What an unguarded decoder does with a decoder breaker under Wine 8. Only Crash and Hang
// happen on every machine; a wild write faults or not as the process's memory happens to lie,
// so its file may convert.
enum class DecoderFault { Crash, Hang, WildWrite };

struct DecoderBreaker {
    HostileFile file;
    DecoderFault fault;
};

// Known breakers: an EMF whose GDI playback writes through a wild pointer, an ICO that faults
// in the platform's ICO decoder, and an EMF whose playback never ends.
std::vector<DecoderBreaker> DecoderBreakers();

// One file per input format (PNG, GIF, BMP, TIFF, JPEG, WebP, ICO, EMF, WMF) whose headers
// declare far more than 100 megapixels; each is a few kilobytes and, where the format
// compresses, holds a valid stream of zeros that would expand without end.
std::vector<HostileFile> DecompressionBombs();

// A zlib stream of zeroCount zero bytes (1 + a multiple of 258), 1/1,000 of that long.
std::string ZlibZeros(uint32_t zeroCount);

// The name of every cut file begins with this; a cut file may still show the part it has.
inline constexpr wchar_t kCutPrefix[] = L"half-";

// Per input format: a zero-byte file, a corpus file cut in half, and plain text.
std::vector<HostileFile> DamagedFiles();

// Writes each file into folder under its name; false when one cannot be written. A corpus
// file that a maker needs and cannot read is a test failure.
bool WriteHostileFiles(const std::wstring& folder, const std::vector<HostileFile>& files);
