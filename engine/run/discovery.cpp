#include "discovery.h"

#include "file_identity.h"
#include "resources.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

// Tested in this order; the first one contained in a name lists it.
const wchar_t* const kImageExtensions[] = {L".jpg", L".jpeg", L".png", L".bmp",
                                           L".gif", L".tiff", L".tif", L".webp",
                                           L".ico", L".emf",  L".wmf"};

// A folder already on the way down is reached again through a loop of links; walking it
// again would never end, as Wine sets no limit on the path's length.
void WalkFolder(const std::wstring& folder, std::vector<FileIdentity>& descent,
                std::vector<std::wstring>& found, const std::atomic<bool>* stop) {
    FileIdentity identity;
    // A folder that cannot be identified is still walked; its search decides.
    bool identified = GetFileIdentity(folder, identity);
    if (identified) {
        if (std::find(descent.begin(), descent.end(), identity) != descent.end()) return;
        descent.push_back(identity);
    }

    WIN32_FIND_DATAW entry;
    SearchHandle search(FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
    if (search.valid()) {
        do {
            if (stop && *stop) break;
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
            std::wstring path = folder + L"\\" + entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                WalkFolder(path, descent, found, stop);
            else if (IsImageFileName(entry.cFileName))
                found.push_back(std::move(path));
        } while (FindNextFileW(search.get(), &entry));
    }
    if (identified) descent.pop_back();
}

}  // namespace

bool IsImageFileName(const std::wstring& name) {
    std::wstring lower = name;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    for (const wchar_t* extension : kImageExtensions)
        if (lower.find(extension) != std::wstring::npos) return true;
    return false;
}

std::vector<std::wstring> FindImageFiles(const std::wstring& folder,
                                         const std::atomic<bool>* stop) {
    std::vector<std::wstring> found;
    std::vector<FileIdentity> descent;
    WalkFolder(folder, descent, found, stop);
    return found;
}
