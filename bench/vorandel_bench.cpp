// The Windows half of the benchmark; bench/run.sh calls it and reads one line of figures:
//   vorandel_bench run <folder> <format> shown|minimised
//       the real window on folder, overwrite on, Start pressed; prints
//       "seconds files peak_bytes" once Start is enabled again, the time from the press, and
//       the peak working set of this process and of its codec worker together
//   vorandel_bench floor <folder> <mime type> <output folder>
//       the same codec calls, one file after another, nothing else: "seconds files"
//   vorandel_bench scan <folder>        FindImageFiles alone: "seconds entries"
//   vorandel_bench small <folder> <count>
//       writes count deterministic 32x24 PNGs
#include "app.h"
#include "codec.h"
#include "codec_worker.h"
#include "commands.h"
#include "controls.h"
#include "discovery.h"

#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

SIZE_T PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

// This process and the workers it started.
SIZE_T PeakOfProgram() {
    SIZE_T peak = PeakWorkingSet(GetCurrentProcess());
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return peak;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId()) continue;
        HANDLE child = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
        if (!child) continue;
        peak += PeakWorkingSet(child);
        CloseHandle(child);
    }
    CloseHandle(snapshot);
    return peak;
}

std::wstring g_format;
int g_files = 0;
double g_start = 0;
bool g_started = false;

void CALLBACK OnTick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!g_hMainWnd) return;
    HWND start = GetDlgItem(g_hMainWnd, IDC_START);
    if (!g_started) {
        LRESULT index = SendMessageW(g_hFormatCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(g_format.c_str()));
        SendMessageW(g_hFormatCombo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(GetDlgItem(g_hMainWnd, IDC_OVERWRITE), BM_SETCHECK, BST_CHECKED, 0);
        g_started = true;
        g_start = Now();
        SendMessageW(g_hMainWnd, WM_COMMAND, IDC_START, 0);
        return;
    }
    if (!IsWindowEnabled(start)) return;
    const double seconds = Now() - g_start;
    std::printf("%.4f %d %llu\n", seconds, g_files,
                static_cast<unsigned long long>(PeakOfProgram()));
    std::fflush(stdout);
    KillTimer(nullptr, timer);
    PostMessageW(g_hMainWnd, WM_CLOSE, 0, 0);
}

int Run(const std::wstring& folder, const std::wstring& format, bool minimised) {
    g_sourceDir = folder;
    g_format = format;
    g_files = static_cast<int>(FindImageFiles(folder).size());
    SetTimer(nullptr, 0, 5, OnTick);
    return RunVorandel(GetModuleHandleW(nullptr), minimised ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
}

int Floor(const std::wstring& folder, const std::wstring& mimeType, const std::wstring& out) {
    GdiplusStartupInput input{};
    input.GdiplusVersion = 1;
    ULONG_PTR token = 0;
    if (GdiplusStartup(&token, &input, nullptr) != Ok) return 1;
    const std::vector<std::wstring> files = FindImageFiles(folder);
    CreateDirectoryW(out.c_str(), nullptr);
    const double start = Now();
    int index = 0;
    for (const std::wstring& file : files)
        ConvertImageFile(file, out + L"\\" + std::to_wstring(index++) + L".out", mimeType, 90);
    std::printf("%.4f %d\n", Now() - start, index);
    GdiplusShutdown(token);
    return 0;
}

int Scan(const std::wstring& folder) {
    const double start = Now();
    const size_t found = FindImageFiles(folder).size();
    std::printf("%.4f %zu\n", Now() - start, found);
    return 0;
}

int Small(const std::wstring& folder, int count) {
    GdiplusStartupInput input{};
    input.GdiplusVersion = 1;
    ULONG_PTR token = 0;
    if (GdiplusStartup(&token, &input, nullptr) != Ok) return 1;
    CLSID png{};
    UINT encoders = 0, size = 0;
    GdipGetImageEncodersSize(&encoders, &size);
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    GdipGetImageEncoders(encoders, size, codecs);
    for (UINT i = 0; i < encoders; ++i)
        if (std::wstring(codecs[i].MimeType) == L"image/png") png = codecs[i].Clsid;
    for (int n = 0; n < count; ++n) {
        GpBitmap* bitmap = nullptr;
        GdipCreateBitmapFromScan0(32, 24, 0, PixelFormat24bppRGB, nullptr, &bitmap);
        for (INT y = 0; y < 24; ++y)
            for (INT x = 0; x < 32; ++x)
                GdipBitmapSetPixel(bitmap, x, y,
                                   0xFF000000u | static_cast<ARGB>((x * 8 + n) & 0xFF) << 16 |
                                       static_cast<ARGB>((y * 10 + n * 3) & 0xFF) << 8 |
                                       static_cast<ARGB>((n * 7) & 0xFF));
        const std::wstring path = folder + L"\\small" + std::to_wstring(n) + L".png";
        GdipSaveImageToFile(bitmap, path.c_str(), &png, nullptr);
        GdipDisposeImage(bitmap);
    }
    GdiplusShutdown(token);
    return 0;
}

}  // namespace

int main() {
    if (ServeAsCodecWorker()) return 0;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(arguments, arguments + count);
    LocalFree(arguments);
    if (args.size() == 5 && args[1] == L"run") return Run(args[2], args[3], args[4] == L"minimised");
    if (args.size() == 5 && args[1] == L"floor") return Floor(args[2], args[3], args[4]);
    if (args.size() == 3 && args[1] == L"scan") return Scan(args[2]);
    if (args.size() == 4 && args[1] == L"small") return Small(args[2], std::stoi(args[3]));
    std::fprintf(stderr, "usage: see the first lines of bench/vorandel_bench.cpp\n");
    return 2;
}
