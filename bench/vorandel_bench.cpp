// The Windows half of the benchmark; bench/bench.py calls it and reads one line of figures:
//   vorandel_bench run <folder> <format> shown|minimised
//       the real window on folder, overwrite on, Start pressed; prints
//       "seconds files peak_bytes worker_start_seconds" once Start is enabled again: the time
//       from the press, the peak working set of this process and of its codec worker
//       together, and what starting the worker (once per program, before the press) took
//   vorandel_bench floor <folder> <mime type> <output folder>
//       the same codec calls, one file after another, nothing else: "seconds files"
//   vorandel_bench metadata <folder> <mime type> <output folder>
//       for every file, its conversion and the handling of its metadata apart (read, profile
//       checked, made true to the output, written into the encoded output), in turns:
//       "metadata_ms convert_ms", the means per file
//   vorandel_bench scan <folder>        FindImageFiles alone: "seconds entries"
//   vorandel_bench small <folder> <count>
//       writes count deterministic 32x24 PNGs
//   vorandel_bench profile <folder>
//       a real run, minimised, split where the window receives each file's messages, then
//       the parts measured apart: "convert_ms log_ms rest_ms pause_ms handover_ms inprocess_ms",
//       the means of a file's progress position to its log line, that line's first message
//       to its last, its last to the next file's position, and of the run's 10 ms pause; the
//       medians of a file's conversion in the worker minus the same here, and of that
//       conversion here; then "handover_q1 handover_q3", the hand-over's quartiles over the
//       rounds, which say how well it was resolved
#include "app.h"
#include "codec.h"
#include "codec_worker.h"
#include "commands.h"
#include "controls.h"
#include "discovery.h"
#include "metadata.h"

#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
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

