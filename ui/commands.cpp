#include "commands.h"

#include "controls.h"
#include "resources.h"
#include "run.h"

#include <commctrl.h>

#include <memory>

std::wstring g_sourceDir;
HANDLE g_hRunThread = nullptr;
std::wstring (*g_pickFolder)(HWND owner) = PickFolderWithShell;
decltype(&CreateThread) g_createThread = CreateThread;

std::wstring PickFolderWithShell(HWND owner) {
    // The new-style picker needs COM on this thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = L"选择包含图片的目录";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    wchar_t path[MAX_PATH] = {};
    {
        ItemListPtr items(SHBrowseForFolderW(&info));
        if (items && !SHGetPathFromIDListW(items.get(), path)) path[0] = L'\0';
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return path;
}

void ChooseSourceFolder(HWND window) {
    std::wstring path = g_pickFolder(window);
    if (path.empty()) return;
    g_sourceDir = path;
    AppendLog(L"已选择目录: " + path);
}

void StartConversion(HWND window) {
    if (g_sourceDir.empty()) {
        AppendLog(L"错误：请先选择目录");
        return;
    }
    HWND start = GetDlgItem(window, IDC_START);
    EnableWindow(start, FALSE);
    if (g_hRunThread) CloseHandle(g_hRunThread);
    ClearRunStop();
    // The run's own copy: a folder chosen meanwhile is for the next run.
    auto sourceDir = std::make_unique<std::wstring>(g_sourceDir);
    g_hRunThread = g_createThread(nullptr, 0, ConversionThread, sourceDir.get(), 0, nullptr);
    if (g_hRunThread) {
        sourceDir.release();  // the run deletes it
        return;
    }
    AppendLog(L"错误：无法启动转换线程");
    EnableWindow(start, TRUE);
}

void ClearLog() { SendMessageW(g_hLogList, LB_RESETCONTENT, 0, 0); }

void MirrorQuality() {
    int position = static_cast<int>(SendMessageW(g_hQualitySlider, TBM_GETPOS, 0, 0));
    SetWindowTextW(g_hQualityEdit, std::to_wstring(position).c_str());
}
