#include "temporary_files.h"

#include "platform.h"

#include <atomic>
#include <cwchar>

std::wstring TemporaryName(uint32_t n) {
    wchar_t name[16];
    std::swprintf(name, sizeof name / sizeof name[0], L"vor%08x.tmp", n);
    return name;
}

std::wstring NewTemporaryName() {
    static std::atomic<uint32_t> counter{0};
    uint32_t n = counter++ * 0x9E3779B9u;
    n ^= GetCurrentProcessId() * 0x85EBCA6Bu;
    n ^= static_cast<uint32_t>(GetTickCount64());
    return TemporaryName(n);
}

std::wstring FolderOf(const std::wstring& path) {
    size_t separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? L"." : path.substr(0, separator);
}
