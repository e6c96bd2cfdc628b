// Files an output is written into before it is moved into place.
#pragma once

#include <cstdint>
#include <string>

// "vor" followed by eight hex digits of n and ".tmp": a name the image discovery never takes.
std::wstring TemporaryName(uint32_t n);

// What precedes the last backslash of path; "." when there is none.
std::wstring FolderOf(const std::wstring& path);

// Creates an empty file of a new temporary name in folder, never one that exists, and returns
// its path; empty when none can be created. Unlike the platform's temporary names, the
// folder may be of any length the platform can write to.
std::wstring CreateTemporaryFileIn(const std::wstring& folder);
