#include "file_identity.h"

#include "file_calls.h"
#include "files.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

bool Known(const FileIdentity& identity) {
    return std::any_of(std::begin(identity.id), std::end(identity.id),
                       [](uint8_t part) { return part != 0; });
}

std::wstring FinalPath(HANDLE file) {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                                 FILE_NAME_NORMALIZED);
        if (length == 0) return {};
        if (length < path.size()) return std::wstring(path.data(), length);
        path.resize(length + 1);
    }
}

}  // namespace

bool SameFileIdentity(const FileIdentity& a, const FileIdentity& b) {
    if (Known(a) && Known(b))
        return a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
    return !a.finalPath.empty() && !b.finalPath.empty() &&
           CompareStringOrdinal(a.finalPath.c_str(), static_cast<int>(a.finalPath.size()),
                                b.finalPath.c_str(), static_cast<int>(b.finalPath.size()),
                                TRUE) == CSTR_EQUAL;
}

bool GetFileIdentity(HANDLE file, FileIdentity& identity) {
    identity = {};
    // The 128-bit id where the platform has one (ReFS numbers files beyond 64 bits).
    FILE_ID_INFO idInfo;
    BY_HANDLE_FILE_INFORMATION info;
    if (g_fileCalls.getFileInformationEx(file, FileIdInfo, &idInfo, sizeof idInfo)) {
        identity.volume = idInfo.VolumeSerialNumber;
        std::memcpy(identity.id, idInfo.FileId.Identifier, sizeof identity.id);
    } else if (g_fileCalls.getFileInformation(file, &info)) {
        identity.volume = info.dwVolumeSerialNumber;
        // Where FileIdInfo exists it holds this same 64-bit index in its low bytes.
        uint64_t index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
        for (size_t i = 0; i < 8; ++i) identity.id[i] = static_cast<uint8_t>(index >> (8 * i));
    }
    if (!Known(identity)) identity.finalPath = FinalPath(file);
    return Known(identity) || !identity.finalPath.empty();
}

bool IsSameFile(const std::wstring& pathA, const std::wstring& pathB) {
    FileIdentity a;
    FileIdentity b;
    FileHandle fileA = OpenForAttributes(pathA);
    FileHandle fileB = OpenForAttributes(pathB);
    return fileA.valid() && fileB.valid() && GetFileIdentity(fileA.get(), a) &&
           GetFileIdentity(fileB.get(), b) && SameFileIdentity(a, b);
}
