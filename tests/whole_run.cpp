#include "whole_run.h"

#include "discovery.h"
#include "output_paths.h"
#include "resources.h"
#include "run_checker.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <future>

namespace {

// The names directly in folder.
std::set<std::wstring> Names(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    SearchHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search.valid()) {
        do names.insert(found.cFileName);
        while (FindNextFileW(search.get(), &found));
    }
    return names;
}

bool IsTemporaryName(const std::wstring& path) {
    const std::wstring name = Lower(path.substr(path.find_last_of(L'\\') + 1));
    return name.compare(0, 3, L"vor") == 0 && name.size() > 4 &&
           name.compare(name.size() - 4, 4, L".tmp") == 0;
}

struct TimedLine {
    std::wstring text;
    ULONGLONG at = 0;
};

struct Drive {
    bool ended = false;
    std::vector<TimedLine> lines;
    std::vector<std::wstring> complaints;  // what the driver wrote on its error stream
};

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// A pipe to or from a process about to start: it inherits its end, theirs, and not ours.
bool MakePipe(FileHandle& ours, FileHandle& theirs, bool theyWrite) {
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return false;
    ours.reset(theyWrite ? readEnd : writeEnd);
    theirs.reset(theyWrite ? writeEnd : readEnd);
    return SetHandleInformation(theirs.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) != 0;
}

// Starts commandLine with these standard streams, its errors into its output; the process, or
// null.
HANDLE StartProcess(std::wstring commandLine, HANDLE input, HANDLE output) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started))
        return nullptr;
    CloseHandle(started.hThread);
    return started.hProcess;
}

// Hands on each line read from a pipe, without its line end, as it comes, until every writer
// has closed it.
void ReadLines(HANDLE from, const std::function<void(const std::string& line)>& onLine) {
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(from, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        pending.append(buffer, read);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            onLine(line);
        }
    }
}

// Runs vorandel_drive on the program and folder, with its output through one pipe read here
// as it comes.
Drive DriveProgram(const std::wstring& folder, const WholeRunOptions& options) {
    Drive drive;
    std::wstring commandLine = Quoted(HostToWindowsPath(VORANDEL_DRIVE_HOST)) + L" " +
                               Quoted(HostToWindowsPath(VORANDEL_PROGRAM_HOST)) + L" " +
                               Quoted(folder) + L" --format " + options.format + L" --timeout " +
                               std::to_wstring(options.timeoutSeconds);
    if (options.quality > 0) commandLine += L" --quality " + std::to_wstring(options.quality);
    if (!options.keepStructure) commandLine += L" --flat";
    if (options.overwrite) commandLine += L" --overwrite";

    FileHandle reader;
    FileHandle writer;
    if (!MakePipe(reader, writer, true)) {
        ADD_FAILURE() << "cannot make a pipe";
        return drive;
    }
    KernelHandle process(StartProcess(commandLine, GetStdHandle(STD_INPUT_HANDLE), writer.get()));
    if (!process) {
        ADD_FAILURE() << "cannot start vorandel_drive";
        return drive;
    }
    writer.close();  // the driver's end of the pipe closes when it ends

    const std::string complaint = "vorandel_drive: ";
    ReadLines(reader.get(), [&](const std::string& line) {
        if (line.compare(0, complaint.size(), complaint) == 0) {
            drive.complaints.push_back(FromUtf8(line));
            return;
        }
        drive.lines.push_back({FromUtf8(line), GetTickCount64()});
        if (options.onLine) options.onLine(drive.lines.back().text);
    });
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.get(), &exitCode);
    drive.ended = exitCode == 0;
    return drive;
}

const char* OutcomeName(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Converted:
        return "converted";
    case FileOutcome::Skipped:
        return "skipped";
    case FileOutcome::Failed:
        break;
    }
    return "failed";
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    std::wstring folder(temp, length);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

std::set<std::wstring> TemporaryNamesIn(const std::wstring& folder) {
    std::set<std::wstring> names;
    for (const std::wstring& name : Names(folder))
        if (IsTemporaryName(name)) names.insert(name);
    return names;
}

FileOutcome OutcomeOf(char mark) {
    return mark == '+' ? FileOutcome::Converted : mark == 's' ? FileOutcome::Skipped : FileOutcome::Failed;
}

}  // namespace

