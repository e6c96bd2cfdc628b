// Helpers the tests share: scratch folders, files and small images made on the spot.
#pragma once

#include "resources.h"

#include <cstdint>
#include <string>
#include <vector>

// A path of the build host as the tests see it: under Wine a Unix path becomes Z:\...
std::wstring HostToWindowsPath(const std::wstring& hostPath);

// The image corpus as a Windows path (a Linux path under Wine becomes Z:\...).
std::wstring CorpusDir();
// A file of the corpus by its path inside it, with / or \ between names.
std::wstring CorpusFile(const std::wstring& relative);

// The rows of the corpus's MANIFEST.tsv below its header, split into columns.
std::vector<std::vector<std::string>> ManifestRows();

// A fresh folder under %TEMP%, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\" + relative
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

void RemoveTree(const std::wstring& path);
void MakeDir(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
// Saves bytes over path in place, as most editors do (the open truncates it, then all is
// written), through the program's own file calls: ERROR_SUCCESS, or why it was refused.
DWORD SaveInPlace(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);    // a file, not a folder
bool FolderExists(const std::wstring& path);

struct ImageSize {
    UINT width = 0;
    UINT height = 0;
    bool operator==(const ImageSize& other) const {
        return width == other.width && height == other.height;
    }
    bool operator!=(const ImageSize& other) const { return !(*this == other); }
};

// Pixels as 0xAARRGGBB, rows top down.
struct Pixels {
    ImageSize size;
    std::vector<ARGB> argb;
    ARGB at(UINT x, UINT y) const { return argb[static_cast<size_t>(y) * size.width + x]; }
};

inline int Channel(ARGB pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); }

ImageSize SizeOf(GpImage* image);
// The image's pixels; empty when they cannot be read.
Pixels ReadPixels(GpImage* image);
// A 32bpp ARGB bitmap of its own with these pixels; null on failure.
ImagePtr MakeBitmap(const ImageSize& size, const std::vector<ARGB>& argb);

// Saves pixels with the encoder for mimeType (WebP through Vorandel's own).
void SavePixels(const std::wstring& path, const std::wstring& mimeType, const ImageSize& size,
                const std::vector<ARGB>& argb);
// Saves a width x height colour pattern with the encoder for mimeType.
void SaveTestImage(const std::wstring& path, const std::wstring& mimeType, UINT width = 16,
                   UINT height = 12);

// The CRC-32 of PNG chunks and zip files.
uint32_t Crc32(const std::string& bytes);

// What the program decodes from path (empty when it cannot), and its size (0 x 0 then).
Pixels DecodePixels(const std::wstring& path);
ImageSize DecodedSize(const std::wstring& path);

// Mean and largest difference over the colour channels of two pictures of one size.
struct Difference {
    double mean = 0;
    int largest = 0;
};
Difference ColourDifference(const Pixels& a, const Pixels& b);

// True when VORANDEL_LARGE=1 asks for the large, slow variants of the suites.
bool LargeRun();

// True when the tests run under Wine, whose host is a Unix file system.
bool RunningUnderWine();

// Makes link a symbolic link to the folder target, the way a user would on the host:
// under Wine with the host's ln (Wine lists such a link as a folder), on Windows as a
// folder symlink. False when the platform cannot make one.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);

// Under Wine: makes link a host symbolic link to hostTarget, a Unix path.
bool MakeHostLink(const std::wstring& link, const std::string& hostTarget);

// Under Wine: path as the host names it; empty elsewhere.
std::string HostPath(const std::wstring& path);

// Under Wine: runs script with the host's sh, from a file it writes into folder and removes.
bool RunHostScript(const std::wstring& folder, const std::string& script);

// The handles this process has open.
DWORD CountOpenHandles();

// The most memory this process has had in use at once.
SIZE_T PeakMemory();

// The processes that parent (this one unless given) has started, as the platform lists them.
std::vector<DWORD> ChildProcesses(DWORD parent = GetCurrentProcessId());

// A tree of 100,000 entries at source: 100 folders of 1,000 files, every 50th a PNG.
void MakeLargeTree(const std::wstring& source);

std::wstring FromUtf8(const std::string& text);

// text in lower case, as Windows compares names.
std::wstring Lower(std::wstring text);

