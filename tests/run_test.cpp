#include "window_fixture.h"

#include "codec.h"
#include "commands.h"
#include "controls.h"
#include "discovery.h"
#include "hostile_files.h"
#include "output_paths.h"
#include "test_support.h"
#include "main_window.h"

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <thread>

// The worker's time limit for one file; tests shorten it.
extern DWORD g_codecFileTimeLimitMs;

namespace {

std::wstring Converted(const std::wstring& file) { return L"✓ " + file; }
std::wstring Failed(const std::wstring& file) { return L"✗ " + file + L" 转换失败"; }
std::wstring Skipped(const std::wstring& file) { return L"跳过 " + file + L" (文件已存在)"; }

std::vector<std::wstring> Header(const std::wstring& format, int quality, size_t total) {
    return {L"开始转换图片...", L"目标格式: " + format,
            L"质量设置: " + std::to_wstring(quality) + L"%",
            L"找到 " + std::to_wstring(total) + L" 个图片文件"};
}

// The files' lines in the order the run meets them, which is the folder scan's.
std::vector<std::wstring> InScanOrder(const std::wstring& source,
                                      const std::map<std::wstring, std::wstring>& lineOfFile) {
    std::vector<std::wstring> lines;
    for (const std::wstring& file : FindImageFiles(source))
        lines.push_back(lineOfFile.at(GetRelativePath(source, file)));
    EXPECT_EQ(lines.size(), lineOfFile.size()) << "the scan does not list the expected files";
    return lines;
}

// Range 0..total, then every position from 0 to total, in order.
std::vector<ProgressMessage> ProgressOf(size_t total) {
    std::vector<ProgressMessage> messages = {{PBM_SETRANGE32, 0, static_cast<LPARAM>(total)}};
    for (size_t position = 0; position <= total; ++position)
        messages.push_back({PBM_SETPOS, position, 0});
    return messages;
}

const ImageSize kTestSize{16, 12};

// A tree of several formats with one broken file and one output already in place.
struct SampleTree {
    TempDir dir;
    const std::wstring& source = dir.path();
    SampleTree() {
        SaveTestImage(dir / L"a.png", L"image/png");
        SaveTestImage(dir / L"b.bmp", L"image/bmp");
        WriteBytes(dir / L"broken.jpg", "not a JPEG at all");
        WriteBytes(dir / L"notes.txt", "not an image");
        MakeDir(dir / L"sub");
        SaveTestImage(dir / L"sub\\c.gif", L"image/gif");
        SaveTestImage(dir / L"sub\\e.tiff", L"image/tiff");
        MakeDir(dir / L"sub\\deep");
        SaveTestImage(dir / L"sub\\deep\\d.jpg", L"image/jpeg");
        MakeDir(dir / L"converted_images");
        SaveTestImage(dir / L"converted_images\\a.bmp", L"image/bmp", 5, 5);
    }
};

using ConversionRun = MainWindowTest;

TEST_F(ConversionRun, ConvertsATreeKeepingItsStructure) {
    SampleTree tree;
    const std::string existing = ReadBytes(tree.dir / L"converted_images\\a.bmp");
    std::vector<std::wstring> fileLines = InScanOrder(
        tree.source, {{L"a.png", Skipped(L"a.png")},
                      {L"b.bmp", Converted(L"b.bmp")},
                      {L"broken.jpg", Failed(L"broken.jpg")},
                      {L"sub\\c.gif", Converted(L"sub\\c.gif")},
                      {L"sub\\e.tiff", Converted(L"sub\\e.tiff")},
                      {L"sub\\deep\\d.jpg", Converted(L"sub\\deep\\d.jpg")},
                      {L"converted_images\\a.bmp", Converted(L"converted_images\\a.bmp")}});
    ChooseFolder(tree.source);
    MarkLog();
    RunToEnd();

    const std::wstring root = tree.dir / L"converted_images";
    EXPECT_EQ(NewLogLines(), Joined(Joined(Header(L"BMP", 90, 7), fileLines),
                                    {L"转换完成! 成功: 5/7", L"输出目录: " + root}));
    EXPECT_TRUE(LastLineInView());
    EXPECT_EQ(progress, ProgressOf(7));
    EXPECT_TRUE(IsStartEnabled());

    EXPECT_EQ(ListFiles(root), (std::set<std::wstring>{L"a.bmp", L"b.bmp", L"sub\\c.bmp",
                                                       L"sub\\e.bmp", L"sub\\deep\\d.bmp",
                                                       L"converted_images\\a.bmp"}));
    EXPECT_EQ(ReadBytes(root + L"\\a.bmp"), existing) << "a skipped output was touched";
    for (const wchar_t* output : {L"\\b.bmp", L"\\sub\\c.bmp", L"\\sub\\e.bmp", L"\\sub\\deep\\d.bmp"})
        EXPECT_EQ(DecodedSize(root + output), kTestSize);
    EXPECT_EQ(DecodedSize(root + L"\\converted_images\\a.bmp"), (ImageSize{5, 5}));
}

TEST_F(ConversionRun, FlattensTheTreeWithoutKeepStructure) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png");
    MakeDir(dir / L"sub");
    SaveTestImage(dir / L"sub\\c.gif", L"image/gif");
    MakeDir(dir / L"sub\\deep");
    SaveTestImage(dir / L"sub\\deep\\d.jpg", L"image/jpeg");
    WriteBytes(dir / L"sub\\broken.png", "");
    std::vector<std::wstring> fileLines =
        InScanOrder(dir.path(), {{L"a.png", Converted(L"a.png")},
                                 {L"sub\\c.gif", Converted(L"sub\\c.gif")},
                                 {L"sub\\deep\\d.jpg", Converted(L"sub\\deep\\d.jpg")},
                                 {L"sub\\broken.png", Failed(L"sub\\broken.png")}});
    ChooseFolder(dir.path());
    SelectFormat(L"PNG");
    SetCheck(IDC_KEEP_STRUCTURE, false);
    MarkLog();
    RunToEnd();

