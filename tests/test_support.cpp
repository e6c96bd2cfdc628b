#include "test_support.h"

#include "codec.h"
#include "file_calls.h"
#include "files.h"
#include "picture.h"
#include "webp_codec.h"
#include "resources.h"
#include "test_config.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwctype>
#include <fstream>
#include <utility>
#include <vector>

std::wstring CorpusDir() { return CorpusFile(L""); }

std::wstring HostToWindowsPath(const std::wstring& hostPath) {
    std::wstring path = hostPath;
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring CorpusFile(const std::wstring& relative) {
    return HostToWindowsPath(relative.empty() ? std::wstring(VORANDEL_CORPUS_DIR_HOST)
                                              : VORANDEL_CORPUS_DIR_HOST + (L"/" + relative));
}

std::vector<std::vector<std::string>> ManifestRows() {
    std::string manifest = ReadBytes(CorpusFile(L"MANIFEST.tsv"));
    std::vector<std::vector<std::string>> rows;
    size_t lineStart = manifest.find('\n');  // past the header
    while (lineStart != std::string::npos && ++lineStart < manifest.size()) {
        size_t lineEnd = manifest.find('\n', lineStart);
        std::string line = manifest.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd;
        std::vector<std::string> columns;
        for (size_t at = 0;;) {
            size_t tab = line.find('\t', at);
            columns.push_back(line.substr(at, tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        rows.push_back(std::move(columns));
    }
    return rows;
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    // Wine reuses process ids soon, so the clock keeps names of earlier runs apart.
    path_ = std::wstring(temp) + L"vorandel-test-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter++);
    RemoveTree(path_);
    MakeDir(path_);
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
    // A stack, not a call per level: test trees go thousands of levels deep. A folder stays
    // on it, marked, until its contents have gone. Each entry carries the attributes its
    // folder's listing gave: under Wine every call on a path costs a lookup of each level
    // above it.
    struct Pending {
        std::wstring path;
        DWORD attributes;
        bool emptied;
    };
    std::vector<Pending> pending{{path, GetFileAttributesW(path.c_str()), false}};
    while (!pending.empty()) {
        Pending& current = pending.back();
        if (current.attributes == INVALID_FILE_ATTRIBUTES) {
            pending.pop_back();
            continue;
        }
        // A link to a folder goes without its target's contents.
        const bool folder = (current.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                            !(current.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
        if (folder && !current.emptied) {
            current.emptied = true;
            const std::wstring parent = current.path;
            WIN32_FIND_DATAW entry;
            SearchHandle search(FindFirstFileW((parent + L"\\*").c_str(), &entry));
            if (!search.valid()) continue;
            do {
                std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..")
                    pending.push_back({parent + L"\\" + name, entry.dwFileAttributes, false});
            } while (FindNextFileW(search.get(), &entry));
            continue;
        }
        const Pending done = current;
        pending.pop_back();
        if (done.attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(done.path.c_str(), FILE_ATTRIBUTE_NORMAL);
        // Under Wine a folder link is a host symlink, which goes as a file.
        if (!(done.attributes & FILE_ATTRIBUTE_DIRECTORY) || !RemoveDirectoryW(done.path.c_str()))
            DeleteFileW(done.path.c_str());
    }
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

DWORD SaveInPlace(const std::wstring& path, const std::string& bytes) {
    FileHandle file(g_fileCalls.createFile(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return GetLastError();
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return GetLastError();
    return written == bytes.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

ImageSize SizeOf(GpImage* image) {
    ImageSize size;
    GdipGetImageWidth(image, &size.width);
    GdipGetImageHeight(image, &size.height);
    return size;
}

Pixels ReadPixels(GpImage* image) {
    Pixels pixels;
    ImageSize size = SizeOf(image);
    BitmapBitsLock bits(static_cast<GpBitmap*>(image), size.width, size.height,
                        ImageLockModeRead, PixelFormat32bppARGB);
    if (!bits.locked()) return pixels;
    pixels.size = size;
    for (UINT y = 0; y < size.height; ++y) {
        const auto* row = reinterpret_cast<const ARGB*>(bits.row(y));
        pixels.argb.insert(pixels.argb.end(), row, row + size.width);
    }
    return pixels;
}

ImagePtr MakeBitmap(const ImageSize& size, const std::vector<ARGB>& argb) {
    GpBitmap* bitmap = nullptr;
    if (argb.size() != static_cast<size_t>(size.width) * size.height ||
        GdipCreateBitmapFromScan0(static_cast<INT>(size.width), static_cast<INT>(size.height), 0,
                                  PixelFormat32bppARGB, nullptr, &bitmap) != Ok)
        return nullptr;
    ImagePtr image(bitmap);
    BitmapBitsLock bits(bitmap, size.width, size.height, ImageLockModeWrite, PixelFormat32bppARGB);
    if (!bits.locked()) return nullptr;
    for (UINT y = 0; y < size.height; ++y)
        std::copy(argb.begin() + y * size.width, argb.begin() + (y + 1) * size.width,
                  reinterpret_cast<ARGB*>(bits.row(y)));
    return image;
}

void SavePixels(const std::wstring& path, const std::wstring& mimeType, const ImageSize& size,
                const std::vector<ARGB>& argb) {
    ImagePtr image = MakeBitmap(size, argb);
    ASSERT_TRUE(image);
    if (mimeType == kWebPMimeType) {
        std::vector<uint8_t> encoded;
        ASSERT_TRUE(EncodeWebP(std::move(image), 100, encoded));
        WriteBytes(path, std::string(encoded.begin(), encoded.end()));
        return;
    }
    if (mimeType == L"image/gif") image = ToIndexedColor(image.get());
    CLSID clsid;
    ASSERT_GE(GetEncoderClsid(mimeType, clsid), 0);
    ASSERT_EQ(GdipSaveImageToFile(image.get(), path.c_str(), &clsid, nullptr), Ok);
}

void SaveTestImage(const std::wstring& path, const std::wstring& mimeType, UINT width,
                   UINT height) {
    std::vector<ARGB> argb(static_cast<size_t>(width) * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            argb[y * width + x] = 0xFF000000u | ((x * 255 / width) << 16) |
                                  ((y * 255 / height) << 8) | ((x + y) % 2 ? 0xC0u : 0x40u);
    SavePixels(path, mimeType, {width, height}, argb);
}

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char value : bytes) {
        crc ^= value;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

Pixels DecodePixels(const std::wstring& path) {
    InputFile file(path, kMaxFileBytes);
    ImagePtr image = LoadImageFile(file);
    return image ? ReadPixels(image.get()) : Pixels{};
}

ImageSize DecodedSize(const std::wstring& path) {
    InputFile file(path, kMaxFileBytes);
    ImagePtr image = LoadImageFile(file);
    return image ? SizeOf(image.get()) : ImageSize{};
}

Difference ColourDifference(const Pixels& a, const Pixels& b) {
    Difference difference;
    if (a.size != b.size || a.argb.empty()) return {1e9, 255};
    double total = 0;
    for (size_t i = 0; i < a.argb.size(); ++i)
        for (int shift : {0, 8, 16}) {
            int d = std::abs(Channel(a.argb[i], shift) - Channel(b.argb[i], shift));
            total += d;
            difference.largest = std::max(difference.largest, d);
        }
    difference.mean = total / (3.0 * static_cast<double>(a.argb.size()));
    return difference;
}

namespace {

using UnixNameFunction = char*(__cdecl*)(const wchar_t*);

UnixNameFunction WineUnixName() {
    return reinterpret_cast<UnixNameFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
}

}  // namespace

std::string HostPath(const std::wstring& path) {
    UnixNameFunction unixName = WineUnixName();
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name) return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

namespace {

bool RunHost(const std::string& commandLine) {
    std::wstring wide(commandLine.begin(), commandLine.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool Listed(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    SearchHandle search(FindFirstFileW(path.c_str(), &entry));
    return search.valid();
}

}  // namespace

bool LargeRun() {
    wchar_t value[8];
    DWORD length = GetEnvironmentVariableW(L"VORANDEL_LARGE", value, 8);
    return length == 1 && value[0] == L'1';
}

bool RunningUnderWine() { return WineUnixName() != nullptr; }

bool MakeHostLink(const std::wstring& link, const std::string& hostTarget) {
    std::string hostLink = HostPath(link);
    if (hostLink.empty() || hostLink.find('"') != std::string::npos) return false;
    if (!RunHost("/bin/ln -s \"" + hostTarget + "\" \"" + hostLink + "\"")) return false;
    // The host process may be reported finished before its link is visible.
    for (int i = 0; i < 100 && !Listed(link); ++i) Sleep(20);
    return true;
}

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    if (RunningUnderWine()) {
        std::string hostTarget = HostPath(target);
        return !hostTarget.empty() && MakeHostLink(link, hostTarget) && Listed(link);
    }
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    return CreateSymbolicLinkW(link.c_str(), target.c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged) != 0;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool RunHostScript(const std::wstring& folder, const std::string& script) {
    const std::wstring file = folder + L"\\host-script.sh";
    const std::wstring done = folder + L"\\host-script.done";
    WriteBytes(file, "");
    WriteBytes(done, "");
    const std::string hostFile = HostPath(file);
    const std::string hostDone = HostPath(done);
    DeleteFileW(done.c_str());
    // The host process may be reported finished before it has even begun: the script
    // says when it is through by making a file.
    WriteBytes(file, "(\n" + script + "\n) && : > '" + hostDone + "'\n");
    bool ran = !hostFile.empty() && RunHost("/bin/sh " + hostFile);
    for (int i = 0; ran && i < 3000 && GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(20);
    ran = ran && GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES;
    DeleteFileW(file.c_str());
    DeleteFileW(done.c_str());
    return ran;
}

DWORD CountOpenHandles() {
    // Wine reports no handle count; asking after every small handle value works on both.
    DWORD count = 0;
    for (uintptr_t value = 4; value < (uintptr_t{1} << 16); value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

SIZE_T PeakMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    // Wine counts committed memory only as the pagefile usage.
    return std::max(counters.PeakPagefileUsage, counters.PeakWorkingSetSize);
}

std::vector<DWORD> ChildProcesses(DWORD parent) {
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return children;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == parent) children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

void MakeLargeTree(const std::wstring& source) {
    MakeDir(source);
    SaveTestImage(source + L"\\sample.png", L"image/png");
    const std::string png = ReadBytes(source + L"\\sample.png");
    DeleteFileW((source + L"\\sample.png").c_str());
    for (int folder = 0; folder < 100; ++folder) {
        std::wstring path = source + L"\\f" + std::to_wstring(folder);
        MakeDir(path);
        for (int entry = 0; entry < 1000; ++entry) {
            bool image = entry % 50 == 0;
            WriteBytes(path + L"\\e" + std::to_wstring(entry) + (image ? L".png" : L".txt"),
                       image ? png : std::string());
        }
    }
}
