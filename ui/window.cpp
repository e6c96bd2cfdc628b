#include "window.h"

#include "app.h"
#include "codec_worker.h"
#include "commands.h"
#include "controls.h"
#include "formats.h"
#include "redraw_pace.h"
#include "run.h"

#include <commctrl.h>

HWND g_hFormatCombo = nullptr;
HWND g_hQualityEdit = nullptr;
HWND g_hQualitySlider = nullptr;
HWND g_hProgress = nullptr;
HWND g_hLogList = nullptr;

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

HWND CreateControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style,
                   int x, int y, int width, int height, int id) {
    return CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void FillFormatCombo() {
    for (const auto& format : g_formatTable)
        SendMessageW(g_hFormatCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(format.first.c_str()));
    SendMessageW(g_hFormatCombo, CB_SETCURSEL, 0, 0);
}

void SetUpQualitySlider() {
    SendMessageW(g_hQualitySlider, TBM_SETRANGE, TRUE, MAKELPARAM(1, 100));
    SendMessageW(g_hQualitySlider, TBM_SETPOS, TRUE, 90);
    SendMessageW(g_hQualitySlider, TBM_SETPAGESIZE, 0, 10);
}

void SetLogFont() {
    HFONT font = CreateFontW(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, L"微软雅黑");
    if (!font) return;
    for (HWND control : {g_hLogList, g_hFormatCombo, g_hQualityEdit})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void AppendWelcomeLines() {
    AppendLog(L"欢迎使用Vorandel");
    AppendLog(L"请选择包含图片的目录，并设置目标格式");
    AppendLog(L"支持输入格式: JPG, PNG, BMP, GIF, TIFF, WEBP, ICO, EMF, WMF");
    AppendLog(L"支持输出格式: BMP, JPEG, PNG, GIF, TIFF, WEBP");
}

LRESULT OnCreate(HWND window) {
    CreateControl(window, L"BUTTON", L"选择目录", kChild, 10, 10, 100, 30, IDC_SELECT_DIR);
    CreateControl(window, L"STATIC", L"目标格式:", kChild, 120, 15, 60, 20, 0);
    g_hFormatCombo = CreateControl(window, L"COMBOBOX", L"", kChild | WS_BORDER | CBS_DROPDOWNLIST,
                                   180, 12, 100, 200, IDC_FORMAT_COMBO);
    FillFormatCombo();
    CreateControl(window, L"STATIC", L"质量:", kChild, 290, 15, 40, 20, 0);
    g_hQualityEdit = CreateControl(window, L"EDIT", L"90",
                                   kChild | WS_BORDER | ES_NUMBER | ES_READONLY, 330, 12, 30, 25,
                                   IDC_QUALITY_EDIT);
    g_hQualitySlider = CreateControl(window, TRACKBAR_CLASSW, nullptr, kChild | TBS_TOOLTIPS, 370,
                                     12, 100, 25, IDC_QUALITY_SLIDER);
    SetUpQualitySlider();
    CreateControl(window, L"BUTTON", L"开始转换", kChild, 480, 10, 100, 30, IDC_START);
    CreateControl(window, L"BUTTON", L"清空日志", kChild, 590, 10, 100, 30, IDC_CLEAR_LOG);
    CreateControl(window, L"BUTTON", L"保持目录结构", kChild | BS_AUTOCHECKBOX, 10, 45, 120, 20,
                  IDC_KEEP_STRUCTURE);
    SendMessageW(GetDlgItem(window, IDC_KEEP_STRUCTURE), BM_SETCHECK, BST_CHECKED, 0);
    CreateControl(window, L"BUTTON", L"覆盖已存在文件", kChild | BS_AUTOCHECKBOX, 140, 45, 140, 20,
                  IDC_OVERWRITE);
    g_hProgress = CreateControl(window, PROGRESS_CLASSW, nullptr, kChild, 10, 75, 680, 25,
                                IDC_PROGRESS);
    g_hLogList = CreateControl(window, L"LISTBOX", nullptr,
                               kChild | WS_VSCROLL | WS_BORDER | LBS_NOTIFY, 10, 110, 680, 350,
                               IDC_LOG_LIST);
    SetLogFont();
    PaceRedrawDuringRuns(window);
    AppendWelcomeLines();
    return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_SELECT_DIR:
        ChooseSourceFolder(window);
        break;
    case IDC_START:
        StartConversion(window);
        break;
    case IDC_CLEAR_LOG:
        ClearLog();
        break;
    }
    return 0;
}

LRESULT OnHScroll(LPARAM lParam) {
    if (reinterpret_cast<HWND>(lParam) == g_hQualitySlider) MirrorQuality();
    return 0;
}

LRESULT OnDestroy() {
    // From here on a run creates nothing: the user has closed the program.
    RequestRunStop();
    PostQuitMessage(0);
    return 0;
}

// Windows asks whether the session may end: it may, as the window may always be closed.
LRESULT OnQueryEndSession() { return TRUE; }

// The session ends at log-off or shut-down, and Windows may end the program as soon as this
// returns: so it ends here, as it does when its window is closed, the file in the codec worker
// given its short grace.
LRESULT OnEndSession(HWND window, WPARAM ending) {
    if (!ending) return 0;
    DestroyWindow(window);
    WaitForRun();
    EndCodecWorker();
    return 0;
}

}  // namespace

void AppendLog(const std::wstring& line) {
    SendMessageW(g_hLogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    int count = static_cast<int>(SendMessageW(g_hLogList, LB_GETCOUNT, 0, 0));
    if (count > 0) SendMessageW(g_hLogList, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_COMMAND:
        return OnCommand(window, wParam);
    case WM_HSCROLL:
        return OnHScroll(lParam);
    case WM_DESTROY:
        return OnDestroy();
    case WM_QUERYENDSESSION:
        return OnQueryEndSession();
    case WM_ENDSESSION:
        return OnEndSession(window, wParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
