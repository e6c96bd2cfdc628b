#include "extended_path.h"
#include "files.h"

#include "test_support.h"
#include "windows_file_system.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <new>
#include <set>
#include <thread>

namespace {

TEST(ExtendedPath, PrefixesAbsolutePathsAndDoesWhatThePrefixTurnsOff) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\pics\\a.png", L"\\\\?\\C:\\pics\\a.png"},
        {L"c:/pics/sub/a.png", L"\\\\?\\c:\\pics\\sub\\a.png"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"C:\\\\converted_images", L"\\\\?\\C:\\converted_images"},  // a drive root's doubled separator
        {L"C:\\pics\\.\\2023\\..\\a.png", L"\\\\?\\C:\\pics\\a.png"},
        {L"C:\\..\\..\\a.png", L"\\\\?\\C:\\a.png"},  // never above the drive
        {L"C:\\pics\\name. \\a .png", L"\\\\?\\C:\\pics\\name. \\a .png"},  // trailing dots and spaces stay
        {L"C:\\照片\\😀 e\u0301.png", L"\\\\?\\C:\\照片\\😀 e\u0301.png"},
        {L"\\\\server\\share\\pics\\a.png", L"\\\\?\\UNC\\server\\share\\pics\\a.png"},
        {L"\\\\server\\share", L"\\\\?\\UNC\\server\\share"},
        {L"\\\\server\\share\\..\\..\\a.png", L"\\\\?\\UNC\\server\\share\\a.png"},  // never above the share
        {L"//server/share/a.png", L"\\\\?\\UNC\\server\\share\\a.png"},
        {L"\\\\?\\C:\\pics\\..\\a.png", L"\\\\?\\C:\\pics\\..\\a.png"},  // prefixed: as it is
        {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
        {L"relative\\a.png", L"relative\\a.png"},
        {L"\\rooted\\a.png", L"\\rooted\\a.png"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(ExtendedPath(c.first), c.second) << c.first;
    const std::wstring deep = L"D:\\" + std::wstring(40000, L'x');
    EXPECT_EQ(ExtendedPath(deep), L"\\\\?\\" + deep);
}

// A hold as a scanner or sync client takes it on a new file, sharing what share says, for a
// few hundred milliseconds: far less than the two seconds the file layer waits.
std::thread HoldFor(const std::wstring& path, DWORD share, DWORD milliseconds) {
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    return std::thread([held, milliseconds] {
        Sleep(milliseconds);
        CloseHandle(held);
    });
}

TEST(Files, AnotherProgramsBriefHoldIsWaitedOutAndALastingOneIsNot) {
    TempDir dir;
    WriteBytes(dir / L"held.png", "bytes");
    std::thread brief = HoldFor(dir / L"held.png", 0, 300);
    FileHandle opened = OpenForReading(dir / L"held.png");
    brief.join();
    EXPECT_TRUE(opened.valid());
    opened.close();

    FileHandle lasting(CreateFileW((dir / L"held.png").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lasting.valid());
    EXPECT_FALSE(OpenForReading(dir / L"held.png").valid());
    lasting.close();
    // Windows says "access denied" for a folder too, which no waiting changes.
    EXPECT_FALSE(OpenForReading(dir.path()).valid());
}

// The names directly in folder, as the platform lists them.
std::set<std::wstring> Names(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    SearchHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search.valid()) {
        do {
            if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
                names.insert(found.cFileName);
        } while (FindNextFileW(search.get(), &found));
    }
    return names;
}

std::set<std::wstring> Entries(const std::wstring& folder) {
    std::set<std::wstring> names;
    FileHandle handle = OpenFolder(folder);
    EXPECT_TRUE(handle.valid());
    ListFolder(handle.get(), folder, [&](const std::wstring& name, DWORD attributes) {
        names.insert(name + (attributes & FILE_ATTRIBUTE_DIRECTORY ? L"\\" : L""));
        return true;
    });
    return names;
}

TEST(Files, AFolderThatRefusesTheListingByHandleIsListedByPath) {
    TempDir dir;
    const std::set<std::wstring> content = {L"a.png", L"notes.txt", L"sub\\", L"照片 .gif"};
    for (const wchar_t* folder : {L"plain", kRefusesListing}) {
        MakeDir(dir / folder);
        for (const std::wstring& name : content) {
            if (name.back() == L'\\')
                MakeDir(dir / folder + L"\\" + name.substr(0, name.size() - 1));
            else
                WriteBytes(dir / folder + L"\\" + name, "x");
        }
        EXPECT_EQ(Entries(dir / folder), content) << folder;
    }
}

// What a finished output becomes when it is given its name, by what is in the way.
TEST(TemporaryOutput, TakesItsNameOnlyWhereItMay) {
    TempDir dir;
    const std::wstring input = dir / L"in.png";
    WriteBytes(input, "the input");
    struct Case {
        const char* what;
        bool replace;
        std::function<void(const std::wstring& output)> inTheWay;
        Placement placement;
        std::string afterwards;  // the output's content; "" when it is a folder
    };
    const Case cases[] = {
        {"nothing", false, [](const std::wstring&) {}, Placement::Placed, "new"},
        {"a file, overwrite off", false,
         [](const std::wstring& output) { WriteBytes(output, "old"); }, Placement::Exists, "old"},
        {"a file, overwrite on", true,
         [](const std::wstring& output) { WriteBytes(output, "old"); }, Placement::Placed, "new"},
        {"a read-only file", true,
         [](const std::wstring& output) {
             WriteBytes(output, "old");
             SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_READONLY);
         },
         Placement::Failed, "old"},
        {"a folder, overwrite on", true, [](const std::wstring& output) { MakeDir(output); },
         Placement::Failed, ""},
        // No output is there: the file fails rather than being skipped for one.
        {"a folder, overwrite off", false, [](const std::wstring& output) { MakeDir(output); },
         Placement::Failed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring output = dir / L"out.png";
        c.inTheWay(output);
        {
            TemporaryOutput temporary(dir.path());
            ASSERT_TRUE(temporary.valid());
            ASSERT_TRUE(WriteAll(temporary.handle(), reinterpret_cast<const uint8_t*>("new"), 3));
            EXPECT_EQ(temporary.PlaceAt(input, output, c.replace), c.placement);
        }
        if (c.afterwards.empty()) {
            EXPECT_TRUE(FolderExists(output));
        } else {
            EXPECT_EQ(ReadBytes(output), c.afterwards);
        }
        EXPECT_EQ(ReadBytes(input), "the input");
        SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveTree(output);
        EXPECT_EQ(Names(dir.path()), std::set<std::wstring>{L"in.png"}) << "a temporary file is left";
    }
    // Never over its own input.
    TemporaryOutput temporary(dir.path());
    EXPECT_EQ(temporary.PlaceAt(input, input, true), Placement::Failed);
}

TEST(TemporaryOutput, NoScannerKeepsItFromItsNameOrFromGoing) {
    TempDir dir;
    WriteBytes(dir / L"out.png", "old");
    {
        TemporaryOutput temporary(dir.path());
        ASSERT_TRUE(WriteAll(temporary.handle(), reinterpret_cast<const uint8_t*>("new"), 3));
        // A scanner that holds the output it replaces, sharing only reading.
        std::thread scanner = HoldFor(dir / L"out.png", FILE_SHARE_READ, 300);
        EXPECT_EQ(temporary.PlaceAt(dir / L"in.png", dir / L"out.png", true), Placement::Placed);
        scanner.join();
    }
    EXPECT_EQ(ReadBytes(dir / L"out.png"), "new");
    {
        TemporaryOutput temporary(dir.path());
        ASSERT_TRUE(temporary.valid());
        std::set<std::wstring> names = Names(dir.path());
        names.erase(L"out.png");
        ASSERT_EQ(names.size(), 1u);
        // A scanner cannot hold it against its writer. (Windows opens a file marked for
        // deletion for nobody; Wine opens it for one who shares all of it.)
        const std::wstring name = dir / *names.begin();
        EXPECT_EQ(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
                  INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(Names(dir.path()), std::set<std::wstring>{L"out.png"});
}

// A program that is ended or crashes runs no destructor, and the system closes its handles:
// the file system itself then removes what it was writing.
TEST(TemporaryOutput, GoesWithItsLastHandleWhenItsOwnerNeverEnds) {
    TempDir dir;
    alignas(TemporaryOutput) unsigned char storage[sizeof(TemporaryOutput)];
    auto* abandoned = new (storage) TemporaryOutput(dir.path());
    ASSERT_TRUE(abandoned->valid());
    ASSERT_TRUE(WriteAll(abandoned->handle(), reinterpret_cast<const uint8_t*>("half"), 4));
    // The codec worker's copy of the handle, which ends with the worker.
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), abandoned->handle(), GetCurrentProcess(),
                                &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
    CloseHandle(abandoned->handle());
    EXPECT_EQ(Names(dir.path()).size(), 1u) << "gone before its last handle";
    CloseHandle(copy);
    EXPECT_TRUE(Names(dir.path()).empty()) << "a temporary file is left";
}

}  // namespace
