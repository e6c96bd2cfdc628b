#include "run.h"

#include "codec_worker.h"
#include "controls.h"
#include "discovery.h"
#include "files.h"
#include "formats.h"
#include "output_paths.h"
#include "resources.h"
#include "run_log.h"

#include <commctrl.h>

#include <cwctype>
#include <memory>
#include <vector>

std::atomic<bool> g_runStopRequested{false};

namespace {

// Wakes a run that waits for the codec worker when the program closes.
HANDLE RunStopEvent() {
    static KernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.get();
}

// Longest format name the run reads, terminating NUL included.
constexpr LRESULT kFormatNameBuffer = 32;

void EnableStart() { EnableWindow(GetDlgItem(g_hMainWnd, IDC_START), TRUE); }

// The selected format's name; false when nothing usable is selected.
bool ReadFormatName(std::wstring& formatName) {
    LRESULT index = SendMessageW(g_hFormatCombo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return false;
    // A text that would not fit the buffer is none of the table's names; an empty one is
    // what a window that is already gone answers.
    LRESULT length = SendMessageW(g_hFormatCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length <= 0 || length >= kFormatNameBuffer) return false;
    wchar_t buffer[kFormatNameBuffer] = {};
    SendMessageW(g_hFormatCombo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(buffer));
    formatName = buffer;
    return true;
}

bool IsChecked(int id) {
    return SendMessageW(GetDlgItem(g_hMainWnd, id), BM_GETCHECK, 0, 0) != 0;
}

bool TakeSnapshot(ConversionSettings& settings) {
    if (!ReadFormatName(settings.formatName)) return false;
    settings.mimeType = g_formatTable[settings.formatName];
    settings.extension = settings.formatName;
    for (wchar_t& c : settings.extension) c = static_cast<wchar_t>(std::towlower(c));
    settings.quality = static_cast<int>(SendMessageW(g_hQualitySlider, TBM_GETPOS, 0, 0));
    settings.keepStructure = IsChecked(IDC_KEEP_STRUCTURE);
    settings.overwrite = IsChecked(IDC_OVERWRITE);
    return true;
}

bool IsExistingFile(const std::wstring& path) {
    DWORD attributes = ReadAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileOutcome ConvertOne(const ConversionSettings& settings, const std::wstring& outputRoot,
                       const std::wstring& inputPath) {
    std::wstring outputPath = BuildOutputPath(inputPath, settings.sourceDir, outputRoot,
                                              settings.extension, settings.keepStructure);
    if (!settings.overwrite && IsExistingFile(outputPath)) return FileOutcome::Skipped;
    switch (ConvertInCodecWorker(inputPath, outputPath, settings.mimeType, settings.quality,
                                 settings.overwrite, RunStopEvent())) {
    case Placement::Placed:
        return FileOutcome::Converted;
    case Placement::Exists:  // made by another program meanwhile, and overwriting is off
        return FileOutcome::Skipped;
    case Placement::Failed:
        break;
    }
    return FileOutcome::Failed;
}

// An early end: its one line, and Start is usable again.
DWORD EndWith(const wchar_t* line) {
    AppendLog(line);
    EnableStart();
    return 0;
}

}  // namespace

void RequestRunStop() {
    g_runStopRequested = true;
    SetEvent(RunStopEvent());
}

void ClearRunStop() {
    g_runStopRequested = false;
    ResetEvent(RunStopEvent());
}

// Each step first asks whether the program is closing: then the run ends at once, with no
// window left to report to, and creates nothing more.
DWORD WINAPI ConversionThread(LPVOID parameter) {
    std::unique_ptr<std::wstring> sourceDir(static_cast<std::wstring*>(parameter));
    ConversionSettings settings;
    settings.sourceDir = *sourceDir;
    bool snapshot = TakeSnapshot(settings);
    if (g_runStopRequested) return 0;
    if (!snapshot) return EndWith(kNoFormatLine);

    const std::wstring outputRoot = OutputRootFor(settings.sourceDir);
    if (!CreateDirectoryTree(settings.sourceDir, outputRoot)) return EndWith(kOutputRootFailedLine);
    const std::vector<std::wstring> files = FindImageFiles(settings.sourceDir, &g_runStopRequested);
    if (g_runStopRequested) return 0;
    if (files.empty()) return EndWith(kNoImagesLine);

    const unsigned long long total = files.size();
    AppendLog(kStartingLine);
    AppendLog(FormatLine(settings.formatName));
    AppendLog(QualityLine(settings.quality));
    AppendLog(FoundLine(total));
    // The 32-bit range message: the 16-bit one would wrap totals above 65,535.
    SendMessageW(g_hProgress, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
    SendMessageW(g_hProgress, PBM_SETPOS, 0, 0);

    int successCount = 0;
    int ordinal = 0;
    for (const std::wstring& file : files) {
        if (g_runStopRequested) return 0;
        SendMessageW(g_hProgress, PBM_SETPOS, static_cast<WPARAM>(++ordinal), 0);
        FileOutcome outcome = ConvertOne(settings, outputRoot, file);
        if (outcome == FileOutcome::Converted) ++successCount;
        AppendLog(FileLine(outcome, GetRelativePath(settings.sourceDir, file)));
        if (outcome != FileOutcome::Skipped) Sleep(10);
    }

    AppendLog(SummaryLine(successCount, total));
    AppendLog(OutputFolderLine(outputRoot));
    EnableStart();
    return 0;
}