    const std::wstring root = dir / L"converted_images";
    EXPECT_EQ(NewLogLines(), Joined(Joined(Header(L"PNG", 90, 4), fileLines),
                                    {L"转换完成! 成功: 3/4", L"输出目录: " + root}));
    EXPECT_EQ(ListFiles(root), (std::set<std::wstring>{L"a.png", L"c.png", L"d.png"}));
    EXPECT_EQ(DecodedSize(root + L"\\d.png"), kTestSize);
    EXPECT_EQ(progress, ProgressOf(4));
}

// Files that map onto one output path: x.png in two folders (only without keep-structure)
// and y.jpg beside y.png (in both modes). The one met first is written; the later one is
// skipped, or replaces it when overwrite is on.
TEST_F(ConversionRun, ResolvesSameNameCollisionsByOverwrite) {
    for (bool keepStructure : {false, true}) {
        for (bool overwrite : {false, true}) {
            SCOPED_TRACE(testing::Message() << "keepStructure " << keepStructure << " overwrite "
                                            << overwrite);
            TempDir dir;
            MakeDir(dir / L"one");
            MakeDir(dir / L"two");
            SaveTestImage(dir / L"one\\x.png", L"image/png", 16, 12);
            SaveTestImage(dir / L"two\\x.png", L"image/png", 20, 10);
            SaveTestImage(dir / L"y.jpg", L"image/jpeg", 8, 8);
            SaveTestImage(dir / L"y.png", L"image/png", 9, 9);
            const std::map<std::wstring, ImageSize> sizes = {{L"one\\x.png", {16, 12}},
                                                             {L"two\\x.png", {20, 10}},
                                                             {L"y.jpg", {8, 8}},
                                                             {L"y.png", {9, 9}}};
            // Which of each pair the run meets first is the scan's order.
            std::map<std::wstring, std::wstring> lineOfFile;
            std::map<std::wstring, ImageSize> expectedOutputs;
            for (const std::wstring& file : FindImageFiles(dir.path())) {
                std::wstring relative = GetRelativePath(dir.path(), file);
                std::wstring output =
                    relative[0] == L'y' ? L"y.gif"
                                        : (keepStructure ? relative.substr(0, 4) : L"") + L"x.gif";
                bool taken = expectedOutputs.count(output) != 0;
                lineOfFile[relative] =
                    taken && !overwrite ? Skipped(relative) : Converted(relative);
                if (!taken || overwrite) expectedOutputs[output] = sizes.at(relative);
            }
            ChooseFolder(dir.path());
            SelectFormat(L"GIF");
            SetCheck(IDC_KEEP_STRUCTURE, keepStructure);
            SetCheck(IDC_OVERWRITE, overwrite);
            std::vector<std::wstring> fileLines = InScanOrder(dir.path(), lineOfFile);
            MarkLog();
            RunToEnd();

            std::vector<std::wstring> lines = NewLogLines();
            ASSERT_EQ(lines.size(), 10u);
            EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 4, lines.begin() + 8), fileLines);
            const size_t written = overwrite ? 4 : expectedOutputs.size();
            EXPECT_EQ(lines[8], L"转换完成! 成功: " + std::to_wstring(written) + L"/4");
            std::set<std::wstring> outputs;
            for (const auto& expected : expectedOutputs) {
                outputs.insert(expected.first);
                EXPECT_EQ(DecodedSize(dir / (L"converted_images\\" + expected.first)),
                          expected.second)
                    << expected.first;
            }
            EXPECT_EQ(ListFiles(dir / L"converted_images"), outputs);
        }
    }
}

