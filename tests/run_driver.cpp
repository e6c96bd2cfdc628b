// Runs the real program on a folder given on the command line, as if it had been chosen,
// presses Start at once and closes the window while the run converts:
//   vorandel_run_driver close <folder>
// Exits with the program's own exit code.
#include "app.h"
#include "codec_worker.h"
#include "commands.h"
#include "controls.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>

namespace {

bool g_started = false;

void CALLBACK OnTick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!g_hMainWnd) return;
    if (!g_started) {
        g_started = true;
        SendMessageW(g_hMainWnd, WM_COMMAND, IDC_START, 0);
        return;
    }
    if (SendMessageW(g_hProgress, PBM_GETPOS, 0, 0) < 2) return;
    KillTimer(nullptr, timer);
    PostMessageW(g_hMainWnd, WM_CLOSE, 0, 0);
}

}  // namespace

int main() {
    if (ServeAsCodecWorker()) return 0;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool valid = arguments && count == 3 && std::wstring(arguments[1]) == L"close";
    if (valid) g_sourceDir = arguments[2];
    LocalFree(arguments);
    if (!valid) return 2;
    SetTimer(nullptr, 0, 5, OnTick);
    return RunVorandel(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
}
