#include "app.h"

#include "codec_worker.h"
#include "commands.h"
#include "controls.h"
#include "run.h"
#include "window.h"

#include <commctrl.h>

HWND g_hMainWnd = nullptr;

void RegisterWindowClasses(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassW(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance, int showCommand, bool imagingReady) {
    g_hMainWnd = CreateWindowExW(0, kMainWindowClass, L"Vorandel - by the Vorandel team",
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                 720, 520, nullptr, nullptr, instance, nullptr);
    if (!g_hMainWnd) return nullptr;
    if (!imagingReady) AppendLog(L"错误：无法初始化图像库");
    ShowWindow(g_hMainWnd, showCommand);
    UpdateWindow(g_hMainWnd);
    return g_hMainWnd;
}

void RunMessageLoop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void WaitForRun() {
    if (!g_hRunThread) return;
    RequestRunStop();
    while (MsgWaitForMultipleObjects(1, &g_hRunThread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(g_hRunThread);
    g_hRunThread = nullptr;
}

int RunVorandel(HINSTANCE instance, int showCommand) {
    GdiplusSession imaging;
    RegisterWindowClasses(instance);
    if (CreateMainWindow(instance, showCommand, imaging.started())) {
        RunMessageLoop();
        // The window is gone, so the run's sends to it fail at once and cannot block this wait.
        WaitForRun();
    }
    EndCodecWorker();
    return 0;
}
