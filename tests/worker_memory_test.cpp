// What the codec worker commits at its peak for the largest picture Vorandel decodes, against
// the memory limit of its job (2 GiB), which Windows enforces and Wine ignores.
#include "codec_worker.h"

#include "exif_sample.h"
#include "gif_container.h"
#include "jpeg_metadata.h"
#include "png_metadata.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr UINT kSide = 10000;  // kMaxPixels as a square
constexpr SIZE_T kMiB = SIZE_T{1} << 20;
// kWorkerMemoryLimit of codec_worker.cpp: what the worker's job lets it commit.
constexpr SIZE_T kWorkerLimit = SIZE_T{2} << 30;
// The limit less a quarter of a gigabyte for what the figure under Wine cannot show: memory
// committed and never touched, and whatever Windows' GDI+ holds where Wine's does not.
constexpr SIZE_T kPeakAllowed = kWorkerLimit - (SIZE_T{1} << 28);

const wchar_t* const kOutputTypes[] = {L"image/bmp",  L"image/gif",  L"image/jpeg",
                                       L"image/png",  L"image/tiff", L"image/webp"};

// The most process has committed so far. Windows keeps that peak itself. Wine reports as
// "peak" commit the anonymous memory resident now, and zeros for a job's peaks; its peak
// working set is Linux's high-water mark of resident memory, which counts every page the
// process has touched (not one committed and never touched). The larger of the two serves
// on both.
SIZE_T PeakCommit(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return 0;
    return std::max(counters.PeakPagefileUsage, counters.PeakWorkingSetSize);
}

struct Conversion {
    bool converted = false;
    SIZE_T peak = 0;        // of the worker, 0 when it could not be read
    SIZE_T outputBytes = 0;
};

// Converts input in a worker of its own, so that the peak is this conversion's alone.
Conversion ConvertInFreshWorker(const std::wstring& input, const std::wstring& output,
                                const wchar_t* mimeType) {
    EndCodecWorker();
    DeleteFileW(output.c_str());
    Conversion result;
    result.converted =
        ConvertInCodecWorker(input, output, mimeType, 90, true, nullptr) == Placement::Placed;
    std::vector<DWORD> workers = ChildProcesses();
    if (workers.size() == 1) {
        KernelHandle worker(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, workers[0]));
        if (worker) result.peak = PeakCommit(worker.get());
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (GetFileAttributesExW(output.c_str(), GetFileExInfoStandard, &attributes))
        result.outputBytes = static_cast<SIZE_T>(
            ULARGE_INTEGER{{attributes.nFileSizeLow, attributes.nFileSizeHigh}}.QuadPart);
    EndCodecWorker();
    DeleteFileW(output.c_str());
    return result;
}

// A picture whose alpha runs from clear to opaque across it: formats without transparency
// draw it on white first.
void SaveTranslucentPng(const std::wstring& path) {
    std::vector<ARGB> argb(size_t{kSide} * kSide);
    for (UINT y = 0; y < kSide; ++y)
        for (UINT x = 0; x < kSide; ++x)
            argb[size_t{y} * kSide + x] = (x * 255 / kSide) << 24 | (y * 255 / kSide) << 16 |
                                          ((x + y) % 2 ? 0xC0u : 0x40u) << 8 | 0x80u;
    SavePixels(path, L"image/png", {kSide, kSide}, argb);
}

struct Input {
    const wchar_t* label;
    const wchar_t* name;
};
const Input kInputs[] = {{L"JPEG", L"large.jpg"}, {L"PNG with alpha", L"large.png"}};

// What a camera's photo carries: a profile, EXIF that turns the picture, XMP. The output is
// then encoded in memory, the metadata put in, and the picture turned first.
void AddMetadata(const std::wstring& path,
                 bool (*write)(std::vector<uint8_t>&, const PhotoMetadata&)) {
    PhotoMetadata metadata;
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(srgb, nullptr, &size);
    metadata.icc.resize(size);
    cmsSaveProfileToMem(srgb, &metadata.icc[0], &size);
    cmsCloseProfile(srgb);
    metadata.exif = CameraExif(false).bytes;
    metadata.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    std::string bytes = ReadBytes(path);
    std::vector<uint8_t> file(bytes.begin(), bytes.end());
    ASSERT_TRUE(write(file, metadata));
    WriteBytes(path, std::string(file.begin(), file.end()));
}

void SaveInputs(const TempDir& dir) {
    SaveTestImage(dir / kInputs[0].name, L"image/jpeg", kSide, kSide);
    AddMetadata(dir / kInputs[0].name, WriteJpegMetadata);
    SaveTranslucentPng(dir / kInputs[1].name);
    AddMetadata(dir / kInputs[1].name, WritePngMetadata);
}

