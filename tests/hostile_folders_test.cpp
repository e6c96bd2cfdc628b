// Folders the user did not make, run through the real window: odd names, depth, links,
// and files that change while the run goes on. One runner over a table of folders.
#include "window_fixture.h"

#include "controls.h"
#include "discovery.h"
#include "output_paths.h"
#include "run_checker.h"
#include "test_support.h"
#include "windows_file_system.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>

namespace {

// A change made on the window's thread just before the run reaches the listed file.
struct Change {
    std::wstring file;  // the listed file whose turn triggers it
    std::function<void(const std::wstring& source)> make;
    std::vector<std::wstring> touches;  // source files and folders ("name\\") it changes itself
};

struct HostileFolder {
    const char* name;
    bool overwrite;
    // Builds the folder below base; returns the source folder to choose.
    std::function<std::wstring(const TempDir& base)> build;
    // Expected mark of each listed file ('+', 'x', 's'); unlisted files must not appear.
    std::map<std::wstring, char> expected;
    std::vector<Change> changes;
    // Called once the run has ended, before the folder is read again; false when a change
    // could not be made here, so that only the promises every run keeps are checked.
    std::function<bool(const std::wstring& source)> afterRun;
    bool keepStructure = true;
};

void Image(const std::wstring& path) { SaveTestImage(path, L"image/png"); }

// base followed by a folder named name and padded to length characters: the rows' relative
// paths, and so their lengths, do not depend on where the suite's folders lie.
std::wstring SourceOfLength(const TempDir& base, const std::wstring& name, size_t length) {
    std::wstring source = base / name;
    source += std::wstring(length - source.size(), L'_');
    MakeDir(source);
    return source;
}

// The path below a source folder of sourceLength characters, through folders of at most 100
// characters, of a file named name whose full path has exactly length characters.
std::wstring RelativePathOfLength(size_t sourceLength, size_t length, const std::wstring& name) {
    std::wstring relative;
    for (;;) {
        size_t remaining = length - sourceLength - 1 - relative.size() - name.size();
        if (remaining == 0) return relative + name;
        // Never leave one character, which no folder name and separator fit in.
        size_t folder = remaining - 1 <= 100 ? remaining - 1 : std::min<size_t>(100, remaining - 3);
        relative += std::wstring(folder, L'L') + L"\\";
    }
}

// An image at source's relative path, with its folders.
void ImageAt(const std::wstring& source, const std::wstring& relative) {
    const std::wstring path = source + L"\\" + relative;
    ASSERT_TRUE(CreateDirectoryTree(source, path.substr(0, path.rfind(L'\\'))));
    Image(path);
}

std::wstring Chain(const std::wstring& top, int levels) {
    std::wstring path = top;
    for (int level = 1; level <= levels; ++level) {
        path += L"\\level" + std::to_wstring(level);
        MakeDir(path);
    }
    return path;
}

// Held open without sharing until the suite ends, as another program would.
std::vector<std::unique_ptr<FileHandle>> g_lockedOutputs;

// levels nested folders with a picture at the top, in the middle and at the bottom, made by
// the host: under Wine making each level costs a lookup of every level above it.
HostileFolder DeepFolder(int levels) {
    // The middle picture's folder and the bottom one, relative to the source, as the host
    // writes them.
    std::string half, all;
    for (int level = 0; level < levels; ++level) (level < levels / 2 ? half : all) += "d/";
    all = half + all;
    auto listed = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return std::wstring(path.begin(), path.end());
    };
    return {"a tree of many levels", false,
            [half, all](const TempDir& base) {
                std::wstring source = base / L"deep";
                MakeDir(source);
                Image(source + L"\\top.png");
                EXPECT_TRUE(RunHostScript(base.path(), "set -e\ncd '" + HostPath(source) +
                                                           "'\nmkdir -p " + all + "\ncp top.png " +
                                                           half + "middle.png\ncp top.png " + all +
                                                           "bottom.png\n"));
                return source;
            },
            // Under Wine every path is also a host path, which Linux bounds at 4,096 bytes:
            // the bottom's output, longer than that, cannot be written there.
            {{L"top.png", '+'}, {listed(half + "middle.png"), '+'}, {listed(all + "bottom.png"), '?'}},
            {},
            nullptr};
}

