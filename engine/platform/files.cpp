#include "files.h"

#include "extended_path.h"
#include "file_calls.h"
#include "file_identity.h"
#include "temporary_files.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

FileCalls g_fileCalls = {CreateFileW,
                         CreateDirectoryW,
                         GetFileAttributesW,
                         FindFirstFileExW,
                         GetFileInformationByHandle,
                         GetFileInformationByHandleEx,
                         SetFileInformationByHandle};

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// How long another program's hold on a file is waited out: scanners and sync clients hold a
// new file for a few hundred milliseconds.
constexpr DWORD kHoldWaitMs = 2000;
constexpr DWORD kLongestPauseMs = 250;
// Enough tries to get past any number of leftovers from earlier programs.
constexpr int kNameTries = 100;

bool IsFolderAt(const std::wstring& extendedPath) {
    DWORD attributes = g_fileCalls.getFileAttributes(extendedPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Repeats attempt, which returns whether it succeeded and leaves its error for GetLastError,
// while the file is held by another program. Windows says "access denied" both for such a
// hold and for a folder where a file is expected, which no wait changes.
template <typename Attempt>
bool WhileHeld(const std::wstring& extendedPath, Attempt attempt) {
    DWORD waited = 0;
    for (DWORD pause = 1;; pause = std::min(pause * 2, kLongestPauseMs)) {
        if (attempt()) return true;
        DWORD error = GetLastError();
        bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                    (error == ERROR_ACCESS_DENIED && !IsFolderAt(extendedPath));
        if (!held || waited >= kHoldWaitMs) {
            SetLastError(error);
            return false;
        }
        Sleep(pause);
        waited += pause;
    }
}

// Errors by which a file system says it does not know a listing class: SMB1 servers, NAS
// firmware, VirtualBox shared folders, third-party drivers, and Wine.
bool RefusesListingClass(DWORD error) {
    switch (error) {
    case ERROR_INVALID_LEVEL:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INTERNAL_ERROR:
        return true;
    default:
        return false;
    }
}

void ListFolderByPath(const std::wstring& path,
                      const std::function<bool(const std::wstring&, DWORD)>& each) {
    WIN32_FIND_DATAW found;
    SearchHandle search(g_fileCalls.findFirstFile(ExtendedPath(path + L"\\*").c_str(),
                                                  FindExInfoBasic, &found, FindExSearchNameMatch,
                                                  nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search.valid()) return;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L".." && !each(name, found.dwFileAttributes)) return;
    } while (FindNextFileW(search.get(), &found));
}

FileDates DatesOf(HANDLE file) {
    FILE_BASIC_INFO basic{};
    if (!g_fileCalls.getFileInformationEx(file, FileBasicInfo, &basic, sizeof basic)) return {};
    return {basic.CreationTime.QuadPart, basic.LastWriteTime.QuadPart};
}

// Marks the open file for deletion when its last handle closes, or takes the mark back.
bool MarkForDeletion(HANDLE file, bool remove) {
    FILE_DISPOSITION_INFO disposition{remove};
    return g_fileCalls.setFileInformation(file, FileDispositionInfo, &disposition,
                                          sizeof disposition) != 0;
}

}  // namespace

