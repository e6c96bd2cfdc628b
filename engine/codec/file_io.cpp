#include "file_io.h"

#include "resources.h"

bool ReadFileBytes(const std::wstring& path, unsigned long long maxBytes,
                   std::vector<uint8_t>& bytes) {
    // The decoder may hold the same file open meanwhile.
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return false;
    unsigned long long fileBytes = static_cast<unsigned long long>(size.QuadPart);
    if (fileBytes > maxBytes) return false;
    bytes.resize(static_cast<size_t>(fileBytes));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                      &got, nullptr))
            return false;
        if (got == 0) break;  // the file shrank meanwhile
        done += got;
    }
    bytes.resize(done);
    return true;
}

bool WriteFileBytes(const std::wstring& path, const uint8_t* bytes, size_t size) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    size_t done = 0;
    bool ok = true;
    while (ok && done < size) {
        DWORD chunk = static_cast<DWORD>(size - done < (1u << 30) ? size - done : (1u << 30));
        DWORD written = 0;
        ok = WriteFile(file.get(), bytes + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = file.close() && ok;
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

bool FlushToDisk(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && FlushFileBuffers(file.get()) && file.close();
}
