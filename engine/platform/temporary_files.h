// The names an output is written under before it is moved into place.
#pragma once

#include <cstdint>
#include <string>

// "vor" followed by eight hex digits of n and ".tmp": a name the image discovery never takes.
std::wstring TemporaryName(uint32_t n);

// A temporary name that differs in every process and for every call, so that two programs
// writing into one folder rarely try the same one; a clash is only a retry.
std::wstring NewTemporaryName();

// What precedes the last backslash of path; "." when there is none.
std::wstring FolderOf(const std::wstring& path);
