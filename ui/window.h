// The main window: its procedure, its controls and the log list.
#pragma once

#include "platform.h"

inline constexpr wchar_t kMainWindowClass[] = L"Vorandel";

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
