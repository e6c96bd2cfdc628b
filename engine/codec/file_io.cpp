#include "file_io.h"

#include "resources.h"

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
