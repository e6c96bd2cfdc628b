// Whole-file writes through kernel32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Largest file decoded from memory (a WebP, or a GIF repaired first).
constexpr unsigned long long kMaxFileBytes = 256ull * 1024 * 1024;

// Writes bytes as the whole content of path; a failed write removes what it created.
bool WriteFileBytes(const std::wstring& path, const uint8_t* bytes, size_t size);

// Makes the file's content durable on disk before anything depends on it.
bool FlushToDisk(const std::wstring& path);