TEST_F(ConversionRun, OverwriteReplacesAnEarlierOutput) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png");
    MakeDir(dir / L"converted_images");
    SaveTestImage(dir / L"converted_images\\a.bmp", L"image/bmp", 5, 5);
    ChooseFolder(dir.path());
    SetCheck(IDC_OVERWRITE, true);
    std::vector<std::wstring> fileLines =
        InScanOrder(dir.path(), {{L"a.png", Converted(L"a.png")},
                                 {L"converted_images\\a.bmp", Converted(L"converted_images\\a.bmp")}});
    MarkLog();
    RunToEnd();
    std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 4, lines.begin() + 6), fileLines);
    EXPECT_EQ(lines[6], L"转换完成! 成功: 2/2");
    EXPECT_EQ(DecodedSize(dir / L"converted_images\\a.bmp"), kTestSize);
}

TEST_F(ConversionRun, SecondRunTakesTheFirstRunsOutputsAsInputs) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png");
    MakeDir(dir / L"sub");
    SaveTestImage(dir / L"sub\\b.gif", L"image/gif");
    ChooseFolder(dir.path());
    RunToEnd();
    std::vector<std::wstring> fileLines = InScanOrder(
        dir.path(), {{L"a.png", Skipped(L"a.png")},
                     {L"sub\\b.gif", Skipped(L"sub\\b.gif")},
                     {L"converted_images\\a.bmp", Converted(L"converted_images\\a.bmp")},
                     {L"converted_images\\sub\\b.bmp", Converted(L"converted_images\\sub\\b.bmp")}});
    progress.clear();
    MarkLog();
    RunToEnd();  // the same folder, without choosing it again

    const std::wstring root = dir / L"converted_images";
    EXPECT_EQ(NewLogLines(), Joined(Joined(Header(L"BMP", 90, 4), fileLines),
                                    {L"转换完成! 成功: 2/4", L"输出目录: " + root}));
    EXPECT_EQ(progress, ProgressOf(4));
    EXPECT_EQ(ListFiles(root), (std::set<std::wstring>{L"a.bmp", L"sub\\b.bmp",
                                                       L"converted_images\\a.bmp",
                                                       L"converted_images\\sub\\b.bmp"}));
}

TEST_F(ConversionRun, WritesJpegAtTheTrackbarsQuality) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png", 64, 48);
    MakeDir(dir / L"sub");
    SaveTestImage(dir / L"sub\\b.bmp", L"image/bmp", 64, 48);
    ChooseFolder(dir.path());
    SelectFormat(L"JPEG");
    SendKeyToSlider(VK_PRIOR);  // 80
    for (int i = 0; i < 5; ++i) SendKeyToSlider(VK_LEFT);
    MarkLog();
    RunToEnd();

    std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 4), Header(L"JPEG", 75, 2));
    EXPECT_EQ(lines[6], L"转换完成! 成功: 2/2");
    const std::wstring root = dir / L"converted_images";
    EXPECT_EQ(ListFiles(root), (std::set<std::wstring>{L"a.jpeg", L"sub\\b.jpeg"}));
    // Byte for byte what the encoder writes at 75 (Wine's encoder ignores the quality, so
    // only Windows tells 75 from 90 here).
    TempDir reference;
    ASSERT_TRUE(ConvertImageFile(dir / L"a.png", reference / L"75.jpeg", L"image/jpeg", 75));
    EXPECT_EQ(ReadBytes(root + L"\\a.jpeg"), ReadBytes(reference / L"75.jpeg"));
}

