// Telling whether two paths lead to the same file or folder, whatever their spelling.
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>

// A file's volume and its number on that volume. Some file systems (network redirectors,
// user-mode drives) number every file 0: a number of all zeros means "unknown", and then the
// path the platform resolves the file to, through every link, stands in for it.
struct FileIdentity {
    uint64_t volume = 0;
    uint8_t id[16] = {};
    std::wstring finalPath;
};

// True only when both identities are known and equal, by number or else by final path
// (compared as Windows compares names): an unknown one matches nothing, not even itself.
bool SameFileIdentity(const FileIdentity& a, const FileIdentity& b);

// Of a file or folder already open with at least FILE_READ_ATTRIBUTES.
bool GetFileIdentity(HANDLE file, FileIdentity& identity);

// True when both paths exist and are one file (or folder), through links and letter case too.
bool IsSameFile(const std::wstring& pathA, const std::wstring& pathB);
