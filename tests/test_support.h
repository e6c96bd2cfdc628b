// Helpers the tests share: scratch folders, files and small images made on the spot.
#pragma once

#include "platform.h"

#include <string>
#include <vector>

// The shared image corpus as a Windows path (a Linux path under Wine becomes Z:\...).
std::wstring CorpusDir();

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
bool FileExists(const std::wstring& path);    // a file, not a folder
bool FolderExists(const std::wstring& path);

// Saves width x height 32bpp ARGB pixels (rows top down) with the encoder for mimeType.
void SavePixels(const std::wstring& path, const std::wstring& mimeType, UINT width, UINT height,
                const std::vector<ARGB>& pixels);

// Saves a width x height colour pattern with the encoder for mimeType.
void SaveTestImage(const std::wstring& path, const std::wstring& mimeType, UINT width = 16,
                   UINT height = 12);

struct ImageSize {
    UINT width = 0;
    UINT height = 0;
    bool operator==(const ImageSize& other) const {
        return width == other.width && height == other.height;
    }
    bool operator!=(const ImageSize& other) const { return !(*this == other); }
};
// Size of the image the program decodes from path; 0 x 0 when it cannot.
ImageSize DecodedSize(const std::wstring& path);

// The decoded pixels of path as 32bpp ARGB, rows top down; false when it cannot be decoded.
bool DecodePixels(const std::wstring& path, std::vector<ARGB>& pixels, ImageSize& size);

// True when the tests run under Wine, whose host is a Unix file system.
bool RunningUnderWine();

// Makes link a symbolic link to the folder target, the way a user would on the host:
// under Wine with the host's ln (Wine lists such a link as a folder), on Windows as a
// folder symlink. False when the platform cannot make one.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);

// Under Wine: makes link a host symbolic link to hostTarget, a Unix path.
bool MakeHostLink(const std::wstring& link, const std::string& hostTarget);

std::wstring FromUtf8(const std::string& text);

// Mean absolute difference per colour channel between two decodable images of one size;
// a negative value when they cannot be compared.
double MeanChannelDifference(const std::wstring& pathA, const std::wstring& pathB);
