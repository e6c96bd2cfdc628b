#include "temporary_files.h"

#include "resources.h"

#include <atomic>
#include <cwchar>

namespace {

// Enough tries to get past any number of leftovers from earlier programs.
constexpr int kNameTries = 100;

uint32_t NextNameSeed() {
    // Different in every process and for every call, so that two programs writing into one
    // folder rarely try the same name; a clash is only a retry.
    static std::atomic<uint32_t> counter{0};
    uint32_t n = counter++ * 0x9E3779B9u;
    n ^= GetCurrentProcessId() * 0x85EBCA6Bu;
    n ^= static_cast<uint32_t>(GetTickCount64());
    return n;
}

}  // namespace

std::wstring TemporaryName(uint32_t n) {
    wchar_t name[16];
    std::swprintf(name, sizeof name / sizeof name[0], L"vor%08x.tmp", n);
    return name;
}

std::wstring FolderOf(const std::wstring& path) {
    size_t separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? L"." : path.substr(0, separator);
}

std::wstring CreateTemporaryFileIn(const std::wstring& folder) {
    for (int i = 0; i < kNameTries; ++i) {
        std::wstring path = folder + L"\\" + TemporaryName(NextNameSeed());
        // CREATE_NEW: taken only when nobody has it, so no other file is ever overwritten.
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) return path;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return L"";
    }
    return L"";
}
