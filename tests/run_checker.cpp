#include "run_checker.h"

#include "output_paths.h"
#include "run_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

const std::wstring kOutputFolder = L"converted_images\\";

// When the file at path was last written; 0 when nothing is there.
unsigned long long LastWritten(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32 |
           data.ftLastWriteTime.dwLowDateTime;
}

}  // namespace

FolderContents ReadFolderContents(const std::wstring& root) {
    FolderContents contents;
    // Folders still to read, with their relative prefixes: a stack, not a call per level,
    // for trees thousands of levels deep.
    std::vector<std::pair<std::wstring, std::wstring>> folders{{root, L""}};
    while (!folders.empty()) {
        const auto [folder, prefix] = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAW entry;
        SearchHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
        if (!search.valid()) continue;
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L".." || name.rfind(L"link_", 0) == 0) continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                folders.push_back({folder + L"\\" + name, prefix + name + L"\\"});
                contents[prefix + name + L"\\"];
            } else
                contents[prefix + name] = ReadBytes(folder + L"\\" + name);
        } while (FindNextFileW(search.get(), &entry));
    }
    return contents;
}

std::vector<char> CheckRunInvariants(const RunRecord& run) {
    std::vector<char> marks;
    const size_t total = run.listed.size();
    // Without the lines, what the run wrote cannot be told from leftovers; the sources can.
    const bool matched = run.log.size() == total + 6;
    EXPECT_TRUE(matched) << "four header lines, one per file, two at the end";
    if (matched) {
        EXPECT_EQ(run.log[3], FoundLine(total));
    }

    // Outputs by their names as Windows compares them: two sources may claim one output.
    std::set<std::wstring> written;  // what the "✓" lines claim
    // Each output, by its name as Windows compares it, and its input, by its last "✓" line.
    std::map<std::wstring, std::pair<std::wstring, std::wstring>> writtenFrom;
    std::set<std::wstring> failed;
    size_t converted = 0;
    for (size_t i = 0; matched && i < total; ++i) {
        const std::wstring& file = run.listed[i];
        const std::wstring& line = run.log[4 + i];
        const std::wstring kept = run.keepStructure ? file : file.substr(file.find_last_of(L'\\') + 1);
        const std::wstring output = kOutputFolder + ReplaceExtension(kept, run.extension);
        const std::wstring where = run.source + L"\\" + output;
        if (line == FileLine(FileOutcome::Converted, file)) {
            marks.push_back('+');
            ++converted;
            written.insert(Lower(output));
            writtenFrom[Lower(where)] = {where, file};
            EXPECT_NE(DecodedSize(where), ImageSize{}) << "undecodable " << output;
        } else if (line == FileLine(FileOutcome::Failed, file)) {
            marks.push_back('x');
            failed.insert(Lower(output));
        } else if (line == FileLine(FileOutcome::Skipped, file)) {
            marks.push_back('s');
            EXPECT_TRUE(FileExists(where)) << "skipped for an output that is not there: " << output;
        } else {
            ADD_FAILURE() << "line " << i + 1 << " is not about " << file << ": " << line;
            marks.push_back('?');
        }
    }
    if (matched) {
        EXPECT_EQ(run.log[4 + total], SummaryLine(static_cast<int>(converted), total));
        EXPECT_EQ(run.log[5 + total], OutputFolderLine(OutputRootFor(run.source)));
    }

    std::set<std::wstring> changedByTest(run.changedByTest.begin(), run.changedByTest.end());
    // Each output is dated as its original was last written (the only date Wine sets).
    for (const auto& [name, claim] : writtenFrom) {
        const auto& [output, input] = claim;
        if (changedByTest.count(input)) continue;
        EXPECT_EQ(LastWritten(output), LastWritten(run.source + L"\\" + input))
            << "not dated as its original: " << output;
    }
    for (const auto& [path, bytes] : run.before) {
        if (path.rfind(kOutputFolder, 0) == 0 || changedByTest.count(path)) continue;
        auto now = run.after.find(path);
        EXPECT_TRUE(now != run.after.end() && now->second == bytes) << "source changed or gone: " << path;
    }
    for (const auto& [path, bytes] : run.after) {
        auto earlier = run.before.find(path);
        bool same = earlier != run.before.end() && earlier->second == bytes;
        if (same) continue;
        if (path.rfind(kOutputFolder, 0) != 0) {
            EXPECT_TRUE(changedByTest.count(path)) << "written outside converted_images: " << path;
            continue;
        }
        // The run makes folders for its outputs.
        if (!matched || path.back() == L'\\') continue;
        // Written or changed by the run: only what a "✓" line names, never a leftover.
        if (!written.count(Lower(path)))
            ADD_FAILURE() << (failed.count(Lower(path)) ? "a failed file left " : "not a converted output: ")
                          << path;
    }
    return marks;
}
