#include "extended_path.h"

#include <vector>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The names of rest, "." and ".." applied; ".." at the top stays at the top.
std::wstring FoldedNames(const std::wstring& path, size_t from) {
    std::vector<std::wstring> names;
    size_t at = from;
    while (at < path.size()) {
        size_t end = at;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::wstring name = path.substr(at, end - at);
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != L".") {
            names.push_back(std::move(name));
        }
        at = end + 1;
    }
    std::wstring folded;
    for (size_t i = 0; i < names.size(); ++i) folded += (i ? L"\\" : L"") + names[i];
    return folded;
}

}  // namespace

std::wstring ExtendedPath(const std::wstring& path) {
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
        (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]))
        return path;
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]))
        return L"\\\\?\\" + path.substr(0, 2) + L"\\" + FoldedNames(path, 3);
    if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2])) {
        // The server and the share are the root, which ".." never leaves.
        size_t server = path.find_first_of(L"\\/", 2);
        if (server == std::wstring::npos) return path;
        size_t share = path.find_first_of(L"\\/", server + 1);
        if (share == std::wstring::npos) share = path.size();
        std::wstring root = path.substr(2, server - 2) + L"\\" + path.substr(server + 1, share - server - 1);
        std::wstring rest = FoldedNames(path, share);
        return L"\\\\?\\UNC\\" + root + (rest.empty() ? L"" : L"\\" + rest);
    }
    return path;
}
