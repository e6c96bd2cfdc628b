#include "output_paths.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace {

struct RelativeCase {
    const wchar_t* source;
    const wchar_t* path;
    const wchar_t* relative;
};

TEST(GetRelativePath, DropsTheSourceFolderAndItsSeparator) {
    const RelativeCase cases[] = {
        {L"C:\\pics", L"C:\\pics\\2023\\a.png", L"2023\\a.png"},
        {L"C:\\pics", L"C:\\pics\\a.png", L"a.png"},
        {L"C:\\", L"C:\\\\a.png", L"a.png"},           // drive root: the doubled separator
        {L"C:\\pics", L"C:\\PICS\\a.png", L"C:\\PICS\\a.png"},  // the match is exact
        {L"C:\\pics", L"D:\\pics\\a.png", L"D:\\pics\\a.png"},
        {L"C:\\pics\\deep", L"C:\\pics", L"C:\\pics"},  // shorter than the folder
        {L"C:\\pics", L"C:\\pics", L""},
        {L"", L"C:\\pics\\a.png", L"C:\\pics\\a.png"},
    };
    for (const RelativeCase& c : cases)
        EXPECT_EQ(GetRelativePath(c.source, c.path), c.relative) << c.source << L" | " << c.path;
}

struct ExtensionCase {
    const wchar_t* text;
    const wchar_t* extension;
    const wchar_t* result;
};

TEST(ReplaceExtension, ReplacesOnlyWhatFollowsTheLastDot) {
    const ExtensionCase cases[] = {
        {L"a.png", L"jpeg", L"a.jpeg"},
        {L"a.b.png", L"jpeg", L"a.b.jpeg"},
        {L"A.PNG", L"jpeg", L"A.jpeg"},
        {L".png", L"jpeg", L".jpeg"},
        {L"report.jpg.txt", L"jpeg", L"report.jpg.jpeg"},
        {L"notes.gifts", L"jpeg", L"notes.jpeg"},
        {L"noextension", L"bmp", L"noextension.bmp"},
    };
    for (const ExtensionCase& c : cases)
        EXPECT_EQ(ReplaceExtension(c.text, c.extension), c.result) << c.text;
}

TEST(BuildOutputPath, FlatModeNamesEveryFileDirectlyInTheOutputRootWithoutCreatingFolders) {
    TempDir dir;
    const std::wstring root = OutputRootFor(dir.path());
    EXPECT_EQ(root, dir.path() + L"\\converted_images");
    EXPECT_EQ(BuildOutputPath(dir / L"2023\\trip\\a.png", dir.path(), root, L"jpeg", false),
              root + L"\\a.jpeg");
    EXPECT_EQ(BuildOutputPath(dir / L"x\\a.b.png", dir.path(), root, L"tiff", false),
              root + L"\\a.b.tiff");
    // Same name in two folders, or two extensions of one name: one output path.
    EXPECT_EQ(BuildOutputPath(dir / L"y\\a.jpg", dir.path(), root, L"jpeg", false),
              BuildOutputPath(dir / L"a.png", dir.path(), root, L"jpeg", false));
    EXPECT_FALSE(FolderExists(root));
}

TEST(BuildOutputPath, KeepStructureMirrorsTheTreeAndCreatesTheFolders) {
    TempDir dir;
    const std::wstring root = OutputRootFor(dir.path());
    MakeDir(root);  // as the run makes it before any file
    EXPECT_EQ(BuildOutputPath(dir / L"2023\\trip\\a.png", dir.path(), root, L"jpeg", true),
              root + L"\\2023\\trip\\a.jpeg");
    EXPECT_TRUE(FolderExists(root + L"\\2023\\trip"));
    EXPECT_EQ(BuildOutputPath(dir / L"report.jpg.txt", dir.path(), root, L"jpeg", true),
              root + L"\\report.jpg.jpeg");
    EXPECT_EQ(BuildOutputPath(dir / L"sub\\A.PNG", dir.path(), root, L"bmp", true),
              root + L"\\sub\\A.bmp");
    EXPECT_EQ(BuildOutputPath(dir / L"sub\\.png", dir.path(), root, L"gif", true),
              root + L"\\sub\\.gif");
    EXPECT_EQ(BuildOutputPath(dir / L"twin.jpg", dir.path(), root, L"png", true),
              BuildOutputPath(dir / L"twin.png", dir.path(), root, L"png", true));
}

TEST(BuildOutputPath, DriveRootSourceGivesDoubledSeparators) {
    // As the folder picker reports a drive root; pure path arithmetic in flat mode.
    const std::wstring root = OutputRootFor(L"C:\\");
    EXPECT_EQ(root, L"C:\\\\converted_images");
    EXPECT_EQ(BuildOutputPath(L"C:\\\\sub\\a.png", L"C:\\", root, L"webp", false),
              L"C:\\\\converted_images\\a.webp");
}

TEST(CreateDirectoryTree, CreatesMissingLevelsBelowTheRootOnly) {
    TempDir dir;
    const std::wstring deepest = dir / L"one\\two\\three";
    ASSERT_TRUE(CreateDirectoryTree(dir.path(), deepest));
    EXPECT_TRUE(FolderExists(dir / L"one"));
    EXPECT_TRUE(FolderExists(dir / L"one\\two"));
    EXPECT_TRUE(FolderExists(deepest));
    EXPECT_TRUE(CreateDirectoryTree(dir.path(), deepest)) << "an existing folder counts";
    EXPECT_TRUE(CreateDirectoryTree(dir.path(), dir.path()));

    // A root gone during a run is not made again, and nothing below it either.
    const std::wstring gone = dir / L"gone";
    EXPECT_FALSE(CreateDirectoryTree(gone, gone + L"\\converted_images\\sub"));
    EXPECT_FALSE(CreateDirectoryTree(gone, gone));
    EXPECT_FALSE(FolderExists(gone));
}

TEST(CreateDirectoryTree, AFileOfThatNameCountsAsExistingButBlocksFoldersBelowIt) {
    TempDir dir;
    WriteBytes(dir / L"converted_images", "not a folder");
    EXPECT_TRUE(CreateDirectoryTree(dir.path(), dir / L"converted_images"));
    EXPECT_TRUE(FileExists(dir / L"converted_images"));
    EXPECT_FALSE(CreateDirectoryTree(dir.path(), dir / L"converted_images\\sub"));
    EXPECT_FALSE(CreateDirectoryTree(dir / L"converted_images", dir / L"converted_images\\sub"))
        << "a root that is a file is no folder";
}

}  // namespace
