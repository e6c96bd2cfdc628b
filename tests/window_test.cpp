#include "window_fixture.h"

#include "commands.h"
#include "controls.h"
#include "test_support.h"

#include <commctrl.h>
#include <shlobj.h>

#include <iterator>
#include <thread>

namespace {

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)), L'\0');
    GetWindowTextW(window, &text[0], static_cast<int>(text.size()) + 1);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

RECT RectInParent(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    int x, y, width, height;
    int id;
};

// The controls in the order they are created, with their creation parameters.
const ExpectedControl kControls[] = {
    {L"Button", L"选择目录", 0x50000000, 10, 10, 100, 30, IDC_SELECT_DIR},
    {L"Static", L"目标格式:", 0x50000000, 120, 15, 60, 20, 0},
    {L"ComboBox", L"", 0x50800003, 180, 12, 100, 200, IDC_FORMAT_COMBO},
    {L"Static", L"质量:", 0x50000000, 290, 15, 40, 20, 0},
    {L"Edit", L"90", 0x50802800, 330, 12, 30, 25, IDC_QUALITY_EDIT},
    {L"msctls_trackbar32", L"(null)", 0x50000100, 370, 12, 100, 25, IDC_QUALITY_SLIDER},
    {L"Button", L"开始转换", 0x50000000, 480, 10, 100, 30, IDC_START},
    {L"Button", L"清空日志", 0x50000000, 590, 10, 100, 30, IDC_CLEAR_LOG},
    {L"Button", L"保持目录结构", 0x50000003, 10, 45, 120, 20, IDC_KEEP_STRUCTURE},
    {L"Button", L"覆盖已存在文件", 0x50000003, 140, 45, 140, 20, IDC_OVERWRITE},
    {L"msctls_progress32", L"(null)", 0x50000000, 10, 75, 680, 25, IDC_PROGRESS},
    {L"ListBox", L"(null)", 0x50A00001, 10, 110, 680, 350, IDC_LOG_LIST},
};

const std::vector<std::wstring> kWelcomeLines = {
    L"欢迎使用Vorandel",
    L"请选择包含图片的目录，并设置目标格式",
    L"支持输入格式: JPG, PNG, BMP, GIF, TIFF, WEBP, ICO, EMF, WMF",
    L"支持输出格式: BMP, JPEG, PNG, GIF, TIFF, WEBP",
};

using MainWindowLayout = MainWindowTest;

