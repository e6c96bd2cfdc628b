#include "test_support.h"

#include "codec.h"
#include "resources.h"
#include "test_config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <vector>

std::wstring CorpusDir() {
    std::wstring dir = VORANDEL_CORPUS_DIR_HOST;
    if (!dir.empty() && dir[0] == L'/') dir = L"Z:" + dir;
    std::replace(dir.begin(), dir.end(), L'/', L'\\');
    return dir;
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + L"vorandel-test-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(counter++);
    RemoveTree(path_);
    MakeDir(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A link to a folder goes without its target's contents.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        SearchHandle search(FindFirstFileW((path + L"\\*").c_str(), &entry));
        if (search.valid()) {
            do {
                std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
            } while (FindNextFileW(search.get(), &entry));
        }
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(path.c_str());
    else
        DeleteFileW(path.c_str());
}

void MakeDir(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << "cannot create folder";
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write file";
}

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void SaveTestImage(const std::wstring& path, const std::wstring& mimeType, UINT width,
                   UINT height) {
    std::vector<UINT32> pixels(static_cast<size_t>(width) * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            pixels[y * width + x] = 0xFF000000u | ((x * 255 / width) << 16) |
                                    ((y * 255 / height) << 8) | ((x + y) % 2 ? 0xC0u : 0x40u);
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height),
                                        static_cast<INT>(width * 4), PixelFormat32bppARGB,
                                        reinterpret_cast<BYTE*>(pixels.data()), &bitmap),
              Ok);
    ImagePtr image(bitmap);
    CLSID clsid;
    ASSERT_GE(GetEncoderClsid(mimeType, clsid), 0);
    ASSERT_EQ(GdipSaveImageToFile(image.get(), path.c_str(), &clsid, nullptr), Ok);
}

ImageSize DecodedSize(const std::wstring& path) {
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(path.c_str(), &bitmap) != Ok) return {};
    ImagePtr image(bitmap);
    ImageSize size;
    GdipGetImageWidth(image.get(), &size.width);
    GdipGetImageHeight(image.get(), &size.height);
    return size;
}
