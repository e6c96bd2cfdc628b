#include "file_identity.h"

#include "resources.h"

bool GetFileIdentity(const std::wstring& path, FileIdentity& identity) {
    // Backup semantics: folders open too; no access beyond attributes is needed.
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info)) return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool IsSameFile(const std::wstring& pathA, const std::wstring& pathB) {
    FileIdentity a;
    FileIdentity b;
    return GetFileIdentity(pathA, a) && GetFileIdentity(pathB, b) && a == b;
}
