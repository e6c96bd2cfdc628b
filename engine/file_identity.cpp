#include "file_identity.h"

bool GetFileIdentity(const std::wstring& path, FileIdentity& identity) {
    // Backup semantics: folders open too; no access beyond attributes is needed.
    HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!ok) return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

bool IsSameFile(const std::wstring& pathA, const std::wstring& pathB) {
    FileIdentity a;
    FileIdentity b;
    return GetFileIdentity(pathA, a) && GetFileIdentity(pathB, b) && a == b;
}
