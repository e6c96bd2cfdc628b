#include "discovery.h"
#include "file_identity.h"
#include "output_paths.h"

#include "test_support.h"
#include "windows_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct NameCase {
    const wchar_t* name;
    bool listed;
};

TEST(IsImageFileName, ContainmentOfAnyAcceptedExtensionIgnoringAsciiCase) {
    const NameCase cases[] = {
        {L"Photo.JPG", true},      {L"SCAN.Tiff", true},         {L"a.tif", true},
        {L"x.jpeg", true},         {L"x.png", true},             {L"x.bmp", true},
        {L"x.gif", true},          {L"x.webp", true},            {L"x.ico", true},
        {L"x.emf", true},          {L"x.WMF", true},             {L"report.jpg.txt", true},
        {L"notes.gifts", true},    {L"archive.png.bak", true},   {L".jpg", true},
        {L"中文图片.png", true},   {L"README", false},           {L"photo.jpe", false},
        {L"image.heic", false},    {L"jpg", false},              {L"png_without_extension", false},
        {L"", false},              {L"photo.jp g", false},       {L"x.tga", false},
        {L"vorA1B2.tmp", false},  // how the converter names a file it is still writing
    };
    for (const NameCase& c : cases) EXPECT_EQ(IsImageFileName(c.name), c.listed) << c.name;
}

// The order the platform's own search gives, walked depth first: what the scan must keep.
void PlatformOrder(const std::wstring& folder, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            PlatformOrder(folder + L"\\" + name, out);
        else if (IsImageFileName(name))
            out.push_back(folder + L"\\" + name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
}

class FindImageFilesTest : public ::testing::Test {
protected:
    void File(const std::wstring& relative) { WriteBytes(dir / relative, "x"); }
    std::vector<std::wstring> Relative(const std::vector<std::wstring>& paths) {
        std::vector<std::wstring> out;
        for (const std::wstring& p : paths) {
            EXPECT_EQ(p.compare(0, dir.path().size() + 1, dir.path() + L"\\"), 0) << p;
            out.push_back(p.substr(dir.path().size() + 1));
        }
        return out;
    }
    TempDir dir;
};

TEST_F(FindImageFilesTest, ListsByNameContainmentAndDescendsIntoEveryFolder) {
    for (const wchar_t* name : {L"Photo.JPG", L"SCAN.Tiff", L"report.jpg.txt", L"notes.gifts",
                                L".jpg", L"README", L"photo.jpe", L"image.heic", L"jpg"})
        File(name);
    MakeDir(dir / L"holiday.jpg");
    File(L"holiday.jpg\\inside.png");
    MakeDir(dir / L"a");
    MakeDir(dir / L"a\\b");
    File(L"a\\b\\deep.webp");
    File(L"a\\b\\deep.txt");
    MakeDir(dir / L"empty");
    File(L"hidden.bmp");
    SetFileAttributesW((dir / L"hidden.bmp").c_str(), FILE_ATTRIBUTE_HIDDEN);
    File(L"system.gif");
    SetFileAttributesW((dir / L"system.gif").c_str(), FILE_ATTRIBUTE_SYSTEM);
    MakeDir(dir / L"secret");
    File(L"secret\\in_hidden.ico");
    SetFileAttributesW((dir / L"secret").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

    std::vector<std::wstring> found = Relative(FindImageFiles(dir.path()));
    std::vector<std::wstring> sorted = found;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<std::wstring> expected = {
        L".jpg",        L"Photo.JPG",      L"SCAN.Tiff",        L"a\\b\\deep.webp",
        L"hidden.bmp",  L"holiday.jpg\\inside.png", L"notes.gifts", L"report.jpg.txt",
        L"secret\\in_hidden.ico", L"system.gif"};
    EXPECT_EQ(sorted, expected);

    std::vector<std::wstring> platform;
    PlatformOrder(dir.path(), platform);
    EXPECT_EQ(found, Relative(platform)) << "depth first, in the platform's order";
}

TEST_F(FindImageFilesTest, EmptyOrMissingFoldersGiveNothing) {
    EXPECT_TRUE(FindImageFiles(dir.path()).empty());
    File(L"notes.txt");
    MakeDir(dir / L"sub");
    EXPECT_TRUE(FindImageFiles(dir.path()).empty());
    EXPECT_TRUE(FindImageFiles(dir / L"missing").empty());
    File(L"plain.png");
    EXPECT_TRUE(FindImageFiles(dir / L"plain.png").empty()) << "a file is no folder to search";
}

TEST_F(FindImageFilesTest, PathsKeepTheFolderArgumentVerbatim) {
    File(L"x.png");
    // A trailing separator, as a drive root has, doubles in every path.
    std::vector<std::wstring> found = FindImageFiles(dir.path() + L"\\");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], dir.path() + L"\\\\x.png");
}

TEST_F(FindImageFilesTest, UnreadableSubfolderContributesNothingAndTheWalkGoesOn) {
    if (!RunningUnderWine()) GTEST_SKIP() << "needs a host folder the platform cannot list";
    File(L"before.png");
    File(L"zafter.png");
    // The host lists this folder to nobody, root included.
    ASSERT_TRUE(MakeHostLink(dir / L"locked", "/proc/1/map_files"));
    std::vector<std::wstring> found = Relative(FindImageFiles(dir.path()));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::wstring>{L"before.png", L"zafter.png"}));
}

