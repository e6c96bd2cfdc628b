// The real program's run over one folder of everything that can break a decoder: damaged
// copies of a seed per input format made by zzuf with fixed seeds (by hostile_run_test.sh,
// in VORANDEL_FUZZ_VARIANTS), the seeds themselves, files known to crash or hang the
// platform's decoders, a decompression bomb per format, and empty, cut and text files. One
// run, checked whole; the figures of the run are printed for the record. And two runs beside
// a stand-in for the scanners that hold every new file for a moment.
#include "hostile_files.h"
#include "output_paths.h"
#include "test_support.h"
#include "whole_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

// The zzuf folder's files, one folder per format, copied below folder; the seeds are named
// seed.<extension>.
void CopyVariants(const std::wstring& from, const std::wstring& to) {
    MakeDir(to);
    WIN32_FIND_DATAW found;
    SearchHandle search(FindFirstFileW((from + L"\\*").c_str(), &found));
    ASSERT_TRUE(search.valid()) << "no folder of variants";
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyVariants(from + L"\\" + name, to + L"\\" + name);
        else
            ASSERT_TRUE(CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE));
    } while (FindNextFileW(search.get(), &found));
}

bool IsSeed(const std::wstring& relative) {
    return relative.find(L"\\seed.") != std::wstring::npos;
}

size_t ConvertedCount(const WholeRunResult& run) {
    return static_cast<size_t>(
        std::count_if(run.files.begin(), run.files.end(),
                      [](const FileResult& file) { return file.outcome == FileOutcome::Converted; }));
}

}  // namespace

TEST(HostileRun, EveryFileGetsOneTruthfulLine) {
    TempDir temp;
    const std::wstring folder = temp / L"hostile";
    MakeDir(folder);
    WholeRunOptions options;
    const char* variants = std::getenv("VORANDEL_FUZZ_VARIANTS");
    if (variants && *variants) CopyVariants(HostToWindowsPath(FromUtf8(variants)), folder + L"\\zzuf");

    // Files whose only truthful line is a failure.
    const std::wstring made = folder + L"\\made";
    MakeDir(made);
    auto isCut = [](const HostileFile& file) { return file.name.rfind(kCutPrefix, 0) == 0; };
    std::vector<HostileFile> failing = DecompressionBombs();
    // A wild write may land harmlessly and a cut file may still show the part it has: for
    // those any truthful line will do.
    std::vector<HostileFile> either;
    for (const DecoderBreaker& breaker : DecoderBreakers())
        (breaker.fault == DecoderFault::WildWrite ? either : failing).push_back(breaker.file);
    for (const HostileFile& file : DamagedFiles()) (isCut(file) ? either : failing).push_back(file);
    for (const HostileFile& file : failing)
        options.expectedOutcomes[L"made\\" + file.name] = FileOutcome::Failed;
    ASSERT_TRUE(WriteHostileFiles(made, failing));
    ASSERT_TRUE(WriteHostileFiles(made, either));

    WholeRunResult run = RunAndCheckWholeRun(folder, options);
    EXPECT_TRUE(run.ended);

    int converted = 0, failed = 0, variantCount = 0;
    const FileResult* slowest = nullptr;
    for (const FileResult& file : run.files) {
        if (IsSeed(file.relativePath)) {
            EXPECT_EQ(file.outcome, FileOutcome::Converted)
                << "a seed did not convert: " << std::string(file.relativePath.begin(), file.relativePath.end());
        }
        variantCount += file.relativePath.compare(0, 5, L"zzuf\\") == 0 && !IsSeed(file.relativePath);
        converted += file.outcome == FileOutcome::Converted;
        failed += file.outcome == FileOutcome::Failed;
        if (!slowest || file.seconds > slowest->seconds) slowest = &file;
    }
    std::printf("hostile run: %zu files (%d zzuf variants), %d converted, %d failed, %.1f s in all",
                run.files.size(), variantCount, converted, failed, run.seconds);
    if (slowest)
        std::printf(", slowest %ls %.1f s", slowest->relativePath.c_str(), slowest->seconds);
    std::printf("\n");
}

// Antivirus scanners, sync and indexing clients open each new or changed file for a moment,
// sharing it only for reading: beside one, every file must still convert, an existing output
// still be replaced, and no temporary file be left.
TEST(HostileRun, EveryFileConvertsBesideAScanner) {
    TempDir temp;
    const std::wstring folder = temp / L"scanned";
    MakeDir(folder);
    constexpr size_t kFiles = 30;
    // Watching before the inputs are written, so that it holds them too as they appear.
    ScannerStandIn scanner(folder, 400);
    std::set<std::wstring> outputs;
    for (size_t i = 0; i < kFiles; ++i) {
        SaveTestImage(folder + L"\\" + std::to_wstring(i) + L".png", L"image/png");
        outputs.insert(Lower(OutputRootFor(folder) + L"\\" + std::to_wstring(i) + L".png"));
    }

    WholeRunOptions options;
    const WholeRunResult first = RunAndCheckWholeRun(folder, options);
    // The first run's outputs are replaced, and converted themselves as inputs.
    options.overwrite = true;
    const WholeRunResult second = RunAndCheckWholeRun(folder, options);
    const std::vector<std::wstring> held = scanner.stop();

    size_t outputsHeld = 0;
    for (const std::wstring& path : held) outputsHeld += outputs.erase(Lower(path));
    std::printf("beside a scanner:");
    for (const WholeRunResult* run : {&first, &second})
        std::printf(" %zu of %zu converted, %zu temporary files left;", ConvertedCount(*run),
                    run->files.size(), run->temporaries.size());
    std::printf(" files held %zu times, %zu of the first run's outputs\n", held.size(),
                outputsHeld);

    EXPECT_EQ(first.files.size(), kFiles);
    EXPECT_EQ(second.files.size(), 2 * kFiles);
    for (const WholeRunResult* run : {&first, &second}) {
        EXPECT_EQ(ConvertedCount(*run), run->files.size()) << "not every file converted";
        EXPECT_TRUE(run->temporaries.empty()) << run->temporaries.size() << " temporary files left";
    }
    EXPECT_EQ(outputsHeld, kFiles) << "the scanner did not hold every output";
}
