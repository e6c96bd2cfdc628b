// Telling whether two paths lead to the same file or folder, whatever their spelling.
#pragma once

#include "platform.h"

#include <string>

struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && indexHigh == other.indexHigh &&
               indexLow == other.indexLow;
    }
};

// False when nothing can be opened at path.
bool GetFileIdentity(const std::wstring& path, FileIdentity& identity);

// True when both paths exist and are one file (or folder), through links and letter case too.
bool IsSameFile(const std::wstring& pathA, const std::wstring& pathB);