// Every kind of input the window promises, WEBP and metafiles included, to WEBP.
TEST_F(ConversionRun, ConvertsAMixedTreeToWebP) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png");
    SaveTestImage(dir / L"b.bmp", L"image/bmp");
    MakeDir(dir / L"sub");
    SaveTestImage(dir / L"sub\\c.gif", L"image/gif");
    SaveTestImage(dir / L"sub\\e.tiff", L"image/tiff");
    MakeDir(dir / L"sub\\deep");
    SaveTestImage(dir / L"sub\\deep\\d.jpg", L"image/jpeg");
    const std::pair<const wchar_t*, const wchar_t*> fromCorpus[] = {
        {L"webp\\pillow\\hopper.webp", L"f.webp"},
        {L"webp\\image-webp\\random_lossy.webp", L"sub\\animated.webp"},
        {L"mislabeled\\webp_data.png", L"sub\\webp_named.png"},
        {L"metafile\\libemf2svg\\test-000.emf", L"g.emf"},
        {L"metafile\\libwmf\\formula1.wmf", L"sub\\h.wmf"},
        {L"ico\\pillow\\python.ico", L"i.ico"},
    };
    for (const auto& [from, to] : fromCorpus)
        ASSERT_TRUE(CopyFileW(CorpusFile(from).c_str(), (dir / to).c_str(), TRUE));
    std::map<std::wstring, std::wstring> lineOfFile;
    for (const wchar_t* file : {L"a.png", L"b.bmp", L"sub\\c.gif", L"sub\\e.tiff",
                                L"sub\\deep\\d.jpg", L"f.webp", L"sub\\animated.webp",
                                L"sub\\webp_named.png", L"g.emf", L"sub\\h.wmf", L"i.ico"})
        lineOfFile[file] = Converted(file);
    std::vector<std::wstring> fileLines = InScanOrder(dir.path(), lineOfFile);
    ChooseFolder(dir.path());
    SelectFormat(L"WEBP");
    MarkLog();
    RunToEnd();

    const std::wstring root = dir / L"converted_images";
    EXPECT_EQ(NewLogLines(), Joined(Joined(Header(L"WEBP", 90, 11), fileLines),
                                    {L"转换完成! 成功: 11/11", L"输出目录: " + root}));
    EXPECT_EQ(progress, ProgressOf(11));
    std::set<std::wstring> outputs = ListFiles(root);
    EXPECT_EQ(outputs.size(), 11u);
    for (const std::wstring& output : outputs) {
        EXPECT_EQ(output.substr(output.size() - 5), L".webp") << output;
        EXPECT_NE(DecodedSize(root + L"\\" + output), ImageSize{}) << output;
    }
    EXPECT_EQ(DecodedSize(root + L"\\sub\\deep\\d.webp"), kTestSize);
    EXPECT_EQ(DecodedSize(root + L"\\f.webp"), (ImageSize{128, 128}));
}

