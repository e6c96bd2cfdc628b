// The main window of a Vorandel process, found from another process: for what drives or
// ends the real program from outside.
#pragma once

#include "platform.h"
#include "window.h"

#include <cwchar>

// Null while the process has no main window.
inline HWND FindMainWindow(DWORD processId) {
    struct Search {
        DWORD processId;
        HWND found;
    } search{processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM data) {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            if (owner != s->processId || wcscmp(name, kMainWindowClass) != 0) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}
