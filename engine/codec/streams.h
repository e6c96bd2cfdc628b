// The COM streams GDI+ reads and writes pictures through, so that it never opens a file by
// name: one over bytes Vorandel already holds, one over a file it holds open, and one into
// bytes in memory.
#pragma once

#include "resources.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads bytes that must outlive the stream and everything decoded from it: GDI+ may read a
// picture's pixels only when they are first used. Null when out of memory.
StreamPtr StreamOverBytes(const uint8_t* data, size_t size);

// Reads and writes the open file, whose handle must outlive the stream, from its current
// position. Null when out of memory.
StreamPtr StreamOverFile(HANDLE file);

// Reads and writes bytes, which grow as they are written and must outlive the stream, from
// their start. Null when out of memory.
StreamPtr StreamIntoBytes(std::vector<uint8_t>& bytes);
