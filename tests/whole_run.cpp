#include "whole_run.h"

#include "discovery.h"
#include "file_identity.h"
#include "output_paths.h"
#include "resources.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>

namespace {

// What a file or folder was, to tell afterwards whether it changed.
struct Entry {
    bool folder = false;
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Entry& other) const {
        return folder == other.folder && size == other.size && hash == other.hash;
    }
};
using Snapshot = std::map<std::wstring, Entry>;  // by path relative to the walk's root

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

// Every entry below root but the folder skipped, once each: a folder reached again through
// a loop of links is not walked again.
void Walk(const std::wstring& root, const std::wstring& relative, const std::wstring& skipped,
          std::vector<FileIdentity>& descent, Snapshot& snapshot) {
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    FileIdentity identity;
    const bool identified = GetFileIdentity(folder, identity);
    if (identified) {
        if (std::any_of(descent.begin(), descent.end(), [&](const FileIdentity& above) {
                return SameFileIdentity(above, identity);
            }))
            return;
        descent.push_back(identity);
    }
    WIN32_FIND_DATAW found;
    SearchHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search.valid()) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
            if (path == skipped) continue;
            Entry entry;
            entry.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (!entry.folder) {
                const std::string bytes = ReadBytes(root + L"\\" + path);
                entry.size = bytes.size();
                entry.hash = Fnv1a(bytes);
            }
            snapshot[path] = entry;
            if (entry.folder) Walk(root, path, skipped, descent, snapshot);
        } while (FindNextFileW(search.get(), &found));
    }
    if (identified) descent.pop_back();
}

Snapshot Take(const std::wstring& root, const std::wstring& skipped = {}) {
    Snapshot snapshot;
    std::vector<FileIdentity> descent;
    Walk(root, L"", skipped, descent, snapshot);
    return snapshot;
}

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

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool IsTemporaryName(const std::wstring& path) {
    const std::wstring name = Lower(path.substr(path.find_last_of(L'\\') + 1));
    return name.compare(0, 3, L"vor") == 0 && name.size() > 4 &&
           name.compare(name.size() - 4, 4, L".tmp") == 0;
}

std::string Narrow(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    return bytes;
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

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        ADD_FAILURE() << "cannot make a pipe";
        return drive;
    }
    FileHandle reader(readEnd);
    FileHandle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
        ADD_FAILURE() << "cannot start vorandel_drive";
        return drive;
    }
    FileHandle process(started.hProcess);
    FileHandle thread(started.hThread);
    writer.close();  // the driver's end of the pipe closes when it ends

    const std::string complaint = "vorandel_drive: ";
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        pending.append(buffer, read);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.compare(0, complaint.size(), complaint) == 0) {
                drive.complaints.push_back(FromUtf8(line));
                continue;
            }
            drive.lines.push_back({FromUtf8(line), GetTickCount64()});
            if (options.onLine) options.onLine(drive.lines.back().text);
        }
    }
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

// The file lines after the scan's line, matched against the list; empty when they do not
// match, with the first mismatch reported.
std::vector<FileResult> MatchFileLines(const std::vector<TimedLine>& lines,
                                       const std::vector<std::wstring>& listed) {
    const std::wstring found = FoundLine(listed.size());
    size_t at = 0;
    while (at < lines.size() && lines[at].text != found) ++at;
    if (at == lines.size()) {
        ADD_FAILURE() << "no line \"" << Narrow(found) << "\"";
        return {};
    }
    std::vector<FileResult> files;
    ULONGLONG previous = lines[at].at;
    for (const std::wstring& relative : listed) {
        if (++at == lines.size()) {
            ADD_FAILURE() << "the log ends before the line of " << Narrow(relative);
            return {};
        }
        FileResult file;
        file.relativePath = relative;
        bool matched = false;
        for (FileOutcome outcome :
             {FileOutcome::Converted, FileOutcome::Failed, FileOutcome::Skipped}) {
            if (lines[at].text != FileLine(outcome, relative)) continue;
            file.outcome = outcome;
            matched = true;
        }
        if (!matched) {
            ADD_FAILURE() << "for " << Narrow(relative) << " the log says \""
                          << Narrow(lines[at].text) << "\"";
            return {};
        }
        file.seconds = static_cast<double>(lines[at].at - previous) / 1000.0;
        previous = lines[at].at;
        files.push_back(file);
    }
    return files;
}

std::wstring OutputOf(const std::wstring& relative, const std::wstring& outputRoot,
                      const std::wstring& extension, bool keepStructure) {
    const std::wstring kept =
        keepStructure ? relative : relative.substr(relative.find_last_of(L'\\') + 1);
    return ReplaceExtension(outputRoot + L"\\" + kept, extension);
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

}  // namespace

