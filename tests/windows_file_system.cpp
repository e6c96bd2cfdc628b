#include "windows_file_system.h"

#include "file_calls.h"
#include "resources.h"
#include "test_support.h"

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

std::wstring FinalPath(HANDLE file) {
    std::vector<wchar_t> path(32768);
    DWORD length = GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED);
    return length > 0 && length < path.size() ? std::wstring(path.data(), length) : L"";
}

// ReadFile stops at what it cannot read; a stream would throw where a process ends meanwhile.
std::string ReadWhole(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (file.valid() && ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

// Whether some process has a view of the file at path (an empty file has none). Each line of
// a process's maps ends with the host name of what it maps.
bool MappedAnywhere(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0))
        return false;
    // Empty on Windows, which refuses by itself.
    const std::string host = HostPath(path);
    if (host.empty()) return false;
    const std::string line = " " + host + "\n";
    WIN32_FIND_DATAW process;
    SearchHandle processes(FindFirstFileW(L"Z:\\proc\\*", &process));
    if (!processes.valid()) return false;
    do {
        if (process.cFileName[0] < L'1' || process.cFileName[0] > L'9') continue;
        const std::string maps =
            ReadWhole(std::wstring(L"Z:\\proc\\") + process.cFileName + L"\\maps");
        if (maps.find(line) != std::string::npos) return true;
    } while (FindNextFileW(processes.get(), &process));
    return false;
}

bool RefusedAsMapped(const std::wstring& path) {
    if (!MappedAnywhere(path)) return false;
    SetLastError(ERROR_USER_MAPPED_FILE);
    return true;
}

HANDLE WINAPI PlayedCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model) {
    if (TooLong(path, kPathLimit)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && path != nullptr &&
        RefusedAsMapped(path))
        return INVALID_HANDLE_VALUE;
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

bool Holds(HANDLE file, const wchar_t* marker) {
    return FinalPath(file).find(marker) != std::wstring::npos;
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
        if (rename->ReplaceIfExists && RefusedAsMapped(target)) return FALSE;
    }
    if (kind == FileDispositionInfo && static_cast<const FILE_DISPOSITION_INFO*>(info)->DeleteFile &&
        RefusedAsMapped(FinalPath(file)))
        return FALSE;
    return SetFileInformationByHandle(file, kind, info, size);
}

}  // namespace

void PlayWindowsFileSystem() {
    g_fileCalls = {PlayedCreateFile,         PlayedCreateDirectory,
                   PlayedGetFileAttributes,  PlayedFindFirstFile,
                   PlayedGetFileInformation, PlayedGetFileInformationEx,
                   PlayedSetFileInformation};
}
