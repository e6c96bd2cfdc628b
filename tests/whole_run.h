// One whole run of the real program over a folder, and every check that must hold after it,
// whatever the folder holds. Suites build their folder, call RunAndCheckWholeRun, and add
// their own expectations through WholeRunOptions or on the result.
//
// The run goes as a user's would: the real Vorandel.exe is started and driven through its
// window by vorandel_drive from another process (folder chosen in the program's picker,
// format and options set, Start pressed, the window closed after the run), on the display
// the tests are given (xvfb-run). Checked with gtest failures, after the run: everything
// CheckRunInvariants checks (run_checker.h), and
//   - the program ran to its summary, and closed with exit code 0 when its window closed;
//   - no temporary file is left in %TEMP%, and nothing beside the folder was made or removed;
//   - each file in expectedOutcomes got that outcome.
// A suite can have ScannerStandIn beside the program while it runs.
#pragma once

#include "resources.h"
#include "run_log.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct WholeRunOptions {
    std::wstring format = L"PNG";  // a name in the format list
    int quality = 0;               // 1-100; 0 leaves the window's own
    bool keepStructure = true;
    bool overwrite = false;
    unsigned timeoutSeconds = 1800;  // for the run, from Start to the summary
    // Outcomes fixed in advance, by path relative to the folder.
    std::map<std::wstring, FileOutcome> expectedOutcomes;
    // Relative paths of source files that the suite itself changes or removes during the run.
    std::set<std::wstring> changedSources;
    // Called with every log line as it arrives, on the caller's thread, while the program
    // runs: a suite can change the folder once it sees the scan's line.
    std::function<void(const std::wstring& line)> onLine;
};

struct FileResult {
    std::wstring relativePath;
    FileOutcome outcome = FileOutcome::Failed;
    double seconds = 0;  // from the previous log line to this file's line
};

struct WholeRunResult {
    bool ended = false;             // the run reached its summary and the program closed with 0
    std::vector<std::wstring> log;  // every line the window showed, its first lines included
    std::vector<FileResult> files;  // in list order; empty when the lines did not match the list
    double seconds = 0;             // the whole drive, program start to its end
    std::vector<std::wstring> temporaries;  // vor*.tmp files below the folder after the run
};

// Runs the program over folder (a full Windows path) and checks everything above.
WholeRunResult RunAndCheckWholeRun(const std::wstring& folder,
                                   const WholeRunOptions& options = {});

// The stand-in for an antivirus scanner, a sync or an indexing client (scanner_standin.cpp)
// on folder, watching from when the constructor returns until stop: it holds every new or
// changed file below the folder for holdMilliseconds, sharing it only for reading, so that
// nobody can write, rename or delete it meanwhile.
class ScannerStandIn {
public:
    ScannerStandIn(const std::wstring& folder, unsigned holdMilliseconds);
    ~ScannerStandIn() { stop(); }
    ScannerStandIn(const ScannerStandIn&) = delete;
    ScannerStandIn& operator=(const ScannerStandIn&) = delete;

    // Ends it, and with it every hold; the full paths of the files it held, one per hold.
    std::vector<std::wstring> stop();

private:
    KernelHandle process_;
    FileHandle input_;     // its standard input: closing it ends it
    FileHandle output_;    // what it says, read by reader_ into held_ and complaints_
    std::thread reader_;
    std::vector<std::wstring> held_;
    std::vector<std::wstring> complaints_;
};