WholeRunResult RunAndCheckWholeRun(const std::wstring& folder, const WholeRunOptions& options) {
    WholeRunResult result;
    const std::wstring outputRoot = OutputRootFor(folder);
    const std::wstring outputName = L"converted_images";
    const std::wstring parent = folder.substr(0, folder.find_last_of(L'\\'));
    const std::wstring extension = Lower(options.format);

    std::vector<std::wstring> listed;
    for (const std::wstring& path : FindImageFiles(folder))
        listed.push_back(GetRelativePath(folder, path));
    const Snapshot sourcesBefore = Take(folder, outputName);
    const Snapshot outputsBefore = Take(outputRoot);
    const std::set<std::wstring> besideBefore = Names(parent);
    const std::set<std::wstring> temporariesBefore = TemporaryNamesIn(TempFolder());

    const ULONGLONG started = GetTickCount64();
    Drive drive = DriveProgram(folder, options);
    result.seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    for (const TimedLine& line : drive.lines) result.log.push_back(line.text);
    for (const std::wstring& complaint : drive.complaints) ADD_FAILURE() << Narrow(complaint);
    EXPECT_TRUE(drive.ended) << "the run did not end, or the program did not close with 0";

    result.files = MatchFileLines(drive.lines, listed);
    if (!result.files.empty()) {
        int successes = 0;
        for (const FileResult& file : result.files)
            successes += file.outcome == FileOutcome::Converted;
        const std::wstring summary = SummaryLine(successes, listed.size());
        const size_t count = drive.lines.size();
        // The run's last two lines, written before Start is usable again.
        const bool summarised = count >= 2 && drive.lines[count - 2].text == summary &&
                                drive.lines[count - 1].text == OutputFolderLine(outputRoot);
        EXPECT_TRUE(summarised) << "the log does not end with \"" << Narrow(summary)
                                << "\" and the output folder";
        result.ended = drive.ended && summarised;
    }

    // What each line claims of converted_images, and nothing else is there.
    std::set<std::wstring> claimed;
    for (const FileResult& file : result.files)
        if (file.outcome != FileOutcome::Failed)
            claimed.insert(Lower(OutputOf(file.relativePath, outputRoot, extension,
                                          options.keepStructure)));
    for (const FileResult& file : result.files) {
        const std::wstring output =
            OutputOf(file.relativePath, outputRoot, extension, options.keepStructure);
        const std::string name = Narrow(file.relativePath);
        if (file.outcome == FileOutcome::Failed) {
            if (!claimed.count(Lower(output))) {
                EXPECT_FALSE(FileExists(output)) << "a failed file left an output: " << name;
            }
        } else {
            EXPECT_TRUE(FileExists(output)) << "no output for " << name;
        }
        if (file.outcome == FileOutcome::Converted) {
            EXPECT_NE(DecodedSize(output), ImageSize{}) << "the output does not decode: " << name;
        }
        auto expected = options.expectedOutcomes.find(file.relativePath);
        if (expected != options.expectedOutcomes.end()) {
            EXPECT_EQ(OutcomeName(file.outcome), std::string(OutcomeName(expected->second)))
                << name;
        }
    }
    for (const auto& [relative, entry] : Take(outputRoot)) {
        if (entry.folder || outputsBefore.count(relative)) continue;
        const std::wstring path = outputRoot + L"\\" + relative;
        EXPECT_FALSE(IsTemporaryName(path)) << "a temporary file is left: " << Narrow(relative);
        EXPECT_TRUE(claimed.count(Lower(path)))
            << "converted_images holds what no line claims: " << Narrow(relative);
    }
    for (const std::wstring& name : TemporaryNamesIn(TempFolder()))
        EXPECT_TRUE(temporariesBefore.count(name))
            << "a temporary file is left in the temporary folder: " << Narrow(name);

    // The sources, and everything beside them, as they were.
    const Snapshot sourcesAfter = Take(folder, outputName);
    for (const auto& [relative, entry] : sourcesBefore) {
        if (options.changedSources.count(relative)) continue;
        auto after = sourcesAfter.find(relative);
        if (after == sourcesAfter.end())
            ADD_FAILURE() << "a source is gone: " << Narrow(relative);
        else
            EXPECT_TRUE(after->second == entry) << "a source changed: " << Narrow(relative);
    }
    for (const auto& [relative, entry] : sourcesAfter)
        EXPECT_TRUE(sourcesBefore.count(relative) || options.changedSources.count(relative))
            << "written outside converted_images: " << Narrow(relative);
    std::set<std::wstring> besideAfter = Names(parent);
    besideAfter.erase(folder.substr(folder.find_last_of(L'\\') + 1));
    std::set<std::wstring> besideExpected = besideBefore;
    besideExpected.erase(folder.substr(folder.find_last_of(L'\\') + 1));
    EXPECT_TRUE(besideAfter == besideExpected) << "something was written beside the folder";
    return result;
}
