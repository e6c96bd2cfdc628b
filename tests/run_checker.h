// What must hold after any whole run of the program over a folder, whatever the folder
// held and however the run was driven: checked from the log, the scan's list and the files
// before and after.
#pragma once

#include <map>
#include <string>
#include <vector>

// Every file below root, by path relative to it, with its bytes, and every folder, by its
// path with a backslash after it. Entries whose names begin with "link_" are links the
// tests made and are not followed.
using FolderContents = std::map<std::wstring, std::string>;
FolderContents ReadFolderContents(const std::wstring& root);

struct RunRecord {
    std::wstring source;
    std::wstring extension;            // of the outputs, as "bmp"
    bool keepStructure = true;         // outputs in the sources' folders, or all in one
    std::vector<std::wstring> listed;  // relative paths, as the scan lists them before the run
    std::vector<std::wstring> log;     // the run's lines, from its first
    FolderContents before;
    FolderContents after;
    // Source files that the test itself changed during the run.
    std::vector<std::wstring> changedByTest;
};

// One line per listed file in list order, a summary that counts the "✓" lines, every
// "✓" output present, decodable and last written when its input was, every "跳过" output present, no "✗" output new or
// changed, no temporary file, no source file changed and nothing written outside
// converted_images. Returns each file's mark ('+' converted, 'x' failed, 's' skipped) in
// list order, or none when the lines do not match the list.
std::vector<char> CheckRunInvariants(const RunRecord& run);