std::vector<HostileFolder> Folders() {
    std::vector<HostileFolder> folders;
    folders.push_back({"names, depth and links below a source folder of 250 characters",
                       false,
                       [](const TempDir& base) {
                           std::wstring source = base.path() + L"\\";
                           source += std::wstring(250 - source.size(), L'n');
                           MakeDir(source);
                           for (const wchar_t* name :
                                {L"照片.png", L"😀 smile.png", L"Cafe\u0301.png", L" spaced name .png",
                                 L"Case.png", L"case.gif"})
                               Image(source + L"\\" + name);
                           Image(Chain(source, 30) + L"\\deep.png");
                           MakeDir(base / L"outside");
                           Image(base / L"outside\\beyond.png");
                           if (RunningUnderWine()) {
                               MakeFolderLink(source + L"\\link_loop", source);
                               MakeFolderLink(source + L"\\link_out", base / L"outside");
                               MakeHostLink(source + L"\\link_dangling", "/nonexistent/vorandel");
                               MakeFolderLink(source + L"\\link_converted",
                                              OutputRootFor(source));
                           }
                           return source;
                       },
                       {{L"照片.png", '+'},
                        {L"😀 smile.png", '+'},
                        {L"Cafe\u0301.png", '+'},
                        {L" spaced name .png", '+'},
                        {L"Case.png", '?'},  // one of the two names that differ only in case
                        {L"case.gif", '?'},  // is converted, the other skipped
                        {L"level1\\level2\\level3\\level4\\level5\\level6\\level7\\level8\\level9\\level10"
                         L"\\level11\\level12\\level13\\level14\\level15\\level16\\level17\\level18"
                         L"\\level19\\level20\\level21\\level22\\level23\\level24\\level25\\level26"
                         L"\\level27\\level28\\level29\\level30\\deep.png",
                         '+'},
                        {L"link_out\\beyond.png", '+'}},
                       {},
                       nullptr});
    folders.push_back(
        {"changes during the run", true,
         [](const TempDir& base) {
             std::wstring source = base / L"changing";
             MakeDir(source);
             for (const wchar_t* name : {L"a_first.png", L"deleted.png", L"replaced.png",
                                         L"locked.png", L"readonly.png", L"z_last.png"})
                 Image(source + L"\\" + name);
             MakeDir(source + L"\\gone");
             Image(source + L"\\gone\\one.png");
             Image(source + L"\\gone\\two.png");
             MakeDir(OutputRootFor(source));
             WriteBytes(OutputRootFor(source) + L"\\locked.bmp", "held by another program");
             WriteBytes(OutputRootFor(source) + L"\\readonly.bmp", "kept by its owner");
             SetFileAttributesW((OutputRootFor(source) + L"\\readonly.bmp").c_str(),
                                FILE_ATTRIBUTE_READONLY);
             return source;
         },
         {{L"a_first.png", '+'},
          {L"deleted.png", 'x'},
          {L"replaced.png", 'x'},
          {L"locked.png", 'x'},
          {L"readonly.png", 'x'},
          {L"gone\\one.png", 'x'},
          {L"gone\\two.png", 'x'},
          {L"z_last.png", '+'},
          // The outputs already there are inputs too, and hold no picture.
          {L"converted_images\\locked.bmp", 'x'},
          {L"converted_images\\readonly.bmp", 'x'}},
         {{L"deleted.png",
           [](const std::wstring& source) { DeleteFileW((source + L"\\deleted.png").c_str()); },
           {L"deleted.png"}},
          {L"replaced.png",
           [](const std::wstring& source) {
               DeleteFileW((source + L"\\replaced.png").c_str());
               CreateDirectoryW((source + L"\\replaced.png").c_str(), nullptr);
           },
           {L"replaced.png", L"replaced.png\\"}},
          {L"locked.png",
           [](const std::wstring& source) {
               g_lockedOutputs.push_back(std::make_unique<FileHandle>(
                   CreateFileW((OutputRootFor(source) + L"\\locked.bmp").c_str(),
                               GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr)));
               EXPECT_TRUE(g_lockedOutputs.back()->valid());
           },
           {}},
          {L"gone\\one.png",
           [](const std::wstring& source) { RemoveTree(source + L"\\gone"); },
           {L"gone\\", L"gone\\one.png", L"gone\\two.png"}}},
         nullptr});
    folders.push_back(
        {"the source folder renamed away during the run", false,
         [](const TempDir& base) {
             std::wstring source = base / L"moving";
             MakeDir(source);
             MakeDir(source + L"\\sub");
             for (const wchar_t* name : {L"a_first.png", L"sub\\b.png", L"sub\\c.png", L"z_last.png"})
                 Image(source + L"\\" + name);
             return source;
         },
         // Files listed before the change convert and those after fail: which are which is
         // the folder's own listing order.
         {{L"a_first.png", '?'}, {L"sub\\b.png", 'x'}, {L"sub\\c.png", '?'}, {L"z_last.png", '?'}},
         {{L"sub\\b.png",
           // Windows refuses the rename while anything inside is open.
           [](const std::wstring& source) { MoveFileW(source.c_str(), (source + L"_moved").c_str()); },
           {}}},
         [](const std::wstring& source) {
             if (!FolderExists(source + L"_moved")) return false;
             // Its output folders are made only inside the output root the run began with.
             EXPECT_FALSE(FolderExists(source)) << "the run made the vanished folder again";
             EXPECT_TRUE(MoveFileW((source + L"_moved").c_str(), source.c_str()));
             return true;
         }});
    // Windows's limits and odd file systems, played under Wine (windows_file_system.h). The
    // source is 60 characters long, so the two deep inputs have 300 and 383 characters, and
    // the latter's output has 400.
    const std::wstring input300 = RelativePathOfLength(60, 300, L"in300.png");
    const std::wstring input383 = RelativePathOfLength(60, 383, L"in383.png");
    folders.push_back({"long paths and a folder listed only by path",
                       false,
                       [input300, input383](const TempDir& base) {
                           std::wstring source = SourceOfLength(base, L"windows", 60);
                           ImageAt(source, input300);
                           ImageAt(source, input383);
                           ImageAt(source, std::wstring(kRefusesListing) + L"\\a.png");
                           ImageAt(source, std::wstring(kRefusesListing) + L"\\sub\\b.png");
                           return source;
                       },
                       {{input300, '+'},
                        {input383, '+'},
                        {std::wstring(kRefusesListing) + L"\\a.png", '+'},
                        {std::wstring(kRefusesListing) + L"\\sub\\b.png", '+'}},
                       {},
                       nullptr});
    // An earlier run's output is an input whose output is itself: with overwrite on it must
    // not be written over, although the drive tells no file from another by its number.
    folders.push_back({"a drive that numbers no file, outputs in one folder, overwrite on", true,
                       [](const TempDir& base) {
                           std::wstring source = base / kNumbersNoFile;
                           MakeDir(source);
                           Image(source + L"\\a.png");
                           MakeDir(OutputRootFor(source));
                           SaveTestImage(OutputRootFor(source) + L"\\b.bmp", L"image/bmp");
                           return source;
                       },
                       {{L"a.png", '+'}, {L"converted_images\\b.bmp", 'x'}},
                       {},
                       nullptr,
                       false});
    // An output path that an earlier run, or the same one, made a folder for a subfolder of
    // that name: no output is there to skip for, and the save fails.
    for (bool overwrite : {false, true})
        folders.push_back({overwrite ? "a folder at an output path, overwrite on"
                                     : "a folder at an output path, overwrite off",
                           overwrite,
                           [](const TempDir& base) {
                               std::wstring source = base / L"folder-output";
                               MakeDir(source);
                               Image(source + L"\\pic.png");
                               ImageAt(source, L"pic.bmp\\in.png");
                               MakeDir(OutputRootFor(source));
                               MakeDir(OutputRootFor(source) + L"\\pic.bmp");
                               return source;
                           },
                           {{L"pic.png", 'x'}, {L"pic.bmp\\in.png", '+'}},
                           {},
                           nullptr});
    if (LargeRun() && RunningUnderWine()) folders.push_back(DeepFolder(2000));
    return folders;
}

