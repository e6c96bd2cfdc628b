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

struct Entry {
    std::wstring path;
    bool folder;
};

// A folder on the way down: its subfolders and image files in the search's order, and
// how far the walk has come through them.
struct OpenFolder {
    std::vector<Entry> entries;
    size_t next = 0;
    bool identified = false;
};

bool Stopped(const std::atomic<bool>* stop) { return stop && *stop; }

// The subfolders and image files of folder. Its search is closed before any subfolder is
// walked, so a deep tree holds one search open, not one per level.
std::vector<Entry> ReadFolder(const std::wstring& folder, const std::atomic<bool>* stop) {
    std::vector<Entry> entries;
    WIN32_FIND_DATAW entry;
    SearchHandle search(FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
    if (!search.valid()) return entries;
    do {
        if (Stopped(stop)) break;
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder || IsImageFileName(entry.cFileName))
            entries.push_back({folder + L"\\" + entry.cFileName, isFolder});
    } while (FindNextFileW(search.get(), &entry));
    return entries;
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
    // An explicit stack instead of a call per level: thousands of nested folders must not
    // exhaust the thread's stack.
    std::vector<OpenFolder> walk;
    // Identities of the folders in walk. A folder already on the way down is reached again
    // through a loop of links; walking it again would never end, as Wine sets no limit on
    // the path's length.
    std::vector<FileIdentity> descent;
    auto enter = [&](std::wstring path) {
        FileIdentity identity;
        // A folder that cannot be identified is still walked; its search decides.
        OpenFolder open;
        open.identified = GetFileIdentity(path, identity);
        if (open.identified) {
            if (std::any_of(descent.begin(), descent.end(), [&](const FileIdentity& above) {
                    return SameFileIdentity(above, identity);
                }))
                return;
            descent.push_back(identity);
        }
        open.entries = ReadFolder(path, stop);
        walk.push_back(std::move(open));
    };
    enter(folder);
    while (!walk.empty() && !Stopped(stop)) {
        OpenFolder& current = walk.back();
        if (current.next == current.entries.size()) {
            if (current.identified) descent.pop_back();
            walk.pop_back();
            continue;
        }
        Entry& entry = current.entries[current.next++];
        if (entry.folder)
            enter(std::move(entry.path));  // moves current: nothing of it is used after
        else
            found.push_back(std::move(entry.path));
    }
    return found;
}
