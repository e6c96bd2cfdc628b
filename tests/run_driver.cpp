// Runs the real program on a folder given on the command line, as if it had been chosen,
// and presses Start at once:
//   vorandel_run_driver close <folder>        closes the window while the run converts
//   vorandel_run_driver show <folder> <png>   when the run has ended, saves a picture of the
//                                             window into png and closes it
// Exits with the program's own exit code.
#include "app.h"
#include "codec.h"
#include "commands.h"
#include "controls.h"
#include "resources.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring g_mode;
std::wstring g_picturePath;
bool g_started = false;

bool SavePicture(HWND window, const std::wstring& path) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);
    GpBitmap* picture = nullptr;
    bool saved = false;
    CLSID png;
    if (GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &picture) == Ok) {
        ImagePtr image(picture);
        saved = GetEncoderClsid(L"image/png", png) >= 0 &&
                GdipSaveImageToFile(image.get(), path.c_str(), &png, nullptr) == Ok;
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

void CALLBACK OnTick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!g_hMainWnd) return;
    if (!g_started) {
        g_started = true;
        SendMessageW(g_hMainWnd, WM_COMMAND, IDC_START, 0);
        return;
    }
    if (g_mode == L"close") {
        if (SendMessageW(g_hProgress, PBM_GETPOS, 0, 0) < 2) return;
    } else {
        if (!IsWindowEnabled(GetDlgItem(g_hMainWnd, IDC_START))) return;
        RedrawWindow(g_hMainWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        if (!SavePicture(g_hMainWnd, g_picturePath)) return;
    }
    KillTimer(nullptr, timer);
    PostMessageW(g_hMainWnd, WM_CLOSE, 0, 0);
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3) return 2;
    g_mode = arguments[1];
    g_sourceDir = arguments[2];
    if (g_mode == L"show" && count > 3) g_picturePath = arguments[3];
    LocalFree(arguments);
    if (g_mode != L"close" && g_picturePath.empty()) return 2;
    SetTimer(nullptr, 0, 5, OnTick);
    return RunVorandel(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
}
