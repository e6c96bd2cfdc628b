// Drives the real Vorandel.exe from another process, as a user would: starts it, chooses the
// folder in the program's own folder picker, sets the options, presses Start, waits until
// Start is enabled again, and prints the log list as the window shows it, one UTF-8 line each.
//
//   vorandel_drive <Vorandel.exe> <folder> [--format NAME] [--quality 1-100] [--flat]
//                  [--overwrite] [--picture window.png] [--timeout seconds]
//
// Exit code 0 when the run ended and the program closed with 0; otherwise 1, the reason on
// stderr. Messages below WM_USER (list box, combo box, window text) are carried between
// processes by the system; the picker's and the tree view's are not, so their structures and
// texts are written into the program's own memory first.
#include "codec.h"
#include "controls.h"
#include "resources.h"
#include "main_window.h"
#include "window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <string>

namespace {

// The program's main window and the controls the driver uses, found by identifier.
struct Window {
    HWND main = nullptr;
    HWND log = nullptr;
    HWND format = nullptr;
    HWND qualityEdit = nullptr;
    HWND qualitySlider = nullptr;
};
Window g_window;

struct Options {
    std::wstring exe;
    std::wstring folder;
    std::wstring format;
    int quality = 0;  // 0: as the window starts
    bool flat = false;
    bool overwrite = false;
    std::wstring picture;
    DWORD timeoutMs = 300000;
};

// A block of memory inside another process.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, SIZE_T size)
        : process_(process),
          address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool valid() const { return address_ != nullptr; }
    void* at(SIZE_T offset) const { return static_cast<BYTE*>(address_) + offset; }
    bool write(SIZE_T offset, const void* data, SIZE_T size) const {
        return WriteProcessMemory(process_, at(offset), data, size, nullptr) != 0;
    }
    bool read(SIZE_T offset, void* data, SIZE_T size) const {
        return ReadProcessMemory(process_, at(offset), data, size, nullptr) != 0;
    }

private:
    HANDLE process_;
    void* address_;
};

