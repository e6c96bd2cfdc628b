#include "windows_file_system.h"

#include "file_calls.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Windows's MAX_PATH, and what CreateDirectoryW leaves for an 8.3 name.
constexpr size_t kPathLimit = 260;
constexpr size_t kFolderLimit = 248;

bool TooLong(const wchar_t* path, size_t limit) {
    return path != nullptr && std::wcsncmp(path, L"\\\\?\\", 4) != 0 &&
           std::wcsncmp(path, L"\\\\.\\", 4) != 0 && std::wcslen(path) >= limit;
}

bool Holds(HANDLE file, const wchar_t* marker) {
    std::vector<wchar_t> path(32768);
    DWORD length = GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED);
    return length > 0 && length < path.size() &&
           std::wstring(path.data(), length).find(marker) != std::wstring::npos;
}

HANDLE WINAPI PlayedCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model) {
    if (TooLong(path, kPathLimit)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(path, access, share, security, disposition, flags, model);
}

BOOL WINAPI PlayedCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    if (TooLong(path, kFolderLimit)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return CreateDirectoryW(path, security);
}

DWORD WINAPI PlayedGetFileAttributes(LPCWSTR path) {
    if (TooLong(path, kPathLimit)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesW(path);
}

HANDLE WINAPI PlayedFindFirstFile(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID found,
                            FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags) {
    if (TooLong(pattern, kPathLimit)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return FindFirstFileExW(pattern, level, found, search, filter, flags);
}

BOOL WINAPI PlayedGetFileInformation(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    if (!GetFileInformationByHandle(file, info)) return FALSE;
    if (Holds(file, kNumbersNoFile)) info->nFileIndexHigh = info->nFileIndexLow = 0;
    return TRUE;
}

BOOL WINAPI PlayedGetFileInformationEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                 DWORD size) {
    if ((kind == FileIdBothDirectoryInfo && Holds(file, kRefusesListing)) ||
        (kind == FileIdInfo && Holds(file, kNumbersNoFile))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return GetFileInformationByHandleEx(file, kind, info, size);
}

BOOL WINAPI PlayedSetFileInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                               DWORD size) {
    if (kind == FileRenameInfo) {
        const auto* rename = static_cast<const FILE_RENAME_INFO*>(info);
        std::wstring target(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
        if (TooLong(target.c_str(), kPathLimit)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
    }
    return SetFileInformationByHandle(file, kind, info, size);
}

HANDLE WINAPI PlayedCreateFileMapping(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protection,
                                DWORD sizeHigh, DWORD sizeLow, LPCWSTR name) {
    if (Holds(file, kUnmappable)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return CreateFileMappingW(file, security, protection, sizeHigh, sizeLow, name);
}

}  // namespace

void PlayWindowsFileSystem() {
    g_fileCalls = {PlayedCreateFile,         PlayedCreateDirectory,
                   PlayedGetFileAttributes,  PlayedFindFirstFile,
                   PlayedGetFileInformation, PlayedGetFileInformationEx,
                   PlayedSetFileInformation, PlayedCreateFileMapping};
}