// Each early end writes its one line, leaves the progress bar alone and enables Start again.
TEST_F(ConversionRun, EndsEarlyWithOneErrorLine) {
    struct Case {
        const char* name;
        std::function<void(const TempDir& dir)> prepare;  // after the folder was chosen
        const wchar_t* line;
        bool emptyOutputRoot;
    };
    const Case cases[] = {
        {"no image files", [](const TempDir& dir) { WriteBytes(dir / L"src\\notes.txt", "x"); },
         L"错误：目录中没有找到图片文件", true},
        // A folder gone since it was chosen is not made again.
        {"source deleted", [](const TempDir& dir) { RemoveTree(dir / L"src"); },
         L"错误：无法创建输出目录", false},
        {"source replaced by a file",
         [](const TempDir& dir) {
             RemoveTree(dir / L"src");
             WriteBytes(dir / L"src", "x");
         },
         L"错误：无法创建输出目录", false},
        {"no format selected",
         [](const TempDir& dir) {
             SaveTestImage(dir / L"src\\a.png", L"image/png");
             SendMessageW(g_hFormatCombo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
         },
         L"错误：请选择目标格式", false},
        {"format text longer than any format name",
         [](const TempDir& dir) {
             SaveTestImage(dir / L"src\\a.png", L"image/png");
             std::wstring name(40, L'W');
             LRESULT index = SendMessageW(g_hFormatCombo, CB_ADDSTRING, 0,
                                          reinterpret_cast<LPARAM>(name.c_str()));
             SendMessageW(g_hFormatCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
         },
         L"错误：请选择目标格式", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        MakeDir(dir / L"src");
        ChooseFolder(dir / L"src");
        c.prepare(dir);
        progress.clear();
        MarkLog();
        RunToEnd();
        EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{c.line});
        EXPECT_TRUE(progress.empty());
        EXPECT_TRUE(IsStartEnabled());
        EXPECT_EQ(FolderExists(dir / L"src\\converted_images"), c.emptyOutputRoot);
        if (c.emptyOutputRoot) {
            EXPECT_TRUE(ListFiles(dir / L"src\\converted_images").empty());
        }
        SelectFormat(L"BMP");
    }
}

TEST_F(ConversionRun, FailsEverySaveBesideAFileNamedConvertedImages) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png");
    MakeDir(dir / L"sub");
    SaveTestImage(dir / L"sub\\b.png", L"image/png");
    WriteBytes(dir / L"converted_images", "in the way");
    std::vector<std::wstring> fileLines = InScanOrder(
        dir.path(), {{L"a.png", Failed(L"a.png")}, {L"sub\\b.png", Failed(L"sub\\b.png")}});
    ChooseFolder(dir.path());
    MarkLog();
    RunToEnd();
    EXPECT_EQ(NewLogLines(),
              Joined(Joined(Header(L"BMP", 90, 2), fileLines),
                     {L"转换完成! 成功: 0/2", L"输出目录: " + dir / L"converted_images"}));
    EXPECT_EQ(ReadBytes(dir / L"converted_images"), "in the way");
    EXPECT_TRUE(IsStartEnabled());
}

// Files that crash, hang or bomb a decoder each cost one line; the window answers
// throughout, every good file converts, and no temporary file is left.
TEST_F(ConversionRun, GoesThroughFilesThatBreakDecoders) {
    TempDir dir;
    std::map<std::wstring, std::wstring> lineOfFile;
    const std::pair<const wchar_t*, const wchar_t*> good[] = {
        {L"a.png", L"image/png"}, {L"b.jpg", L"image/jpeg"}, {L"c.gif", L"image/gif"}};
    for (const auto& file : good) {
        SaveTestImage(dir / file.first, file.second);
        lineOfFile[file.first] = Converted(file.first);
    }
    std::vector<HostileFile> hostile = DecompressionBombs();
    for (const DecoderBreaker& breaker : DecoderBreakers()) hostile.push_back(breaker.file);
    ASSERT_TRUE(WriteHostileFiles(dir.path(), hostile));
    for (const HostileFile& file : hostile) lineOfFile[file.name] = Failed(file.name);
    // A wild write now and then lands harmlessly: then the file converts, and says so.
    std::map<std::wstring, std::wstring> orConverted;
    for (const DecoderBreaker& breaker : DecoderBreakers())
        if (breaker.fault == DecoderFault::WildWrite)
            orConverted[Failed(breaker.file.name)] = Converted(breaker.file.name);
    std::vector<std::wstring> expected = Joined(
        Joined(Header(L"BMP", 90, lineOfFile.size()), InScanOrder(dir.path(), lineOfFile)),
        {L"输出目录: " + dir / L"converted_images"});

    // A decoder that hangs holds the run for the worker's time limit, shortened here; the
    // window must answer well within it all the while.
    g_codecFileTimeLimitMs = 4000;
    std::atomic<bool> probing{true};
    std::atomic<int> unanswered{0};
    HWND window = g_hMainWnd;
    std::thread probe([&] {
        while (probing) {
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result))
                ++unanswered;
            Sleep(50);
        }
    });
    ChooseFolder(dir.path());
    MarkLog();
    RunToEnd();
    probing = false;
    probe.join();
    g_codecFileTimeLimitMs = 60000;

    std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), expected.size() + 1);
    int converted = 0;
    for (size_t i = 0, j = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(L"转换完成! 成功: ", 0) == 0) continue;
        auto other = orConverted.find(expected[j]);
        if (other == orConverted.end() || lines[i] != other->second) {
            EXPECT_EQ(lines[i], expected[j]);
        }
        if (lines[i].rfind(L"✓ ", 0) == 0) ++converted;
        ++j;
    }
    EXPECT_EQ(lines[lines.size() - 2], L"转换完成! 成功: " + std::to_wstring(converted) + L"/" +
                                           std::to_wstring(lineOfFile.size()));
    EXPECT_EQ(unanswered, 0) << "the window stopped answering";
    for (const std::wstring& output : ListFiles(dir / L"converted_images"))
        EXPECT_EQ(output.find(L".tmp"), std::wstring::npos) << output << " was left behind";
    EXPECT_TRUE(IsStartEnabled());
}