WholeRunResult RunAndCheckWholeRun(const std::wstring& folder, const WholeRunOptions& options) {
    WholeRunResult result;
    const std::wstring parent = folder.substr(0, folder.find_last_of(L'\\'));
    RunRecord run;
    run.source = folder;
    run.extension = Lower(options.format);
    run.keepStructure = options.keepStructure;
    for (const std::wstring& path : FindImageFiles(folder))
        run.listed.push_back(GetRelativePath(folder, path));
    run.changedByTest.assign(options.changedSources.begin(), options.changedSources.end());
    run.before = ReadFolderContents(folder);
    const std::set<std::wstring> besideBefore = Names(parent);
    const std::set<std::wstring> temporariesBefore = TemporaryNamesIn(TempFolder());

    const ULONGLONG started = GetTickCount64();
    Drive drive = DriveProgram(folder, options);
    result.seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    for (const TimedLine& line : drive.lines) result.log.push_back(line.text);
    for (const std::wstring& complaint : drive.complaints) ADD_FAILURE() << complaint;
    EXPECT_TRUE(drive.ended) << "the run did not end, or the program did not close with 0";

    // The run's own lines begin three before the scan's; the driver shows the window's
    // earlier lines too.
    const std::wstring found = FoundLine(run.listed.size());
    size_t scanLine = 0;
    while (scanLine < drive.lines.size() && drive.lines[scanLine].text != found) ++scanLine;
    if (scanLine >= 3 && scanLine < drive.lines.size())
        run.log.assign(result.log.begin() + static_cast<std::ptrdiff_t>(scanLine - 3), result.log.end());
    else
        ADD_FAILURE() << "no line \"" << found << "\" in the run";
    run.after = ReadFolderContents(folder);
    for (const auto& [path, bytes] : run.after)
        if (path.back() != L'\\' && IsTemporaryName(path)) result.temporaries.push_back(path);
    const std::vector<char> marks = CheckRunInvariants(run);
    if (marks.size() == run.listed.size()) {
        for (size_t i = 0; i < marks.size(); ++i) {
            const ULONGLONG at = drive.lines[scanLine + 1 + i].at;
            const ULONGLONG previous = drive.lines[scanLine + i].at;
            result.files.push_back({run.listed[i], OutcomeOf(marks[i]),
                                    static_cast<double>(at - previous) / 1000.0});
        }
        result.ended = drive.ended && run.log.back() == OutputFolderLine(OutputRootFor(folder));
    }
    for (const FileResult& file : result.files) {
        auto expected = options.expectedOutcomes.find(file.relativePath);
        if (expected != options.expectedOutcomes.end()) {
            EXPECT_EQ(OutcomeName(file.outcome), std::string(OutcomeName(expected->second)))
                << file.relativePath;
        }
    }
    for (const std::wstring& name : TemporaryNamesIn(TempFolder()))
        EXPECT_TRUE(temporariesBefore.count(name))
            << "a temporary file is left in the temporary folder: " << name;

    // Nothing beside the folder was made or removed.
    const std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    std::set<std::wstring> besideAfter = Names(parent);
    std::set<std::wstring> besideExpected = besideBefore;
    besideAfter.erase(name);
    besideExpected.erase(name);
    EXPECT_TRUE(besideAfter == besideExpected) << "something was written beside the folder";
    return result;
}

ScannerStandIn::ScannerStandIn(const std::wstring& folder, unsigned holdMilliseconds) {
    FileHandle input;   // its ends of the pipes, closed once it has them
    FileHandle output;
    if (!MakePipe(input_, input, false) || !MakePipe(output_, output, true)) {
        ADD_FAILURE() << "cannot make a pipe";
        return;
    }
    process_.reset(StartProcess(Quoted(HostToWindowsPath(VORANDEL_SCANNER_HOST)) + L" " +
                                    Quoted(folder) + L" " + std::to_wstring(holdMilliseconds),
                                input.get(), output.get()));
    if (!process_) {
        ADD_FAILURE() << "cannot start scanner_standin";
        return;
    }
    output.close();  // so that reading ends when it ends
    std::promise<bool> watching;
    std::future<bool> watches = watching.get_future();
    reader_ = std::thread([this, said = std::move(watching)]() mutable {
        bool told = false;
        ReadLines(output_.get(), [&](const std::string& line) {
            const std::wstring text = FromUtf8(line);
            if (text.compare(0, 5, L"held ") == 0) {
                held_.push_back(text.substr(5));
            } else if (!told && text.compare(0, 9, L"watching ") == 0) {
                told = true;
                said.set_value(true);
            } else {
                complaints_.push_back(text);
            }
        });
        if (!told) said.set_value(false);
    });
    if (!watches.get()) ADD_FAILURE() << "scanner_standin did not watch " << folder;
}

std::vector<std::wstring> ScannerStandIn::stop() {
    if (!process_) return held_;
    input_.close();
    reader_.join();
    WaitForSingleObject(process_.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process_.get(), &exitCode);
    EXPECT_EQ(exitCode, 0u) << "scanner_standin ended badly";
    for (const std::wstring& complaint : complaints_) ADD_FAILURE() << complaint;
    process_.reset();
    return held_;
}
