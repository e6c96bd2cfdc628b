#include "run_checker.h"

#include "output_paths.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const std::wstring kOutputFolder = L"converted_images\\";

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
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                folders.push_back({folder + L"\\" + name, prefix + name + L"\\"});
            else
                contents[prefix + name] = ReadBytes(folder + L"\\" + name);
        } while (FindNextFileW(search.get(), &entry));
    }
    return contents;
}

std::vector<char> CheckRunInvariants(const RunRecord& run) {
    std::vector<char> marks;
    const size_t total = run.listed.size();
    EXPECT_EQ(run.log.size(), total + 6) << "four header lines, one per file, two at the end";
    if (run.log.size() != total + 6) return marks;
    EXPECT_EQ(run.log[3], L"找到 " + std::to_wstring(total) + L" 个图片文件");

    std::set<std::wstring> written;  // outputs the log says were converted
    std::set<std::wstring> failed;
    size_t converted = 0;
    for (size_t i = 0; i < total; ++i) {
        const std::wstring& file = run.listed[i];
        const std::wstring& line = run.log[4 + i];
        std::wstring output = kOutputFolder + ReplaceExtension(file, run.extension);
        if (line == L"✓ " + file) {
            marks.push_back('+');
            ++converted;
            written.insert(output);
            EXPECT_NE(DecodedSize(run.source + L"\\" + output), ImageSize{}) << "undecodable " << output;
        } else if (line == L"✗ " + file + L" 转换失败") {
            marks.push_back('x');
            failed.insert(output);
        } else if (line == L"跳过 " + file + L" (文件已存在)") {
            marks.push_back('s');
        } else {
            ADD_FAILURE() << "line " << i + 1 << " is not about " << file << ": " << line;
            marks.push_back('?');
        }
    }
    EXPECT_EQ(run.log[4 + total], L"转换完成! 成功: " + std::to_wstring(converted) + L"/" +
                                      std::to_wstring(total));
    EXPECT_EQ(run.log[5 + total], L"输出目录: " + OutputRootFor(run.source));

    std::set<std::wstring> changedByTest(run.changedByTest.begin(), run.changedByTest.end());
    for (const auto& [path, bytes] : run.before) {
        if (path.rfind(kOutputFolder, 0) == 0 || changedByTest.count(path)) continue;
        auto now = run.after.find(path);
        EXPECT_TRUE(now != run.after.end() && now->second == bytes) << "source changed: " << path;
    }
    for (const auto& [path, bytes] : run.after) {
        auto earlier = run.before.find(path);
        bool same = earlier != run.before.end() && earlier->second == bytes;
        if (same) continue;
        if (path.rfind(kOutputFolder, 0) != 0) {
            EXPECT_TRUE(changedByTest.count(path)) << "written outside converted_images: " << path;
            continue;
        }
        // Written or changed by the run: only what a "✓" line names, never a leftover.
        EXPECT_TRUE(written.count(path)) << "not a converted output: " << path;
        EXPECT_FALSE(failed.count(path) && !written.count(path)) << "a failed file left " << path;
    }
    return marks;
}