// Also on a drive that numbers no file, where the folders' final paths tell them apart.
TEST_F(FindImageFilesTest, FolderLinkLoopsEnd) {
    for (const wchar_t* top : {L"plain", kNumbersNoFile}) {
        const std::wstring root = dir / top;
        MakeDir(root);
        MakeDir(root + L"\\a");
        MakeDir(root + L"\\a\\b");
        WriteBytes(root + L"\\a\\b\\pic.png", "x");
        if (!MakeFolderLink(root + L"\\a\\b\\up", root + L"\\a") ||
            !MakeFolderLink(root + L"\\a\\self", root + L"\\a"))
            GTEST_SKIP() << "folder links cannot be made here";
        // A link to a folder outside the loop is walked like any folder.
        MakeDir(root + L"\\other");
        WriteBytes(root + L"\\other\\linked.gif", "x");
        ASSERT_TRUE(MakeFolderLink(root + L"\\a\\to_other", root + L"\\other"));

        std::vector<std::wstring> found = FindImageFiles(root);
        for (std::wstring& path : found) path = GetRelativePath(root, path);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, (std::vector<std::wstring>{L"a\\b\\pic.png", L"a\\to_other\\linked.gif",
                                                    L"other\\linked.gif"}))
            << (dir / top);
    }
}

// Under Wine no path limit stops a deep tree, and each level costs a call per level of
// the path in Wine itself: 2,000 levels (VORANDEL_LARGE=1) take many minutes.
TEST_F(FindImageFilesTest, DeepTreesAreCreatedAndWalked) {
    if (!RunningUnderWine()) GTEST_SKIP() << "Windows limits the path's length";
    const int levels = LargeRun() ? 2000 : 200;
    std::vector<std::wstring> folders;  // outermost first
    std::wstring deepest = dir.path();
    for (int level = 0; level < levels; ++level) folders.push_back(deepest += L"\\d");
    ASSERT_TRUE(CreateDirectoryTree(dir.path(), deepest));
    for (const std::wstring& folder : folders) ASSERT_TRUE(FolderExists(folder));
    const std::vector<std::wstring> images = {deepest + L"\\bottom.png",
                                              folders[levels / 2] + L"\\middle.png",
                                              folders[0] + L"\\top.png"};
    for (const std::wstring& image : images) WriteBytes(image, "x");
    std::vector<std::wstring> found = FindImageFiles(dir.path());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, images);
    // Removed here from the bottom up, as the shared clean-up walks a tree by calls.
    for (const std::wstring& image : images) DeleteFileW(image.c_str());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        RemoveDirectoryW(folder->c_str());
}

// An identity of all zeros is what some file systems give every file: it means unknown.
TEST(SameFileIdentity, OnlyKnownEqualIdentitiesMatch) {
    FileIdentity unknown;
    FileIdentity a;
    a.volume = 7;
    a.id[0] = 1;
    FileIdentity onlyVolume;
    onlyVolume.volume = 7;
    FileIdentity otherVolume = a;
    otherVolume.volume = 8;
    FileIdentity high = a;  // differs beyond the 64-bit index only
    high.id[15] = 1;
    // Where the ids are unknown, the final paths stand in, compared as Windows compares names.
    FileIdentity byPath;
    byPath.finalPath = L"\\\\?\\C:\\Pics\\Ä.png";
    FileIdentity byPathOtherCase;
    byPathOtherCase.finalPath = L"\\\\?\\c:\\PICS\\ä.PNG";
    FileIdentity byOtherPath;
    byOtherPath.finalPath = L"\\\\?\\C:\\Pics\\b.png";
    struct Case {
        const char* name;
        FileIdentity left, right;
        bool same;
    };
    const Case cases[] = {
        {"equal and known", a, a, true},
        {"unknown against itself", unknown, unknown, false},
        {"unknown on a known volume against itself", onlyVolume, onlyVolume, false},
        {"known against unknown", a, unknown, false},
        {"unknown against known", unknown, a, false},
        {"another volume", a, otherVolume, false},
        {"beyond 64 bits", a, high, false},
        {"by final path", byPath, byPathOtherCase, true},
        {"by another final path", byPath, byOtherPath, false},
        {"by final path against unknown", byPath, unknown, false},
    };
    for (const Case& c : cases) EXPECT_EQ(SameFileIdentity(c.left, c.right), c.same) << c.name;
}

// The corpus manifest records, per file, whether the scan must take it.
TEST(FindImageFilesCorpus, ListsExactlyWhatTheManifestSaysTheScanTakes) {
    std::vector<std::wstring> expected;
    for (const std::vector<std::string>& row : ManifestRows())
        if (row.size() > 5 && row[5] == "yes") expected.push_back(CorpusFile(FromUtf8(row[0])));
    std::vector<std::wstring> found = FindImageFiles(CorpusDir());
    // The camera photos are listed in their own SOURCES.tsv.
    const std::wstring photos = CorpusFile(L"photos\\");
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](const std::wstring& path) { return path.compare(0, photos.size(), photos) == 0; }),
                found.end());
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found.size(), 360u);
    EXPECT_EQ(found, expected);
}

}  // namespace
