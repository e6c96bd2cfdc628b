// Runs the real program on a folder given on the command line, as if it had been chosen,
// presses Start at once and closes the window during the run:
//   vorandel_run_driver close <folder> [file N | scan MS]
// "file N" closes it once the run is on its Nth file (2 unless given), "scan MS" that many
// milliseconds after Start, before the run has reached its first file.
// Prints how long the program took to end once closed, and exits with its exit code.
#include "app.h"
#include "codec_worker.h"
#include "commands.h"
#include "controls.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

bool g_started = false;
bool g_duringScan = false;
LRESULT g_closeAt = 2;
ULONGLONG g_startedAt = 0;
ULONGLONG g_closedAt = 0;

void CALLBACK OnTick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!g_hMainWnd) return;
    if (!g_started) {
        g_started = true;
        SendMessageW(g_hMainWnd, WM_COMMAND, IDC_START, 0);
        g_startedAt = GetTickCount64();
        return;
    }
    LRESULT position = SendMessageW(g_hProgress, PBM_GETPOS, 0, 0);
    if (g_duringScan ? GetTickCount64() - g_startedAt < static_cast<ULONGLONG>(g_closeAt)
                     : position < g_closeAt)
        return;
    KillTimer(nullptr, timer);
    g_closedAt = GetTickCount64();
    PostMessageW(g_hMainWnd, WM_CLOSE, 0, 0);
}

}  // namespace

int main() {
    if (ServeAsCodecWorker()) return 0;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool valid = arguments && (count == 3 || count == 5) && std::wstring(arguments[1]) == L"close";
    if (valid) g_sourceDir = arguments[2];
    if (valid && count == 5) {
        g_duringScan = std::wstring(arguments[3]) == L"scan";
        g_closeAt = std::wcstol(arguments[4], nullptr, 10);
    }
    LocalFree(arguments);
    if (!valid) return 2;
    SetTimer(nullptr, 0, 5, OnTick);
    int exitCode = RunVorandel(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    if (g_closedAt)
        std::printf("ended %llu ms after its window was closed\n", GetTickCount64() - g_closedAt);
    return exitCode;
}
