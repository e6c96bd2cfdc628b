#include "worker_protocol.h"

#include <cwchar>

namespace {

// Paths on Windows are at most 32,767 characters long.
constexpr uint32_t kMaxTextUnits = 32767;

void PutU32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void PutText(std::vector<uint8_t>& bytes, const std::wstring& text) {
    PutU32(bytes, static_cast<uint32_t>(text.size()));
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>((unit >> 8) & 0xFF));
    }
}

struct BodyReader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool U32(uint32_t& value) {
        if (size - at < 4) return false;
        value = GetU32(data + at);
        at += 4;
        return true;
    }
    bool Text(std::wstring& text) {
        uint32_t units = 0;
        if (!U32(units) || units > kMaxTextUnits || (size - at) / 2 < units) return false;
        text.resize(units);
        for (uint32_t i = 0; i < units; ++i, at += 2)
            text[i] = static_cast<wchar_t>(data[at] | data[at + 1] << 8);
        return true;
    }
};

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

}  // namespace

std::wstring WorkerCommandLine(const std::wstring& exePath, uint64_t pipeHandle,
                               const WorkerSecret& secret) {
    std::wstring secretText;
    for (uint8_t byte : secret) {
        wchar_t pair[3];
        std::swprintf(pair, 3, L"%02x", byte);
        secretText += pair;
    }
    return L"\"" + exePath + L"\" " + kWorkerSwitch + L" " + std::to_wstring(pipeHandle) + L" " +
           secretText;
}

bool ParseWorkerArguments(const std::vector<std::wstring>& arguments, uint64_t& pipeHandle,
                          WorkerSecret& secret) {
    if (arguments.size() != 4 || arguments[1] != kWorkerSwitch) return false;
    const std::wstring& handle = arguments[2];
    if (handle.empty() || handle.size() > 19) return false;
    uint64_t value = 0;
    for (wchar_t c : handle) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<uint64_t>(c - L'0');
    }
    const std::wstring& hex = arguments[3];
    if (value == 0 || hex.size() != secret.size() * 2) return false;
    for (size_t i = 0; i < secret.size(); ++i) {
        int high = HexDigit(hex[2 * i]);
        int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        secret[i] = static_cast<uint8_t>(high << 4 | low);
    }
    pipeHandle = value;
    return true;
}

void EncodePixelCount(uint64_t pixels, uint8_t* bytes) {
    for (size_t i = 0; i < kPixelCountBytes; ++i) bytes[i] = static_cast<uint8_t>(pixels >> (8 * i));
}

uint64_t DecodePixelCount(const uint8_t* bytes) {
    uint64_t pixels = 0;
    for (size_t i = 0; i < kPixelCountBytes; ++i) pixels |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    return pixels;
}

std::vector<uint8_t> EncodeRequest(const CodecRequest& request) {
    std::vector<uint8_t> bytes(kLengthBytes);
    PutU32(bytes, static_cast<uint32_t>(request.quality));
    PutU32(bytes, static_cast<uint32_t>(request.output));
    PutU32(bytes, static_cast<uint32_t>(request.output >> 32));
    PutText(bytes, request.inputPath);
    PutText(bytes, request.mimeType);
    uint32_t body = static_cast<uint32_t>(bytes.size() - kLengthBytes);
    for (size_t i = 0; i < kLengthBytes; ++i) bytes[i] = static_cast<uint8_t>(body >> (8 * i));
    return bytes;
}

bool DecodeRequestLength(const uint8_t* prefix, uint32_t& length) {
    length = GetU32(prefix);
    return length >= 4 && length <= kMaxRequestBytes;
}

bool DecodeRequestBody(const uint8_t* body, size_t size, CodecRequest& request) {
    BodyReader reader{body, size};
    uint32_t quality = 0;
    uint32_t outputLow = 0;
    uint32_t outputHigh = 0;
    CodecRequest decoded;
    if (!reader.U32(quality) || !reader.U32(outputLow) || !reader.U32(outputHigh) ||
        !reader.Text(decoded.inputPath) || !reader.Text(decoded.mimeType) || reader.at != size ||
        quality > 100)
        return false;
    decoded.quality = static_cast<int>(quality);
    decoded.output = static_cast<uint64_t>(outputHigh) << 32 | outputLow;
    request = std::move(decoded);
    return true;
}
