#include "window_fixture.h"

#include "test_support.h"

#include "app.h"
#include "commands.h"
#include "controls.h"
#include "resources.h"

#include <commctrl.h>

std::vector<ProgressMessage> MainWindowTest::progress;
std::function<void(WPARAM)> MainWindowTest::onProgressPosition;
std::wstring MainWindowTest::pickedFolder;
WNDPROC MainWindowTest::progressProc_ = nullptr;

namespace {

std::wstring PickTestFolder(HWND) { return MainWindowTest::pickedFolder; }

// Carries out messages until the run's thread has ended; false when it does not end in time.
bool PumpUntilRunEnds() {
    if (!g_hRunThread) return true;
    const DWORD start = GetTickCount();
    // The large run (VORANDEL_LARGE=1) converts thousands of files.
    const DWORD limit = LargeRun() ? 30 * 60000 : 3 * 60000;
    while (GetTickCount() - start < limit) {
        DWORD woken = MsgWaitForMultipleObjects(1, &g_hRunThread, FALSE, 1000, QS_ALLINPUT);
        MainWindowTest::Pump();
        if (woken == WAIT_OBJECT_0) return true;
    }
    return false;
}

// Destroying a shown window costs Wine two seconds of waiting for a window manager, which
// Xvfb has none of; a minimised window is left for the process's end instead.
void CloseMainWindow() {
    if (g_hMainWnd) ShowWindow(g_hMainWnd, SW_MINIMIZE);
    g_hMainWnd = nullptr;
}

}  // namespace

void MainWindowTest::SetUp() {
    RegisterWindowClasses(GetModuleHandleW(nullptr));
    g_sourceDir.clear();
    g_pickFolder = PickTestFolder;
    pickedFolder.clear();
    onProgressPosition = nullptr;
    ASSERT_NE(CreateMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL, true), nullptr);
    progress.clear();
    progressProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        g_hProgress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ObserveProgress)));
}

void MainWindowTest::TearDown() {
    // A run must not outlive its window: the next test's window would get its messages.
    EXPECT_TRUE(PumpUntilRunEnds()) << "the run did not end";
    if (g_hRunThread) CloseHandle(g_hRunThread);
    g_hRunThread = nullptr;
    CloseMainWindow();
    g_pickFolder = PickFolderWithShell;
    g_createThread = CreateThread;
}

void MainWindowTest::ReopenWindow(bool imagingReady) {
    CloseMainWindow();
    ASSERT_NE(CreateMainWindow(GetModuleHandleW(nullptr), SW_SHOWNORMAL, imagingReady), nullptr);
}

LRESULT CALLBACK MainWindowTest::ObserveProgress(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    if (message >= PBM_SETRANGE && message <= PBM_SETSTATE) {
        progress.push_back({message, wParam, lParam});
        if (message == PBM_SETPOS && onProgressPosition) onProgressPosition(wParam);
    }
    return CallWindowProcW(progressProc_, window, message, wParam, lParam);
}

void MainWindowTest::Click(int id) {
    HWND control = GetDlgItem(g_hMainWnd, id);
    SendMessageW(g_hMainWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
}

bool MainWindowTest::IsStartEnabled() { return IsWindowEnabled(GetDlgItem(g_hMainWnd, IDC_START)); }

void MainWindowTest::SelectFormat(const std::wstring& name) {
    LRESULT index = SendMessageW(g_hFormatCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(name.c_str()));
    ASSERT_NE(index, CB_ERR) << "no format item";
    SendMessageW(g_hFormatCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void MainWindowTest::SetCheck(int id, bool checked) {
    SendMessageW(GetDlgItem(g_hMainWnd, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindowTest::SendKeyToSlider(UINT key) {
    SendMessageW(g_hQualitySlider, WM_KEYDOWN, key, 0);
    SendMessageW(g_hQualitySlider, WM_KEYUP, key, 0);
}

void MainWindowTest::Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void MainWindowTest::RunToEnd() {
    Click(IDC_START);
    ASSERT_NE(g_hRunThread, nullptr) << "no run was started";
    ASSERT_TRUE(PumpUntilRunEnds()) << "the run did not end";
    Pump();
}

void MainWindowTest::ChooseFolder(const std::wstring& folder) {
    pickedFolder = folder;
    Click(IDC_SELECT_DIR);
}

std::vector<std::wstring> MainWindowTest::LogLines() {
    std::vector<std::wstring> lines;
    int count = static_cast<int>(SendMessageW(g_hLogList, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring line(static_cast<size_t>(SendMessageW(g_hLogList, LB_GETTEXTLEN, i, 0)), L'\0');
        SendMessageW(g_hLogList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]));
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::wstring> MainWindowTest::NewLogLines() const {
    std::vector<std::wstring> lines = LogLines();
    return std::vector<std::wstring>(lines.begin() + static_cast<std::ptrdiff_t>(logMark_),
                                     lines.end());
}

bool MainWindowTest::LastLineInView() {
    int count = static_cast<int>(SendMessageW(g_hLogList, LB_GETCOUNT, 0, 0));
    RECT item{}, client{};
    if (SendMessageW(g_hLogList, LB_GETITEMRECT, count - 1, reinterpret_cast<LPARAM>(&item)) ==
        LB_ERR)
        return false;
    GetClientRect(g_hLogList, &client);
    return item.top >= client.top && item.bottom <= client.bottom;
}

std::set<std::wstring> ListFiles(const std::wstring& root) {
    std::set<std::wstring> files;
    WIN32_FIND_DATAW entry;
    SearchHandle search(FindFirstFileW((root + L"\\*").c_str(), &entry));
    if (!search.valid()) return files;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::wstring& inner : ListFiles(root + L"\\" + name))
                files.insert(name + L"\\" + inner);
        } else {
            files.insert(name);
        }
    } while (FindNextFileW(search.get(), &entry));
    return files;
}

std::vector<std::wstring> Joined(std::vector<std::wstring> lines,
                                 const std::vector<std::wstring>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}
