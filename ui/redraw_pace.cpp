#include "redraw_pace.h"

#include "controls.h"

namespace {

constexpr UINT_PTR kPaceTimer = 1;

// The controls' own procedures, which the paced ones hand every message on to. Subclassed
// through user32 alone: comctl32 version 5.82, which a program without a manifest gets, does
// not export its subclassing functions on every architecture.
WNDPROC g_logListProc = nullptr;
WNDPROC g_progressProc = nullptr;
WNDPROC g_startProc = nullptr;

bool g_paced = false;
// The run changed the control since it was last drawn.
bool g_logChanged = false;
bool g_progressChanged = false;
// A run's line is in the list but not yet scrolled into view (the log append is three
// messages); drawn now, the list would show everything but its newest line.
bool g_lineHalfAdded = false;

void Draw(HWND control, bool& changed) {
    if (!changed) return;
    changed = false;
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
}

void CALLBACK OnPaceTick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_lineHalfAdded) Draw(g_hLogList, g_logChanged);
    Draw(g_hProgress, g_progressChanged);
}

// A message the run sends is carried out with the control's drawing switched off (the
// platform's default handling of WM_SETREDRAW), so that the control changes but draws
// nothing; the next tick draws it. Everything else, the user's scrolling and the
// repainting of an uncovered window among it, is handled as always.
LRESULT CarryOut(WNDPROC own, HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                 bool& changed) {
    if (!g_paced || !InSendMessage() || !IsWindowVisible(control))
        return CallWindowProcW(own, control, message, wParam, lParam);
    changed = true;
    DefWindowProcW(control, WM_SETREDRAW, FALSE, 0);
    LRESULT result = CallWindowProcW(own, control, message, wParam, lParam);
    DefWindowProcW(control, WM_SETREDRAW, TRUE, 0);
    return result;
}

LRESULT CALLBACK PacedLogList(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    // Reading the list draws nothing.
    if (message == LB_GETCOUNT) {
        LRESULT count = CallWindowProcW(g_logListProc, list, message, wParam, lParam);
        // An emptied list gets no scrolling step.
        if (count <= 0) g_lineHalfAdded = false;
        return count;
    }
    if (g_paced && InSendMessage()) {
        if (message == LB_ADDSTRING) g_lineHalfAdded = true;
        if (message == LB_SETTOPINDEX) g_lineHalfAdded = false;
    }
    return CarryOut(g_logListProc, list, message, wParam, lParam, g_logChanged);
}

LRESULT CALLBACK PacedProgress(HWND progress, UINT message, WPARAM wParam, LPARAM lParam) {
    return CarryOut(g_progressProc, progress, message, wParam, lParam, g_progressChanged);
}

void BeginPacing(HWND window) {
    g_paced = true;
    g_lineHalfAdded = false;
    SetTimer(window, kPaceTimer, kRedrawPaceMilliseconds, OnPaceTick);
}

// The run's last lines and position reach the screen before its Start is usable again.
void EndPacing(HWND window) {
    g_paced = false;
    g_lineHalfAdded = false;
    KillTimer(window, kPaceTimer);
    OnPaceTick(window, WM_TIMER, kPaceTimer, 0);
}

LRESULT CALLBACK StartButton(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ENABLE) {
        if (wParam) {
            EndPacing(GetParent(button));
        } else {
            BeginPacing(GetParent(button));
        }
    }
    return CallWindowProcW(g_startProc, button, message, wParam, lParam);
}

// Puts paced in the place of control's procedure; the one it replaces.
WNDPROC Subclass(HWND control, WNDPROC paced) {
    return reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(paced)));
}

}  // namespace

void PaceRedrawDuringRuns(HWND window) {
    g_paced = false;
    g_logListProc = Subclass(g_hLogList, PacedLogList);
    g_progressProc = Subclass(g_hProgress, PacedProgress);
    g_startProc = Subclass(GetDlgItem(window, IDC_START), StartButton);
}
