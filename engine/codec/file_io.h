// Whole-file reads and writes through kernel32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Largest file read whole into memory (to decode it or repair it first).
constexpr unsigned long long kMaxFileBytes = 256ull * 1024 * 1024;

// Reads the whole file into bytes; a file of more than maxBytes is refused. False when it
// cannot be opened or read.
bool ReadFileBytes(const std::wstring& path, unsigned long long maxBytes,
                   std::vector<uint8_t>& bytes);

// Writes bytes as the whole content of path; a failed write removes what it created.
bool WriteFileBytes(const std::wstring& path, const uint8_t* bytes, size_t size);

// Makes the file's content durable on disk before anything depends on it.
bool FlushToDisk(const std::wstring& path);