using HostileFolderRun = MainWindowTest;

TEST_F(HostileFolderRun, EveryFolderOfTheTableKeepsTheRunsPromises) {
    for (HostileFolder& folder : Folders()) {
        SCOPED_TRACE(folder.name);
        // Links are made only where the tests can make them.
        if (!RunningUnderWine()) folder.expected.erase(L"link_out\\beyond.png");
        TempDir base;
        const std::wstring source = folder.build(base);
        // The run makes its output root before it scans; so does this.
        CreateDirectoryTree(source, OutputRootFor(source));
        RunRecord run;
        run.source = source;
        run.extension = L"bmp";
        run.keepStructure = folder.keepStructure;
        for (const std::wstring& file : FindImageFiles(source))
            run.listed.push_back(GetRelativePath(source, file));
        std::vector<std::wstring> expectedOrder;
        for (const std::wstring& file : run.listed)
            if (folder.expected.count(file)) expectedOrder.push_back(file);
        EXPECT_EQ(expectedOrder.size(), run.listed.size()) << "the scan lists unexpected files";
        EXPECT_EQ(expectedOrder.size(), folder.expected.size()) << "the scan misses files";

        std::map<WPARAM, const Change*> changeAt;
        for (const Change& change : folder.changes) {
            for (size_t i = 0; i < run.listed.size(); ++i)
                if (run.listed[i] == change.file) changeAt[i + 1] = &change;
            run.changedByTest.insert(run.changedByTest.end(), change.touches.begin(),
                                     change.touches.end());
        }
        onProgressPosition = [&](WPARAM position) {
            auto change = changeAt.find(position);
            if (change != changeAt.end()) change->second->make(source);
        };
        run.before = ReadFolderContents(source);
        ChooseFolder(source);
        SetCheck(IDC_OVERWRITE, folder.overwrite);
        SetCheck(IDC_KEEP_STRUCTURE, folder.keepStructure);
        MarkLog();
        const DWORD runStart = GetTickCount();
        RunToEnd();
        const DWORD runTook = GetTickCount() - runStart;
        onProgressPosition = nullptr;
        g_lockedOutputs.clear();
        const bool changed = !folder.afterRun || folder.afterRun(source);
        run.log = NewLogLines();
        run.after = ReadFolderContents(source);
        std::vector<char> marks = CheckRunInvariants(run);
        size_t longestInput = 0;
        size_t longestOutput = 0;
        for (size_t i = 0; i < marks.size() && i < run.listed.size(); ++i) {
            if (marks[i] != '+') continue;
            const std::wstring& listed = run.listed[i];
            const std::wstring kept =
                folder.keepStructure ? listed : listed.substr(listed.rfind(L'\\') + 1);
            longestInput = std::max(longestInput, source.size() + 1 + listed.size());
            longestOutput = std::max(longestOutput, (OutputRootFor(source) + L"\\" +
                                                     ReplaceExtension(kept, run.extension)).size());
        }
        std::cout << folder.name << ": run in " << runTook << " ms, the longest input and output "
                  << "converted have " << longestInput << " and " << longestOutput << " characters\n";
        for (size_t i = 0; i < marks.size() && i < run.listed.size(); ++i) {
            char expected = folder.expected.count(run.listed[i]) ? folder.expected.at(run.listed[i]) : '?';
            if (expected != '?' && changed) {
                EXPECT_EQ(marks[i], expected) << run.listed[i];
            }
        }
        SetFileAttributesW((OutputRootFor(source) + L"\\readonly.bmp").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

}  // namespace

namespace {

// VORANDEL_LARGE=1: a tree of 100,000 entries, 2,000 of them images, converted while a
// second thread asks the window for an answer every 20 ms. Prints what it saw.
TEST_F(HostileFolderRun, LargeTreeKeepsTheWindowAnsweringAndReleasesWhatItTook) {
    if (!LargeRun()) GTEST_SKIP() << "set VORANDEL_LARGE=1 for the large run";
    TempDir base;
    const std::wstring source = base / L"large";
    MakeLargeTree(source);
    Pump();
    const DWORD handlesBefore = CountOpenHandles();
    // Private memory is the committed memory, which Wine reports as the pagefile usage only.
    PROCESS_MEMORY_COUNTERS memory{};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    const SIZE_T privateBefore = memory.PagefileUsage;

    std::atomic<bool> probing{true};
    std::atomic<DWORD> slowest{0};
    std::atomic<int> probes{0};
    HWND window = g_hMainWnd;
    std::thread prober([&] {
        while (probing) {
            DWORD start = GetTickCount();
            DWORD_PTR result = 0;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
            DWORD took = GetTickCount() - start;
            if (took > slowest) slowest = took;
            ++probes;
            Sleep(20);
        }
    });
    ChooseFolder(source);
    MarkLog();
    DWORD runStart = GetTickCount();
    RunToEnd();
    DWORD runTook = GetTickCount() - runStart;
    probing = false;
    prober.join();
    std::vector<std::wstring> log = NewLogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), L"输出目录: " + OutputRootFor(source));
    EXPECT_EQ(log[log.size() - 2], L"转换完成! 成功: 2000/2000");

    const DWORD handlesAfter = CountOpenHandles();
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::cout << "large run: " << runTook << " ms, " << probes << " probes, slowest answer "
              << slowest << " ms; handles " << handlesBefore << " -> " << handlesAfter
              << "; private memory " << privateBefore / 1024 << " KiB -> "
              << memory.PagefileUsage / 1024 << " KiB" << std::endl;
    EXPECT_LE(handlesAfter, handlesBefore + 16);
    EXPECT_LE(memory.PagefileUsage, privateBefore + 64 * 1024 * 1024);
}

}  // namespace
