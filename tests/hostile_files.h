// Files that break image decoders, made from code so that no tool is needed to replay them:
// corpus files with a few bytes changed that crash or hang the platform's decoders under
// Wine 8, decompression bombs (tiny files whose headers declare a huge picture), and
// damaged files with image names. Every file is named with the extension of its format.
#pragma once

#include <string>
#include <vector>

struct HostileFile {
    std::wstring name;  // a plain file name, e.g. L"hanging.emf"
    std::string bytes;
};

// What an unguarded decoder does with a decoder breaker under Wine 8.
enum class DecoderFault { Crash, Hang };

struct DecoderBreaker {
    HostileFile file;
    DecoderFault fault;
};

// Known crashers and hangers: an EMF whose GDI playback faults, an ICO that faults in the
// platform's ICO decoder, an EMF and an ICO whose decoding never ends.
std::vector<DecoderBreaker> DecoderBreakers();

// One file per input format (PNG, GIF, BMP, TIFF, JPEG, WebP, ICO, EMF, WMF) whose headers
// declare far more than 100 megapixels; each is a few kilobytes and, where the format
// compresses, holds a valid stream of zeros that would expand without end.
std::vector<HostileFile> DecompressionBombs();

// Per input format: a zero-byte file, a corpus file cut in half, and plain text.
std::vector<HostileFile> DamagedFiles();

// Writes each file into folder under its name; false when one cannot be written. A corpus
// file that a maker needs and cannot read is a test failure.
bool WriteHostileFiles(const std::wstring& folder, const std::vector<HostileFile>& files);