// Closed before the run has read its settings: the run ends without creating anything.
TEST_F(ConversionRun, ClosedRightAfterStartCreatesNothing) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png");
    ChooseFolder(dir.path());
    Click(IDC_START);
    ShowWindow(g_hMainWnd, SW_MINIMIZE);
    DestroyWindow(g_hMainWnd);
    ASSERT_EQ(WaitForSingleObject(g_hRunThread, 60000), WAIT_OBJECT_0);
    // The quit message the window posted is not this test's to keep.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    EXPECT_FALSE(FolderExists(dir / L"converted_images"));
}

TEST_F(ConversionRun, GoesOnIntoALogClearedDuringTheRun) {
    TempDir dir;
    for (const wchar_t* name : {L"1.png", L"2.png", L"3.png", L"4.png", L"5.png"})
        SaveTestImage(dir / name, L"image/png");
    std::vector<std::wstring> files = FindImageFiles(dir.path());
    ChooseFolder(dir.path());
    onProgressPosition = [](WPARAM position) {
        if (position == 3) Click(IDC_CLEAR_LOG);
    };
    RunToEnd();
    std::vector<std::wstring> expected;
    for (size_t i = 2; i < files.size(); ++i)
        expected.push_back(Converted(GetRelativePath(dir.path(), files[i])));
    expected.push_back(L"转换完成! 成功: 5/5");
    expected.push_back(L"输出目录: " + dir / L"converted_images");
    EXPECT_EQ(LogLines(), expected);
    EXPECT_TRUE(LastLineInView());
}

TEST_F(ConversionRun, KeepsItsFolderWhenAnotherIsChosenDuringTheRun) {
    TempDir first, second;
    SaveTestImage(first / L"a.png", L"image/png");
    SaveTestImage(first / L"b.png", L"image/png");
    SaveTestImage(second / L"z.png", L"image/png");
    ChooseFolder(first.path());
    const std::wstring other = second.path();
    onProgressPosition = [&other](WPARAM position) {
        if (position == 1) {
            pickedFolder = other;
            Click(IDC_SELECT_DIR);
        }
    };
    MarkLog();
    RunToEnd();
    std::vector<std::wstring> lines = NewLogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"已选择目录: " + other), lines.end());
    EXPECT_EQ(lines.back(), L"输出目录: " + first / L"converted_images");
    EXPECT_EQ(ListFiles(first / L"converted_images"), (std::set<std::wstring>{L"a.bmp", L"b.bmp"}));
    EXPECT_FALSE(FolderExists(second / L"converted_images"));
    EXPECT_EQ(g_sourceDir, other);

    onProgressPosition = nullptr;
    MarkLog();
    RunToEnd();
    EXPECT_EQ(NewLogLines().back(), L"输出目录: " + second / L"converted_images");
    EXPECT_EQ(ListFiles(second / L"converted_images"), std::set<std::wstring>{L"z.bmp"});
}

std::wstring HelperPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring self = path;
    return self.substr(0, self.rfind(L'\\') + 1) + L"vorandel_run_driver.exe";
}

// The real program, started by the driver with arguments; its process and thread handles.
bool StartProgram(const std::wstring& arguments, KernelHandle& process, KernelHandle& thread) {
    std::wstring commandLine = L"\"" + HelperPath() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &created))
        return false;
    process.reset(created.hProcess);
    thread.reset(created.hThread);
    return true;
}

struct CloseMoment {
    const char* what;
    std::wstring closeAt;  // the driver's words for when to close
    std::function<void(const TempDir&)> makeFolder;
    bool someOutputs;  // files before the close are converted
};