void Say(HANDLE stream, const std::wstring& text) {
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteConsoleW(stream, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                        size, nullptr, nullptr);
    WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Print(const std::wstring& line) { Say(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\n"); }

bool Fail(const std::wstring& why) {
    Say(GetStdHandle(STD_ERROR_HANDLE), L"vorandel_drive: " + why + L"\n");
    return false;
}

// Calls done every 50 ms until it is true or the time is up.
template <typename Done>
bool WaitFor(DWORD timeoutMs, Done done) {
    for (DWORD waited = 0;; waited += 50) {
        if (done()) return true;
        if (waited >= timeoutMs) return false;
        Sleep(50);
    }
}

// Sent with a time limit: a hung program must not hang its driver.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result)) return -1;
    return static_cast<LRESULT>(result);
}

// GetWindowTextW does not reach a control of another process; WM_GETTEXT does.
std::wstring WindowText(HWND window) {
    wchar_t text[512] = {};
    Send(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

int LogCount() { return static_cast<int>(Send(g_window.log, LB_GETCOUNT, 0, 0)); }

std::wstring LogLine(int index) {
    LRESULT length = Send(g_window.log, LB_GETTEXTLEN, index, 0);
    if (length < 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    Send(g_window.log, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

// Prints the lines the list gained since the last call.
void PrintNewLines(int& printed) {
    for (int count = LogCount(); printed < count; ++printed) Print(LogLine(printed));
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The folder picker: a visible dialog owned by the main window.
HWND FindPicker() {
    HWND found = nullptr;
    EnumThreadWindows(
        GetWindowThreadProcessId(g_window.main, nullptr),
        [](HWND window, LPARAM data) {
            wchar_t name[16] = {};
            GetClassNameW(window, name, 16);
            if (GetWindow(window, GW_OWNER) != g_window.main || !IsWindowVisible(window) ||
                wcscmp(name, L"#32770") != 0)
                return TRUE;
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The picker's tree: a direct child under Wine, deeper in the shell's own picker.
HWND FindTree(HWND dialog) {
    HWND found = nullptr;
    EnumChildWindows(
        dialog,
        [](HWND window, LPARAM data) {
            wchar_t name[32] = {};
            GetClassNameW(window, name, 32);
            if (wcscmp(name, WC_TREEVIEWW) != 0) return TRUE;
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The text of the tree's selected item, read through the program's memory.
std::wstring SelectedName(HWND tree, const RemoteBlock& remote) {
    constexpr SIZE_T kText = 1024;
    auto item = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) return {};
    TVITEMW query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = static_cast<wchar_t*>(remote.at(kText));
    query.cchTextMax = MAX_PATH;
    wchar_t text[MAX_PATH] = {};
    if (!remote.write(0, &query, sizeof query) ||
        Send(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.at(0))) <= 0 ||
        !remote.read(kText, text, sizeof text))
        return {};
    text[MAX_PATH - 1] = L'\0';
    return text;
}

// Opens the picker with the folder button, selects the folder in its tree and confirms it.
bool ChooseFolder(HANDLE process, const Options& options, int& printed) {
    const std::wstring& folder = options.folder;
    const std::wstring name = folder.substr(folder.find_last_of(L"\\/") + 1);
    // The tree item's structure and text below kPath, the folder above it.
    const SIZE_T kPath = 2048;
    if ((folder.size() + 1) * sizeof(wchar_t) > kPath) return Fail(L"the folder path is too long");
    RemoteBlock remote(process, 2 * kPath);
    if (!remote.valid()) return Fail(L"cannot reach the program's memory");
    if (!remote.write(kPath, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t)))
        return Fail(L"cannot write into the program's memory");
    const int before = LogCount();
    PostMessageW(g_window.main, WM_COMMAND, MAKEWPARAM(IDC_SELECT_DIR, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(g_window.main, IDC_SELECT_DIR)));
    HWND dialog = nullptr;
    if (!WaitFor(30000, [&] { return (dialog = FindPicker()) != nullptr; }))
        return Fail(L"the folder picker did not open");
    HWND tree = nullptr;
    if (!WaitFor(10000, [&] { return (tree = FindTree(dialog)) != nullptr; }))
        return Fail(L"the folder picker has no folder tree");
    // The picker fills its tree after it shows and loses a selection made earlier: select
    // until the tree shows the folder.
    bool selected = WaitFor(30000, [&] {
        Send(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote.at(kPath)));
        return _wcsicmp(SelectedName(tree, remote).c_str(), name.c_str()) == 0;
    });
    if (!selected) return Fail(L"the folder picker does not show " + folder);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    const std::wstring chosen = L"已选择目录: ";
    std::wstring line;
    if (!WaitFor(30000, [&] { return LogCount() > before && StartsWith(line = LogLine(before), chosen); }))
        return Fail(L"the program logged no folder choice");
    PrintNewLines(printed);
    if (_wcsicmp(line.c_str() + chosen.size(), folder.c_str()) != 0)
        return Fail(L"the program took another folder: " + line);
    return true;
}

bool SetOptions(const Options& options) {
    if (!options.format.empty()) {
        int count = static_cast<int>(Send(g_window.format, CB_GETCOUNT, 0, 0));
        int index = -1;
        for (int i = 0; i < count && index < 0; ++i) {
            wchar_t text[64] = {};
            if (Send(g_window.format, CB_GETLBTEXTLEN, i, 0) < 64) {
                Send(g_window.format, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
                if (options.format == text) index = i;
            }
        }
        if (index < 0) return Fail(L"the window offers no format " + options.format);
        Send(g_window.format, CB_SETCURSEL, index, 0);
    }
    if (options.quality > 0) {
        Send(g_window.qualitySlider, TBM_SETPOS, TRUE, options.quality);
        // What the trackbar tells its parent when the user lets it go.
        Send(g_window.main, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(g_window.qualitySlider));
        if (WindowText(g_window.qualityEdit) != std::to_wstring(options.quality))
            return Fail(L"the quality box shows " + WindowText(g_window.qualityEdit));
    }
    Send(GetDlgItem(g_window.main, IDC_KEEP_STRUCTURE), BM_SETCHECK, options.flat ? BST_UNCHECKED : BST_CHECKED, 0);
    Send(GetDlgItem(g_window.main, IDC_OVERWRITE), BM_SETCHECK, options.overwrite ? BST_CHECKED : BST_UNCHECKED, 0);
    return true;
}

// Presses Start and prints the log while the run goes; true once Start is enabled again.
bool RunConversion(const Options& options, int& printed) {
    HWND start = GetDlgItem(g_window.main, IDC_START);
    const int before = LogCount();
    PostMessageW(g_window.main, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED), reinterpret_cast<LPARAM>(start));
    // Start is disabled for the whole run, and the run logs before it enables it again.
    bool ended = WaitFor(options.timeoutMs, [&] {
        PrintNewLines(printed);
        return IsWindowEnabled(start) && LogCount() > before;
    });
    PrintNewLines(printed);
    return ended || Fail(L"the run did not end in time");
}

// A picture of the whole window as the screen shows it.
bool SavePicture(const std::wstring& path) {
    RedrawWindow(g_window.main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Send(g_window.main, WM_NULL, 0, 0);
    Sleep(500);  // the window may repaint its log on a timer
    RECT rect{};
    GetWindowRect(g_window.main, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    MemoryDcPtr memory(CreateCompatibleDC(screen));
    GdiBitmapPtr bitmap(CreateCompatibleBitmap(screen, width, height));
    HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory.get(), previous);
    ReleaseDC(nullptr, screen);

    GdiplusSession imaging;
    if (!imaging.started()) return Fail(L"GDI+ does not start");
    bool saved = false;
    {
        GpBitmap* picture = nullptr;
        CLSID png{};
        if (GdipCreateBitmapFromHBITMAP(bitmap.get(), nullptr, &picture) == Ok) {
            ImagePtr image(picture);
            saved = GetEncoderClsid(L"image/png", png) >= 0 &&
                    GdipSaveImageToFile(image.get(), path.c_str(), &png, nullptr) == Ok;
        }
    }
    return saved || Fail(L"cannot save the picture " + path);
}

bool ParseOptions(int count, wchar_t** arguments, Options& options) {
    if (count < 3) return false;
    options.exe = arguments[1];
    options.folder = arguments[2];
    for (int i = 3; i < count; ++i) {
        const std::wstring argument = arguments[i];
        const bool hasValue = i + 1 < count;
        if (argument == L"--flat") {
            options.flat = true;
        } else if (argument == L"--overwrite") {
            options.overwrite = true;
        } else if (argument == L"--format" && hasValue) {
            options.format = arguments[++i];
        } else if (argument == L"--quality" && hasValue) {
            options.quality = _wtoi(arguments[++i]);
            if (options.quality < 1 || options.quality > 100) return false;
        } else if (argument == L"--picture" && hasValue) {
            options.picture = arguments[++i];
        } else if (argument == L"--timeout" && hasValue) {
            options.timeoutMs = static_cast<DWORD>(_wtoi(arguments[++i])) * 1000;
        } else {
            return false;
        }
    }
    return true;
}

bool Drive(const Options& options) {
    std::wstring commandLine = L"\"" + options.exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(options.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started))
        return Fail(L"cannot start " + options.exe + L" (error " + std::to_wstring(GetLastError()) + L")");
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);

    // The window with its controls and the four welcome lines.
    if (!WaitFor(60000, [&] {
            g_window.main = FindMainWindow(started.dwProcessId);
            g_window.log = GetDlgItem(g_window.main, IDC_LOG_LIST);
            return g_window.main && IsWindowVisible(g_window.main) && LogCount() >= 4;
        }))
        return Fail(L"the program showed no window of class Vorandel with its welcome lines");
    g_window.format = GetDlgItem(g_window.main, IDC_FORMAT_COMBO);
    g_window.qualityEdit = GetDlgItem(g_window.main, IDC_QUALITY_EDIT);
    g_window.qualitySlider = GetDlgItem(g_window.main, IDC_QUALITY_SLIDER);
    int printed = 0;
    PrintNewLines(printed);

    bool ran = ChooseFolder(process.get(), options, printed) && SetOptions(options) &&
               RunConversion(options, printed) &&
               (options.picture.empty() || SavePicture(options.picture));
    PostMessageW(g_window.main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return Fail(L"the program did not end when its window was closed");
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    if (exitCode != 0) return Fail(L"the program ended with " + std::to_wstring(exitCode));
    return ran;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    Options options;
    bool parsed = arguments && ParseOptions(count, arguments, options);
    LocalFree(arguments);
    if (!parsed) {
        Fail(L"usage: vorandel_drive <Vorandel.exe> <folder> [--format NAME] [--quality 1-100] "
             L"[--flat] [--overwrite] [--picture window.png] [--timeout seconds]");
        return 2;
    }
    return Drive(options) ? 0 : 1;
}
