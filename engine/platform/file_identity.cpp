#include "file_identity.h"

#include "resources.h"

#include <algorithm>
#include <cstring>

bool SameFileIdentity(const FileIdentity& a, const FileIdentity& b) {
    bool known = std::any_of(std::begin(a.id), std::end(a.id), [](uint8_t part) { return part != 0; });
    return known && a.volume == b.volume && std::memcmp(a.id, b.id, sizeof a.id) == 0;
}

bool GetFileIdentity(HANDLE file, FileIdentity& identity) {
    identity = {};
    // The 128-bit id where the platform has one (ReFS numbers files beyond 64 bits).
    FILE_ID_INFO idInfo;
    if (GetFileInformationByHandleEx(file, FileIdInfo, &idInfo, sizeof idInfo)) {
        identity.volume = idInfo.VolumeSerialNumber;
        std::memcpy(identity.id, idInfo.FileId.Identifier, sizeof identity.id);
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    // Where FileIdInfo exists it holds this same 64-bit index in its low bytes.
    uint64_t index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    for (size_t i = 0; i < 8; ++i) identity.id[i] = static_cast<uint8_t>(index >> (8 * i));
    return true;
}

bool GetFileIdentity(const std::wstring& path, FileIdentity& identity) {
    // Backup semantics: folders open too; no access beyond attributes is needed.
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid() && GetFileIdentity(file.get(), identity);
}

bool IsSameFile(const std::wstring& pathA, const std::wstring& pathB) {
    FileIdentity a;
    FileIdentity b;
    return GetFileIdentity(pathA, a) && GetFileIdentity(pathB, b) && SameFileIdentity(a, b);
}
