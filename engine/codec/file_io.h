// Whole-file reads and writes through kernel32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Largest file read whole into memory (to decode it or repair it first).
constexpr unsigned long long kMaxFileBytes = 256ull * 1024 * 1024;

// Reads up to maxBytes from the start of the file into bytes; with wholeFile, a larger file
// is refused instead. False when it cannot be opened or read.
bool ReadFileBytes(const std::wstring& path, unsigned long long maxBytes,
                   std::vector<uint8_t>& bytes, bool wholeFile);

// Writes bytes as the whole content of path; a failed write removes what it created.
bool WriteFileBytes(const std::wstring& path, const uint8_t* bytes, size_t size);