// Every child window as the main window asked for it, in creation order.
struct CreatedControl {
    std::wstring className;
    std::wstring text;
    DWORD style;
    DWORD exStyle;
    int x, y, width, height;
    int id;
    HWND parent;
};
std::vector<CreatedControl> g_created;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW& create = *reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if (create.style & WS_CHILD) {
            wchar_t name[64] = {};
            GetClassNameW(reinterpret_cast<HWND>(wParam), name, 64);
            g_created.push_back({name, create.lpszName ? create.lpszName : L"(null)",
                                 static_cast<DWORD>(create.style), create.dwExStyle, create.x,
                                 create.y, create.cx, create.cy,
                                 static_cast<int>(reinterpret_cast<INT_PTR>(create.hMenu)),
                                 create.hwndParent});
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(MainWindowLayout, CreatesTwelveControlsInOrder) {
    g_created.clear();
    HHOOK hook = SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
    ReopenWindow(true);
    UnhookWindowsHookEx(hook);
    // Controls make windows of their own, such as the combo box's list.
    g_created.erase(std::remove_if(g_created.begin(), g_created.end(),
                                   [](const CreatedControl& c) { return c.parent != g_hMainWnd; }),
                    g_created.end());

    ASSERT_EQ(g_created.size(), std::size(kControls));
    for (size_t i = 0; i < g_created.size(); ++i) {
        const ExpectedControl& expected = kControls[i];
        const CreatedControl& created = g_created[i];
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        EXPECT_EQ(_wcsicmp(created.className.c_str(), expected.className), 0) << created.className;
        EXPECT_EQ(created.text, expected.text);
        EXPECT_EQ(created.style, expected.style) << std::hex << created.style;
        EXPECT_EQ(created.exStyle, 0u);
        EXPECT_EQ(created.x, expected.x);
        EXPECT_EQ(created.y, expected.y);
        EXPECT_EQ(created.width, expected.width);
        EXPECT_EQ(created.height, expected.height);
        EXPECT_EQ(created.id, expected.id);
        EXPECT_EQ(created.parent, g_hMainWnd);
    }
}

TEST_F(MainWindowLayout, PlacesEachControl) {
    for (const ExpectedControl& expected : kControls) {
        if (expected.id == 0) continue;
        SCOPED_TRACE(testing::Message() << "control " << expected.id);
        HWND control = GetDlgItem(g_hMainWnd, expected.id);
        ASSERT_NE(control, nullptr);
        RECT rect = RectInParent(control);
        EXPECT_EQ(rect.left, expected.x);
        EXPECT_EQ(rect.top, expected.y);
        EXPECT_EQ(rect.right - rect.left, expected.width);
        // The combo box's field and the list box's whole lines set their own heights.
        if (expected.id != IDC_FORMAT_COMBO && expected.id != IDC_LOG_LIST) {
            EXPECT_EQ(rect.bottom - rect.top, expected.height);
        }
    }
    EXPECT_EQ(GetDlgItem(g_hMainWnd, IDC_FORMAT_COMBO), g_hFormatCombo);
    EXPECT_EQ(GetDlgItem(g_hMainWnd, IDC_QUALITY_EDIT), g_hQualityEdit);
    EXPECT_EQ(GetDlgItem(g_hMainWnd, IDC_QUALITY_SLIDER), g_hQualitySlider);
    EXPECT_EQ(GetDlgItem(g_hMainWnd, IDC_PROGRESS), g_hProgress);
    EXPECT_EQ(GetDlgItem(g_hMainWnd, IDC_LOG_LIST), g_hLogList);
}

TEST_F(MainWindowLayout, StartsWithItsInitialSettings) {
    const wchar_t* formats[] = {L"BMP", L"GIF", L"JPEG", L"PNG", L"TIFF", L"WEBP"};
    ASSERT_EQ(SendMessageW(g_hFormatCombo, CB_GETCOUNT, 0, 0), 6);
    for (int i = 0; i < 6; ++i) {
        wchar_t item[32] = {};
        SendMessageW(g_hFormatCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ(item, formats[i]);
    }
    EXPECT_EQ(SendMessageW(g_hFormatCombo, CB_GETCURSEL, 0, 0), 0);

    EXPECT_EQ(SendMessageW(g_hQualitySlider, TBM_GETRANGEMIN, 0, 0), 1);
    EXPECT_EQ(SendMessageW(g_hQualitySlider, TBM_GETRANGEMAX, 0, 0), 100);
    EXPECT_EQ(SendMessageW(g_hQualitySlider, TBM_GETPOS, 0, 0), 90);
    EXPECT_EQ(SendMessageW(g_hQualitySlider, TBM_GETPAGESIZE, 0, 0), 10);
    EXPECT_EQ(WindowText(g_hQualityEdit), L"90");

    EXPECT_EQ(SendMessageW(GetDlgItem(g_hMainWnd, IDC_KEEP_STRUCTURE), BM_GETCHECK, 0, 0),
              BST_CHECKED);
    EXPECT_EQ(SendMessageW(GetDlgItem(g_hMainWnd, IDC_OVERWRITE), BM_GETCHECK, 0, 0),
              BST_UNCHECKED);

    PBRANGE range{};
    SendMessageW(g_hProgress, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(SendMessageW(g_hProgress, PBM_GETPOS, 0, 0), 0);

    EXPECT_EQ(LogLines(), kWelcomeLines);
    EXPECT_TRUE(LastLineInView());
    EXPECT_TRUE(IsStartEnabled());
}

TEST_F(MainWindowLayout, SetsTheLogFontOnThreeControls) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(g_hLogList, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(g_hFormatCombo, WM_GETFONT, 0, 0)), font);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(g_hQualityEdit, WM_GETFONT, 0, 0)), font);
    LOGFONTW logFont{};
    ASSERT_NE(GetObjectW(font, sizeof logFont, &logFont), 0);
    EXPECT_EQ(logFont.lfHeight, 14);
    EXPECT_EQ(logFont.lfWeight, FW_NORMAL);
    EXPECT_EQ(logFont.lfCharSet, DEFAULT_CHARSET);
    EXPECT_STREQ(logFont.lfFaceName, L"微软雅黑");
    // The buttons and labels keep the platform's own font.
    for (int id : {IDC_SELECT_DIR, IDC_START, IDC_CLEAR_LOG, IDC_KEEP_STRUCTURE, IDC_OVERWRITE})
        EXPECT_NE(reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(g_hMainWnd, id), WM_GETFONT, 0, 0)),
                  font);
}