// The real program closed at every kind of moment: it ends with exit code 0 long before the
// stuck decoder's time limit or the scan's end, and leaves only whole outputs.
TEST(ProgramClose, EndsCleanlyAtEveryMoment) {
    std::vector<CloseMoment> moments = {
        {"while it converts", L"file 2",
         [](const TempDir& dir) {
             for (int i = 0; i < 40; ++i)
                 SaveTestImage(dir / (std::to_wstring(i) + L".png"), L"image/png", 64, 48);
         },
         true},
        {"while a decoder is stuck", L"file 1",
         [](const TempDir& dir) {
             for (const DecoderBreaker& breaker : DecoderBreakers())
                 if (breaker.fault == DecoderFault::Hang) {
                     ASSERT_TRUE(WriteHostileFiles(dir.path(), {breaker.file}));
                 }
         },
         false},
        // Four links to the host's /usr: under Wine their scan takes minutes (half a
        // minute each here), and so far longer than the close may take.
        {"during the scan of a large tree", L"scan 500",
         [](const TempDir& dir) {
             for (int i = 1; i <= 4 && RunningUnderWine(); ++i) {
                 ASSERT_TRUE(MakeHostLink(dir / (L"usr" + std::to_wstring(i)), "/usr"));
             }
         },
         false},
    };
    if (LargeRun())
        moments.push_back({"during the scan of 100,000 entries", L"scan 500",
                           [](const TempDir& dir) { MakeLargeTree(dir / L"tree"); }, false});
    for (const CloseMoment& moment : moments) {
        SCOPED_TRACE(moment.what);
        TempDir dir;
        moment.makeFolder(dir);
        KernelHandle process, thread;
        ASSERT_TRUE(StartProgram(L"close \"" + dir.path() + L"\" " + moment.closeAt, process, thread));
        // Half the worker's time limit for one file: a close that waited for the stuck
        // decoder would take all of it.
        DWORD waited = WaitForSingleObject(process.get(), 30000);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.get(), &exitCode);
        if (waited != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
        ASSERT_EQ(waited, WAIT_OBJECT_0) << "the program did not end";
        EXPECT_EQ(exitCode, 0u);

        std::set<std::wstring> outputs = ListFiles(dir / L"converted_images");
        for (const std::wstring& output : outputs) {
            EXPECT_EQ(output.find(L".tmp"), std::wstring::npos) << output << " was left behind";
            EXPECT_EQ(DecodedSize(dir / (L"converted_images\\" + output)), (ImageSize{64, 48}))
                << output << " is not a whole image";
        }
        if (moment.someOutputs) {
            EXPECT_GE(outputs.size(), 1u);
            EXPECT_LT(outputs.size(), 40u) << "the run was not stopped";
        } else {
            EXPECT_TRUE(outputs.empty());
        }
    }
}

// The temporary files in folder.
std::vector<std::wstring> TemporaryFilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const std::wstring& name : ListFiles(folder))
        if (name.find(L".tmp") != std::wstring::npos) names.push_back(name);
    return names;
}

struct Ending {
    const char* what;
    bool endSession;  // log-off first: the session's messages, after which Windows may end it
    bool killProgram;
    bool killWorker;
};

