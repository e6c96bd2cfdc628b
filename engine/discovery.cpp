#include "discovery.h"

#include "resources.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

// Tested in this order; the first one contained in a name lists it.
const wchar_t* const kImageExtensions[] = {L".jpg", L".jpeg", L".png", L".bmp",
                                           L".gif", L".tiff", L".tif", L".webp",
                                           L".ico", L".emf",  L".wmf"};

// Identifies a folder regardless of the path it is reached by, so that a link
// back to a folder already being walked can be recognised.
struct FolderIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FolderIdentity& other) const {
        return volume == other.volume && indexHigh == other.indexHigh &&
               indexLow == other.indexLow;
    }
};

bool GetFolderIdentity(const std::wstring& folder, FolderIdentity& identity) {
    HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
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

void WalkFolder(const std::wstring& folder, std::vector<FolderIdentity>& descent,
                std::vector<std::wstring>& found) {
    FolderIdentity identity;
    if (GetFolderIdentity(folder, identity)) {
        // A folder already on the way down is a loop of links: walking it again would never end.
        if (std::find(descent.begin(), descent.end(), identity) != descent.end()) return;
        descent.push_back(identity);
    } else {
        // Unidentifiable folders still get walked; the path limit bounds them.
        descent.push_back(FolderIdentity{});
    }

    WIN32_FIND_DATAW entry;
    SearchHandle search(FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
    if (search.valid()) {
        do {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
            std::wstring path = folder + L"\\" + entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                WalkFolder(path, descent, found);
            else if (IsImageFileName(entry.cFileName))
                found.push_back(std::move(path));
        } while (FindNextFileW(search.get(), &entry));
    }
    descent.pop_back();
}

}  // namespace

bool IsImageFileName(const std::wstring& name) {
    std::wstring lower = name;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    for (const wchar_t* extension : kImageExtensions)
        if (lower.find(extension) != std::wstring::npos) return true;
    return false;
}

std::vector<std::wstring> FindImageFiles(const std::wstring& folder) {
    std::vector<std::wstring> found;
    std::vector<FolderIdentity> descent;
    WalkFolder(folder, descent, found);
    return found;
}