TEST_F(MainWindowLayout, IsTheVorandelWindow) {
    EXPECT_EQ(ClassOf(g_hMainWnd), L"Vorandel");
    EXPECT_EQ(WindowText(g_hMainWnd).rfind(L"Vorandel - ", 0), 0u) << WindowText(g_hMainWnd);
    EXPECT_GT(WindowText(g_hMainWnd).size(), std::wstring(L"Vorandel - ").size());
    RECT rect{};
    GetWindowRect(g_hMainWnd, &rect);
    EXPECT_EQ(rect.right - rect.left, 720);
    EXPECT_EQ(rect.bottom - rect.top, 520);
    DWORD style = static_cast<DWORD>(GetWindowLongW(g_hMainWnd, GWL_STYLE));
    EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_VISIBLE), DWORD{WS_OVERLAPPEDWINDOW | WS_VISIBLE});
    EXPECT_EQ(GetMenu(g_hMainWnd), nullptr);
}

TEST_F(MainWindowLayout, KeepsControlsInPlaceWhenResized) {
    RECT before = RectInParent(g_hLogList);
    SetWindowPos(g_hMainWnd, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(g_hMainWnd, SW_MAXIMIZE);
    Pump();
    RECT after = RectInParent(g_hLogList);
    EXPECT_TRUE(EqualRect(&before, &after));
}

TEST_F(MainWindowLayout, KeepsTheNewestLineInView) {
    for (int i = 0; i < 100; ++i) AppendLog(L"line " + std::to_wstring(i));
    EXPECT_EQ(LogLines().size(), 104u);
    EXPECT_GT(SendMessageW(g_hLogList, LB_GETTOPINDEX, 0, 0), 0);
    EXPECT_TRUE(LastLineInView());
}

TEST_F(MainWindowLayout, ReportsAnImagingLibraryThatCouldNotStart) {
    ReopenWindow(false);
    EXPECT_EQ(LogLines(), Joined(kWelcomeLines, {L"错误：无法初始化图像库"}));
}

using MainWindowCommands = MainWindowTest;

TEST_F(MainWindowCommands, RefusesToStartWithoutAFolder) {
    Click(IDC_START);
    Click(IDC_START);
    std::vector<std::wstring> lines = LogLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], L"错误：请先选择目录");
    EXPECT_EQ(lines[5], L"错误：请先选择目录");
    EXPECT_TRUE(IsStartEnabled());
    EXPECT_EQ(g_hRunThread, nullptr);
    EXPECT_TRUE(progress.empty());
}

TEST_F(MainWindowCommands, TakesEachChosenFolderAndIgnoresACancel) {
    ChooseFolder(L"C:\\photos");
    ChooseFolder(L"D:\\scans\\2024");
    EXPECT_EQ(g_sourceDir, L"D:\\scans\\2024");
    ChooseFolder(L"");
    EXPECT_EQ(g_sourceDir, L"D:\\scans\\2024");
    std::vector<std::wstring> lines = LogLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], L"已选择目录: C:\\photos");
    EXPECT_EQ(lines[5], L"已选择目录: D:\\scans\\2024");
}

TEST_F(MainWindowCommands, ClearEmptiesTheWholeLog) {
    Click(IDC_CLEAR_LOG);
    EXPECT_TRUE(LogLines().empty());
    AppendLog(L"next");
    EXPECT_EQ(LogLines(), std::vector<std::wstring>{L"next"});
    EXPECT_TRUE(LastLineInView());
}

TEST_F(MainWindowCommands, ReportsAThreadThatCannotStart) {
    TempDir dir;
    SaveTestImage(dir / L"a.png", L"image/png");
    ChooseFolder(dir.path());
    g_createThread = [](LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                        LPDWORD) -> HANDLE {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    };
    MarkLog();
    Click(IDC_START);
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"错误：无法启动转换线程"});
    EXPECT_TRUE(IsStartEnabled());
    EXPECT_FALSE(FolderExists(dir / L"converted_images"));
}