// Not a test: the worker's peak commit for a 100-megapixel picture to every output format,
// each in a fresh worker, and what an idle worker holds after a small conversion.
TEST(WorkerMemoryMeasure, DISABLED_PeakCommitOfTheLargestPicture) {
    TempDir dir;
    SaveTestImage(dir / L"small.png", L"image/png");
    Conversion idle = ConvertInFreshWorker(dir / L"small.png", dir / L"small.bmp", L"image/bmp");
    std::printf("a worker after a 16 x 12 picture: %zu MiB\n", idle.peak / kMiB);
    SaveInputs(dir);
    std::printf("%-16s %-11s %9s %9s %9s\n", "100 MP from", "to", "peak MiB", "out MiB",
                "sum MiB");
    for (const Input& input : kInputs)
        for (const wchar_t* mimeType : kOutputTypes) {
            Conversion c = ConvertInFreshWorker(dir / input.name, dir / L"large.out", mimeType);
            std::printf("%-16ls %-11ls %9zu %9zu %9zu%s\n", input.label, mimeType, c.peak / kMiB,
                        c.outputBytes / kMiB, (c.peak + c.outputBytes) / kMiB,
                        c.converted ? "" : "  FAILED");
            std::fflush(stdout);
        }
}

// A GIF of frames of side x side, each of five pictures in turn, so that no frame is its
// predecessor's; with one frame, the first picture alone.
void SaveAnimation(const std::wstring& path, UINT side, int frames) {
    std::vector<uint8_t> animation = GifAnimationHead(static_cast<uint16_t>(side),
                                                      static_cast<uint16_t>(side), 0);
    std::vector<std::vector<uint8_t>> singles;
    for (UINT picture = 0; picture < 5; ++picture) {
        std::vector<ARGB> argb(size_t{side} * side);
        for (UINT y = 0; y < side; ++y)
            for (UINT x = 0; x < side; ++x)
                argb[size_t{y} * side + x] = 0xFF000000u | ((x + picture * 40) % 256) << 16 |
                                             (y % 256) << 8 | ((x ^ y) * (picture + 1) % 256);
        SavePixels(path, L"image/gif", {side, side}, argb);
        std::string bytes = ReadBytes(path);
        singles.emplace_back(bytes.begin(), bytes.end());
    }
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t>& single = singles[static_cast<size_t>(i) % singles.size()];
        ASSERT_TRUE(AppendGifFrame(animation, single.data(), single.size(), 0, 0, 40, -1,
                                   GifDisposal::Keep));
    }
    animation.push_back(kGifTrailer);
    WriteBytes(path, std::string(animation.begin(), animation.end()));
}

// Not a test: the worker's peak for a GIF of 500 frames of a megapixel each against that for
// its first frame alone, to the formats that keep every frame. Frames come and go one after
// another, so the two should differ by what the encoder keeps of the frames it has encoded.
TEST(WorkerMemoryMeasure, DISABLED_PeakCommitOfAnAnimation) {
    TempDir dir;
    SaveAnimation(dir / L"one.gif", 1000, 1);
    SaveAnimation(dir / L"many.gif", 1000, 500);
    std::printf("500 frames of 1000 x 1000: %zu MiB of GIF\n", ReadBytes(dir / L"many.gif").size() / kMiB);
    std::printf("%-11s %14s %14s %9s\n", "to", "1 frame MiB", "500 frames MiB", "out MiB");
    for (const wchar_t* mimeType : {L"image/webp", L"image/gif", L"image/tiff"}) {
        Conversion one = ConvertInFreshWorker(dir / L"one.gif", dir / L"one.out", mimeType);
        Conversion many = ConvertInFreshWorker(dir / L"many.gif", dir / L"many.out", mimeType);
        std::printf("%-11ls %14zu %14zu %9zu%s\n", mimeType, one.peak / kMiB, many.peak / kMiB,
                    many.outputBytes / kMiB, one.converted && many.converted ? "" : "  FAILED");
        std::fflush(stdout);
    }
}

// The largest picture converts to every format within the worker's limit with a margin, even
// with the encoded output held in memory besides, as it is before being written in one piece.
TEST(WorkerMemory, TheLargestPictureStaysWithinTheLimitInEveryFormat) {
    if (!LargeRun()) GTEST_SKIP() << "set VORANDEL_LARGE=1 for the large run";
    TempDir dir;
    SaveInputs(dir);
    for (const Input& input : kInputs)
        for (const wchar_t* mimeType : kOutputTypes) {
            Conversion c = ConvertInFreshWorker(dir / input.name, dir / L"large.out", mimeType);
            SCOPED_TRACE(testing::Message() << input.label << " to " << mimeType << ": peak "
                                            << c.peak / kMiB << " MiB, output "
                                            << c.outputBytes / kMiB << " MiB");
            ASSERT_TRUE(c.converted);
            ASSERT_GT(c.peak, 0u);
            // Wine's TIFF encoder holds twice the file it writes, uncompressed: the limit alone.
            const bool wineTiff = RunningUnderWine() && std::wstring(mimeType) == L"image/tiff";
            EXPECT_LE(c.peak + c.outputBytes, wineTiff ? kWorkerLimit : kPeakAllowed);
        }
}

}  // namespace