FileHandle OpenForReading(const std::wstring& path) {
    const std::wstring extended = ExtendedPath(path);
    HANDLE file = INVALID_HANDLE_VALUE;
    WhileHeld(extended, [&] {
        file = g_fileCalls.createFile(extended.c_str(), GENERIC_READ, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    return FileHandle(file);
}

FileHandle OpenForAttributes(const std::wstring& path) {
    // Backup semantics: folders open too.
    return FileHandle(g_fileCalls.createFile(ExtendedPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                             kShareAll, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

DWORD ReadAttributes(const std::wstring& path) {
    return g_fileCalls.getFileAttributes(ExtendedPath(path).c_str());
}

bool MakeFolder(const std::wstring& path) {
    return g_fileCalls.createDirectory(ExtendedPath(path).c_str(), nullptr) ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}

FileHandle OpenFolder(const std::wstring& path) {
    return FileHandle(g_fileCalls.createFile(
        ExtendedPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

void ListFolder(HANDLE folder, const std::wstring& path,
                const std::function<bool(const std::wstring& name, DWORD attributes)>& each) {
    // 64 KiB: the most some network redirectors return in one call. 8-byte units keep the
    // entries' 64-bit fields aligned. One buffer serves every folder of a walk.
    thread_local std::vector<uint64_t> buffer(64 * 1024 / sizeof(uint64_t));
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
    bool listed = false;
    while (g_fileCalls.getFileInformationEx(folder, FileIdBothDirectoryInfo, buffer.data(), size)) {
        listed = true;
        const auto* at = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L".." && !each(name, info->FileAttributes)) return;
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
    }
    if (!listed && RefusesListingClass(GetLastError())) ListFolderByPath(path, each);
}

InputFile::InputFile(const std::wstring& path, unsigned long long maxBytes) {
    FileHandle file = OpenForReading(path);
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
        return;
    try {
        bytes_.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return;
    }
    // What another program's save leaves meanwhile may be shorter: it ends at the file's end.
    size_t done = 0;
    while (done < bytes_.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes_.size() - done, 1u << 24));
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes_.data() + done, chunk, &got, nullptr)) return;
        if (got == 0) break;
        done += got;
    }
    bytes_.resize(done);
    dates_ = DatesOf(file.get());
    valid_ = true;
}

bool SetFileDates(HANDLE file, const FileDates& dates) {
    // Zero leaves a date as it is.
    FILE_BASIC_INFO basic{};
    basic.CreationTime.QuadPart = dates.created;
    basic.LastWriteTime.QuadPart = dates.written;
    return g_fileCalls.setFileInformation(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool WriteAll(HANDLE file, const uint8_t* bytes, size_t size) {
    for (size_t done = 0; done < size;) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, chunk, &written, nullptr) || written != chunk) return false;
        done += written;
    }
    return true;
}

TemporaryOutput::TemporaryOutput(const std::wstring& folder) {
    for (int i = 0; i < kNameTries; ++i) {
        // CREATE_NEW: taken only when nobody has it, so no other file is ever overwritten.
        file_.reset(g_fileCalls.createFile(ExtendedPath(folder + L"\\" + NewTemporaryName()).c_str(),
                                           GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_.valid()) {
            // Should the mark not take, the owner still removes the file as it goes.
            MarkForDeletion(file_.get(), true);
            return;
        }
        // A name still being deleted answers "access denied".
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
            return;
    }
}

TemporaryOutput::~TemporaryOutput() {
    if (!file_.valid()) return;
    // Removed through the held handle: opening it again by name could meet another's hold.
    WhileHeld(std::wstring(), [&] { return MarkForDeletion(file_.get(), true); });
}

Placement TemporaryOutput::PlaceAt(const std::wstring& inputPath, const std::wstring& outputPath,
                                   bool replace) {
    if (!file_.valid()) return Placement::Failed;
    if (replace) {
        // Replacing the input with its own conversion would lose the original.
        if (IsSameFile(inputPath, outputPath)) return Placement::Failed;
        // An output its owner made read-only stays: Windows refuses to replace it, and Wine,
        // which would, must not either.
        DWORD existing = ReadAttributes(outputPath);
        if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
            return Placement::Failed;
    }
    const std::wstring target = ExtendedPath(outputPath);
    const DWORD nameBytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::vector<uint8_t> block(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
    rename->ReplaceIfExists = replace;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = nameBytes;
    std::memcpy(rename->FileName, target.data(), nameBytes);
    const FileDates dates = DatesOf(file_.get());
    bool renamed = WhileHeld(target, [&] {
        // A file marked for deletion takes no new name: the mark goes just before the rename,
        // and comes back at once when the name is refused.
        if (!MarkForDeletion(file_.get(), false)) return false;
        if (g_fileCalls.setFileInformation(file_.get(), FileRenameInfo, rename,
                                           static_cast<DWORD>(block.size())))
            return true;
        DWORD error = GetLastError();
        MarkForDeletion(file_.get(), true);
        SetLastError(error);
        return false;
    });
    if (!renamed) {
        DWORD error = GetLastError();
        // Only a file of that name is an output another program made meanwhile; a folder
        // there is no output, and the file fails.
        DWORD existing = ReadAttributes(outputPath);
        return !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) &&
                       existing != INVALID_FILE_ATTRIBUTES &&
                       !(existing & FILE_ATTRIBUTE_DIRECTORY)
                   ? Placement::Exists
                   : Placement::Failed;
    }
    // A name that was removed moments ago passes its creation date on to the file that takes
    // it (file system tunnelling, on Windows): the output's own dates are given again.
    SetFileDates(file_.get(), dates);
    file_.close();
    return Placement::Placed;
}
