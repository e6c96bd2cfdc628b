// What the program and its codec worker say to each other, as bytes: how the worker is
// started, and the one request and one answer per file. Pure, so that both ends agree by
// construction and tests reach every malformed case.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The random bytes a program hands its worker twice, on the command line and through the
// pipe: only the program that made the pipe knows both.
using WorkerSecret = std::array<uint8_t, 16>;

// The argument that marks a worker's command line; a user never types the rest of it.
inline constexpr wchar_t kWorkerSwitch[] = L"--vorandel-codec-worker";

// "exe" --vorandel-codec-worker <pipe handle> <secret as hex>
std::wstring WorkerCommandLine(const std::wstring& exePath, uint64_t pipeHandle,
                               const WorkerSecret& secret);

// The pipe handle and secret of a worker's arguments (argv[0] first); false for any other
// command line, which then starts the program as usual.
bool ParseWorkerArguments(const std::vector<std::wstring>& arguments, uint64_t& pipeHandle,
                          WorkerSecret& secret);

// One file: the worker decodes inputPath and writes it into the file whose handle, already
// the worker's own, is output.
struct CodecRequest {
    std::wstring inputPath;
    uint64_t output = 0;
    std::wstring mimeType;
    int quality = 0;
    bool operator==(const CodecRequest& other) const {
        return inputPath == other.inputPath && output == other.output &&
               mimeType == other.mimeType && quality == other.quality;
    }
};

// A request travels as a 4-byte little-endian body length, then the body.
constexpr size_t kLengthBytes = 4;
// No request of real paths comes near this; a larger length means a broken stream.
constexpr uint32_t kMaxRequestBytes = 1u << 20;

std::vector<uint8_t> EncodeRequest(const CodecRequest& request);
// The body length a request's first four bytes announce; false when it is out of bounds.
bool DecodeRequestLength(const uint8_t* prefix, uint32_t& length);
// false when the body is not exactly one well-formed request.
bool DecodeRequestBody(const uint8_t* body, size_t size, CodecRequest& request);

// The worker answers a request with one byte, converted or failed; before it, once the input
// is decoded, it may say so with the picture's pixel count (eight bytes, little-endian
// after the byte), so that a large picture's encoding gets the time it needs.
inline constexpr uint8_t kAnswerFailed = 0;
inline constexpr uint8_t kAnswerConverted = 1;
inline constexpr uint8_t kAnswerDecoded = 2;
constexpr size_t kPixelCountBytes = 8;
// Smaller pictures encode in a fraction of the time limit: saying so would only cost time.
constexpr uint64_t kReportDecodedFromPixels = 1000ull * 1000;

void EncodePixelCount(uint64_t pixels, uint8_t* bytes);
uint64_t DecodePixelCount(const uint8_t* bytes);