// Windows may end the program at any moment, in the middle of a file: End task, log-off or
// shut-down, a crash; and the codec worker may die on its own. Whatever is ended, no temporary
// file may stay and no output may be cut short.
TEST(ProgramEnded, LeavesNoTemporaryFileWhateverIsEndedMidFile) {
    const Ending endings[] = {
        {"the program and its worker killed", false, true, true},
        {"the program killed", false, true, false},
        {"the worker killed", false, false, true},
        {"the session ended, then the program killed", true, true, false},
    };
    // Large pictures, so that each takes the worker seconds.
    constexpr int kPictures = 4;
    const ImageSize size{2400, 1800};
    TempDir pictures;
    SaveTestImage(pictures / L"picture.png", L"image/png", size.width, size.height);
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.what);
        TempDir dir;
        for (int i = 0; i < kPictures; ++i)
            ASSERT_TRUE(CopyFileW((pictures / L"picture.png").c_str(),
                                  (dir / (std::to_wstring(i) + L".png")).c_str(), TRUE));
        const std::wstring outputs = dir / L"converted_images";
        KernelHandle program, thread;
        // Closed by the driver only on its last file, when it was not ended before.
        ASSERT_TRUE(StartProgram(L"close \"" + dir.path() + L"\" file " + std::to_wstring(kPictures),
                                 program, thread));
        // The middle of the second file: its temporary output is there, and the worker that
        // converted the first has it. (Not the first file: a worker the program has started but
        // not yet let run survives the program under Wine, though not on Windows.)
        KernelHandle worker;
        while (!worker && WaitForSingleObject(program.get(), 1) == WAIT_TIMEOUT) {
            std::vector<DWORD> workers = ChildProcesses(GetProcessId(program.get()));
            const std::vector<std::wstring> temporaries = TemporaryFilesIn(outputs);
            if (workers.size() == 1 && temporaries.size() == 1 &&
                ListFiles(outputs).size() == 2)
                worker.reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, workers[0]));
        }
        ASSERT_TRUE(worker) << "the program ended before its second file";

        if (ending.endSession) {
            HWND window = FindMainWindow(GetProcessId(program.get()));
            ASSERT_NE(window, nullptr);
            DWORD_PTR answer = 0;
            ASSERT_TRUE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                            SMTO_NORMAL, 60000, &answer));
            EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the program kept Windows from ending";
            ASSERT_TRUE(SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF,
                                            SMTO_NORMAL, 60000, &answer));
            // From here Windows may end the program at once: it has ended its work already.
            EXPECT_EQ(WaitForSingleObject(worker.get(), 0), WAIT_OBJECT_0) << "the worker still runs";
            EXPECT_TRUE(TemporaryFilesIn(outputs).empty()) << "a temporary file is left";
        }
        if (ending.killWorker) TerminateProcess(worker.get(), 1);
        if (ending.killProgram) TerminateProcess(program.get(), 1);
        // Bounds for a program that hangs, far above what either takes.
        ASSERT_EQ(WaitForSingleObject(program.get(), 120000), WAIT_OBJECT_0) << "the program did not end";
        ASSERT_EQ(WaitForSingleObject(worker.get(), 120000), WAIT_OBJECT_0) << "the worker did not end";
        DWORD exitCode = 1;
        GetExitCodeProcess(program.get(), &exitCode);
        if (!ending.killProgram) {
            EXPECT_EQ(exitCode, 0u);
        }

        EXPECT_EQ(TemporaryFilesIn(outputs), std::vector<std::wstring>{}) << "left behind";
        for (const std::wstring& output : ListFiles(outputs))
            EXPECT_EQ(DecodedSize(outputs + L"\\" + output), size) << output << " is cut short";
    }
}

// Not a check: how much a run adds per file to the codec's own work and the pause, with
// the window shown and minimised (the difference is the drawing of the log and the bar).
// Run with --gtest_also_run_disabled_tests --gtest_filter=*MeasureOverhead*
TEST_F(ConversionRun, DISABLED_MeasureOverhead) {
    using Clock = std::chrono::steady_clock;
    auto millisecondsSince = [](Clock::time_point start) {
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const int total = 300;
    auto makeImages = [total](const TempDir& dir) {
        for (int i = 0; i < total; ++i)
            SaveTestImage(dir / (L"image" + std::to_wstring(i) + L".png"), L"image/png", 32, 24);
    };
    TempDir shown, minimised, direct;
    makeImages(shown);
    makeImages(minimised);
    const std::vector<std::wstring> files = FindImageFiles(shown.path());

    double runs[2] = {};
    for (const TempDir* dir : {&shown, &minimised}) {
        if (dir == &minimised) ShowWindow(g_hMainWnd, SW_MINIMIZE);
        ChooseFolder(dir->path());
        Clock::time_point start = Clock::now();
        RunToEnd();
        runs[dir == &minimised] = millisecondsSince(start);
        EXPECT_EQ(LogLines().back(), L"输出目录: " + *dir / L"converted_images");
    }
    // After the runs, so that the codec and the files are as warm as for the second run.
    Clock::time_point start = Clock::now();
    int index = 0;
    for (const std::wstring& file : files)
        ConvertImageFile(file, direct / (std::to_wstring(index++) + L".bmp"), L"image/bmp", 90);
    const double codec = millisecondsSince(start);
    start = Clock::now();
    for (int i = 0; i < total; ++i) Sleep(10);
    const double pauses = millisecondsSince(start);

    std::cout << total << " files: codec alone " << codec << " ms, pauses " << pauses << " ms\n";
    for (int minimisedRun : {0, 1})
        std::cout << (minimisedRun ? "window minimised: " : "window shown: ") << "run "
                  << runs[minimisedRun] << " ms, added per file "
                  << (runs[minimisedRun] - codec - pauses) / total << " ms, run / (codec + pauses) "
                  << runs[minimisedRun] / (codec + pauses) << "\n";
}

}  // namespace