TEST_F(MainWindowCommands, MirrorsTheTrackbarIntoTheEditBox) {
    struct Step {
        UINT key;
        int position;
    };
    const Step steps[] = {
        {VK_PRIOR, 80}, {VK_PRIOR, 70}, {VK_NEXT, 80}, {VK_END, 100}, {VK_NEXT, 100},
        {VK_HOME, 1},   {VK_PRIOR, 1},  {VK_NEXT, 11}, {VK_RIGHT, 12},
    };
    for (const Step& step : steps) {
        SendKeyToSlider(step.key);
        EXPECT_EQ(SendMessageW(g_hQualitySlider, TBM_GETPOS, 0, 0), step.position);
        EXPECT_EQ(WindowText(g_hQualityEdit), std::to_wstring(step.position));
    }
    // Only the trackbar's own notifications move the edit box.
    SendMessageW(g_hQualitySlider, TBM_SETPOS, TRUE, 50);
    SendMessageW(g_hMainWnd, WM_HSCROLL, SB_THUMBPOSITION, 0);
    EXPECT_EQ(WindowText(g_hQualityEdit), L"12");
}

TEST_F(MainWindowCommands, MovesAPageOnAClickBesideTheThumb) {
    RECT thumb{};
    SendMessageW(g_hQualitySlider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    LPARAM left = MAKELPARAM(thumb.left - 8, (thumb.top + thumb.bottom) / 2);
    SendMessageW(g_hQualitySlider, WM_LBUTTONDOWN, MK_LBUTTON, left);
    SendMessageW(g_hQualitySlider, WM_LBUTTONUP, 0, left);
    EXPECT_EQ(SendMessageW(g_hQualitySlider, TBM_GETPOS, 0, 0), 80);
    EXPECT_EQ(WindowText(g_hQualityEdit), L"80");
}

TEST_F(MainWindowCommands, ReadOnlyEditIgnoresTyping) {
    SendMessageW(g_hQualityEdit, WM_CHAR, L'5', 0);
    EXPECT_EQ(WindowText(g_hQualityEdit), L"90");
}

// The shell's own picker, closed by another thread as a user would close it.
class ShellPicker : public MainWindowTest {
protected:
    // Waits for the picker of the main window and hands it to act.
    static std::thread Operate(std::function<void(HWND dialog)> act) {
        DWORD uiThread = GetCurrentThreadId();
        return std::thread([uiThread, act] {
            for (int i = 0; i < 500; ++i) {
                HWND dialog = nullptr;
                EnumThreadWindows(
                    uiThread,
                    [](HWND window, LPARAM found) {
                        if (GetWindow(window, GW_OWNER) != g_hMainWnd || !IsWindowVisible(window))
                            return TRUE;
                        *reinterpret_cast<HWND*>(found) = window;
                        return FALSE;
                    },
                    reinterpret_cast<LPARAM>(&dialog));
                if (dialog) {
                    act(dialog);
                    return;
                }
                Sleep(20);
            }
        });
    }
    void SetUp() override {
        MainWindowTest::SetUp();
        g_pickFolder = PickFolderWithShell;
    }
};

std::wstring SelectedName(HWND tree) {
    wchar_t text[MAX_PATH] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (!item.hItem || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return {};
    return text;
}

// The picker is slow to fill under Wine, so one test takes it through a whole choice;
// a cancel is left to the faster picker of the other tests.
TEST_F(ShellPicker, TakesTheFolderChosenInIt) {
    TempDir dir;
    std::wstring folder = dir.path();
    std::wstring title;
    std::thread user = Operate([&folder, &title](HWND dialog) {
        EnumChildWindows(
            dialog,
            [](HWND child, LPARAM found) {
                if (WindowText(child) == L"选择包含图片的目录")
                    *reinterpret_cast<std::wstring*>(found) = WindowText(child);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&title));
        // The picker fills its tree after it shows; a selection made earlier is lost.
        HWND tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
        const std::wstring name = folder.substr(folder.rfind(L'\\') + 1);
        for (int i = 0; i < 100 && SelectedName(tree) != name; ++i) {
            SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
            Sleep(50);
        }
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    Click(IDC_SELECT_DIR);
    user.join();
    EXPECT_EQ(title, L"选择包含图片的目录");
    EXPECT_EQ(_wcsicmp(g_sourceDir.c_str(), folder.c_str()), 0) << g_sourceDir;
    EXPECT_EQ(LogLines(), Joined(kWelcomeLines, {L"已选择目录: " + g_sourceDir}));
}

}  // namespace