// name in the user's temporary folder, for outputs nobody keeps.
std::wstring TemporaryPath(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

std::wstring g_format;
int g_files = 0;
double g_start = 0;
double g_workerStart = 0;
bool g_started = false;

// When the window receives the messages a run sends for each file; the profile's split.
struct Arrival {
    UINT message;
    double at;
};
bool g_recordArrivals = false;
std::vector<Arrival> g_arrivals;

LRESULT CALLBACK RecordArrival(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                               UINT_PTR, DWORD_PTR) {
    // Position 0 is the run's start, not a file.
    if ((message == PBM_SETPOS && wParam > 0) || message == LB_ADDSTRING ||
        message == LB_SETTOPINDEX)
        g_arrivals.push_back({message, Now()});
    return DefSubclassProc(control, message, wParam, lParam);
}

void CALLBACK OnTick(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!g_hMainWnd) return;
    HWND start = GetDlgItem(g_hMainWnd, IDC_START);
    if (!g_started) {
        if (g_recordArrivals) {
            // Installed last, so it sees each message before the window's own handling.
            SetWindowSubclass(g_hLogList, RecordArrival, 1, 0);
            SetWindowSubclass(g_hProgress, RecordArrival, 1, 0);
        }
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
    std::printf("%.4f %d %llu %.4f\n", seconds, g_files,
                static_cast<unsigned long long>(PeakOfProgram()), g_workerStart);
    std::fflush(stdout);
    KillTimer(nullptr, timer);
    PostMessageW(g_hMainWnd, WM_CLOSE, 0, 0);
}

int Run(const std::wstring& folder, const std::wstring& format, bool minimised) {
    g_sourceDir = folder;
    g_format = format;
    const std::vector<std::wstring> files = FindImageFiles(folder);
    g_files = static_cast<int>(files.size());
    // A program starts its worker once, for its first run; under Wine that start costs
    // seconds, which would otherwise be counted against every file of one run.
    if (!files.empty()) {
        const std::wstring warm = TemporaryPath(L"vorandel-bench-warm.out");
        const double start = Now();
        ConvertInCodecWorker(files.front(), warm, L"image/bmp", 90, true, nullptr);
        g_workerStart = Now() - start;
        DeleteFileW(warm.c_str());
    }
    // Often enough to see the end within a few milliseconds, seldom enough to cost the run
    // nothing: every tick wakes the window's thread.
    SetTimer(nullptr, 0, 20, OnTick);
    return RunVorandel(GetModuleHandleW(nullptr), minimised ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
}

int Floor(const std::wstring& folder, const std::wstring& mimeType, const std::wstring& out) {
    GdiplusSession imaging;
    if (!imaging.started()) return 1;
    const std::vector<std::wstring> files = FindImageFiles(folder);
    CreateDirectoryW(out.c_str(), nullptr);
    // The codecs load on first use, as they did in the worker before its timed run.
    if (!files.empty()) ConvertImageFile(files.front(), out + L"\\warm.out", mimeType, 90);
    const double start = Now();
    int index = 0;
    for (const std::wstring& file : files) {
        // Folders of a thousand, like the corpora and the runs' outputs.
        const std::wstring sub = out + L"\\" + std::to_wstring(index / 1000);
        if (index % 1000 == 0) CreateDirectoryW(sub.c_str(), nullptr);
        ConvertImageFile(file, sub + L"\\" + std::to_wstring(index++) + L".out", mimeType, 90);
    }
    std::printf("%.4f %d\n", Now() - start, index);
    return 0;
}

std::vector<uint8_t> FileBytes(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    LARGE_INTEGER size{};
    DWORD read = 0;
    if (GetFileSizeEx(file, &size)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
    }
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

int Metadata(const std::wstring& folder, const std::wstring& mimeType, const std::wstring& out) {
    const std::optional<MetadataContainer> container = MetadataContainerOf(mimeType);
    GdiplusSession imaging;
    if (!container || !imaging.started()) return 1;
    const std::vector<std::wstring> files = FindImageFiles(folder);
    CreateDirectoryW(out.c_str(), nullptr);
    const std::wstring output = out + L"\\photo.out";
    constexpr int kRounds = 5;
    double metadata = 0;
    double convert = 0;
    for (int round = 0; round <= kRounds; ++round) {
        for (const std::wstring& file : files) {
            double start = Now();
            ConvertImageFile(file, output, mimeType, 90);
            double converted = Now();
            std::vector<uint8_t> bytes = FileBytes(file);
            std::vector<uint8_t> encoded = FileBytes(output);
            double read = Now();
            PhotoMetadata found = ReadCarriedMetadata(bytes.data(), bytes.size());
            // The size only fills tags.
            WriteMetadata(encoded, *container, MetadataForOutput(found, 4000, 3000));
            double handled = Now();
            // The first round loads the codecs.
            if (round == 0) continue;
            convert += converted - start;
            metadata += handled - read;
        }
    }
    const double count = static_cast<double>(files.size()) * kRounds;
    std::printf("%.4f %.4f\n", 1000 * metadata / count, 1000 * convert / count);
    return 0;
}

int Scan(const std::wstring& folder) {
    const double start = Now();
    const size_t found = FindImageFiles(folder).size();
    std::printf("%.4f %zu\n", Now() - start, found);
    return 0;
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double value : values) sum += value;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

int Profile(const std::wstring& folder) {
    g_recordArrivals = true;
    Run(folder, L"BMP", true);
    // Each file: its position, its line's first message, its line's last; then the next
    // file's position.
    std::vector<double> convert, log, rest;
    for (size_t i = 0; i + 3 < g_arrivals.size(); ++i) {
        const Arrival* a = &g_arrivals[i];
        if (a[0].message != PBM_SETPOS || a[1].message != LB_ADDSTRING ||
            a[2].message != LB_SETTOPINDEX || a[3].message != PBM_SETPOS)
            continue;
        convert.push_back(1000 * (a[1].at - a[0].at));
        log.push_back(1000 * (a[2].at - a[1].at));
        rest.push_back(1000 * (a[3].at - a[2].at));
    }
    std::vector<double> pauses;
    for (int i = 0; i < 200; ++i) {
        const double start = Now();
        Sleep(10);
        pauses.push_back(1000 * (Now() - start));
    }
    // The same files in the worker and here, taking turns so that load falls on both alike.
    GdiplusSession imaging;
    if (!imaging.started()) return 1;
    std::vector<std::wstring> files = FindImageFiles(folder);
    files.resize(std::min<size_t>(files.size(), 50));
    const std::wstring out = TemporaryPath(L"vorandel-bench-profile.out");
    std::vector<double> added, here;
    if (!files.empty()) ConvertInCodecWorker(files.front(), out, L"image/bmp", 90, true, nullptr);
    for (int round = 0; round < 11 && !files.empty(); ++round) {
        // Each file in both places, one right after the other, the first place changing
        // from file to file: a change in the machine's speed falls on both alike.
        double spent[2] = {};
        for (size_t i = 0; i < files.size(); ++i) {
            const int first = static_cast<int>((i + static_cast<size_t>(round)) % 2);
            for (int inWorker : {first, 1 - first}) {
                const double start = Now();
                if (inWorker) {
                    ConvertInCodecWorker(files[i], out, L"image/bmp", 90, true, nullptr);
                } else {
                    ConvertImageFile(files[i], out, L"image/bmp", 90);
                }
                spent[inWorker] += 1000 * (Now() - start) / static_cast<double>(files.size());
            }
        }
        added.push_back(spent[1] - spent[0]);
        here.push_back(spent[0]);
    }
    DeleteFileW(out.c_str());
    // Means where the parts must add up to the run's own time per file.
    std::sort(added.begin(), added.end());
    const double low = added.empty() ? 0 : added[added.size() / 4];
    const double high = added.empty() ? 0 : added[added.size() * 3 / 4];
    std::printf("\n%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", Mean(convert), Mean(log), Mean(rest),
                Mean(pauses), Median(added), Median(here), low, high);
    return 0;
}

int Small(const std::wstring& folder, int count) {
    GdiplusSession imaging;
    if (!imaging.started()) return 1;
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
    if (args.size() == 5 && args[1] == L"metadata") return Metadata(args[2], args[3], args[4]);
    if (args.size() == 3 && args[1] == L"scan") return Scan(args[2]);
    if (args.size() == 4 && args[1] == L"small") return Small(args[2], std::stoi(args[3]));
    if (args.size() == 3 && args[1] == L"profile") return Profile(args[2]);
    std::fprintf(stderr, "usage: see the first lines of bench/vorandel_bench.cpp\n");
    return 2;
}
