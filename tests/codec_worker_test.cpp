#include "codec.h"
#include "codec_worker.h"
#include "worker_protocol.h"

#include "hostile_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

// The worker's time limit for one file; tests shorten it.
extern DWORD g_codecFileTimeLimitMs;

namespace {

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> arguments(argv, argv + count);
    LocalFree(argv);
    return arguments;
}

TEST(WorkerProtocol, RequestsSurviveTheTripAndNoMalformedOneIsTaken) {
    const CodecRequest requests[] = {
        {L"C:\\pics\\a.png", 0x2A4, L"image/jpeg", 75},
        {L"", 0, L"", 1},
        {L"Z:\\照片\\😀 e\u0301.webp", 0xFFFFFFFF00000001ull, L"image/webp", 100},
        {std::wstring(32767, L'x'), 0x123456789ABCDEF0ull, L"image/webp", 100},
    };
    for (const CodecRequest& request : requests) {
        std::vector<uint8_t> bytes = EncodeRequest(request);
        uint32_t length = 0;
        ASSERT_TRUE(DecodeRequestLength(bytes.data(), length));
        ASSERT_EQ(length, bytes.size() - kLengthBytes);
        const uint8_t* body = bytes.data() + kLengthBytes;
        CodecRequest decoded;
        ASSERT_TRUE(DecodeRequestBody(body, length, decoded));
        EXPECT_TRUE(decoded == request);
        // A body cut anywhere, or with a byte too many, is refused.
        for (uint32_t cut = 0; cut < length; cut += 1 + length / 500)
            EXPECT_FALSE(DecodeRequestBody(body, cut, decoded)) << cut;
        std::vector<uint8_t> longer(body, body + length);
        longer.push_back(0);
        EXPECT_FALSE(DecodeRequestBody(longer.data(), longer.size(), decoded));
    }
    CodecRequest decoded;
    for (CodecRequest bad : {CodecRequest{L"a", 1, L"d", 101},
                             CodecRequest{std::wstring(32768, L'x'), 1, L"d", 5}}) {
        std::vector<uint8_t> bytes = EncodeRequest(bad);
        EXPECT_FALSE(DecodeRequestBody(bytes.data() + kLengthBytes, bytes.size() - kLengthBytes,
                                       decoded));
    }
    for (uint32_t length : {0u, 3u, kMaxRequestBytes + 1, 0xFFFFFFFFu}) {
        uint8_t prefix[4] = {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                             uint8_t(length >> 24)};
        uint32_t read = 0;
        EXPECT_FALSE(DecodeRequestLength(prefix, read)) << length;
    }
}

TEST(WorkerProtocol, OnlyTheProgramsOwnCommandLineMakesAWorker) {
    WorkerSecret secret{};
    for (size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<uint8_t>(i * 17 + 3);
    std::wstring exe = L"C:\\Program Files\\照片 工具\\Vorandel.exe";
    std::vector<std::wstring> arguments = SplitCommandLine(WorkerCommandLine(exe, 0x1F4, secret));
    uint64_t handle = 0;
    WorkerSecret parsed{};
    ASSERT_TRUE(ParseWorkerArguments(arguments, handle, parsed));
    EXPECT_EQ(arguments[0], exe);
    EXPECT_EQ(handle, 0x1F4u);
    EXPECT_EQ(parsed, secret);

    const std::wstring hex = arguments[3];
    const std::vector<std::vector<std::wstring>> typed = {
        {exe},
        {exe, L"C:\\photos"},
        {exe, kWorkerSwitch},
        {exe, kWorkerSwitch, L"500"},
        {exe, kWorkerSwitch, L"500", hex, L"more"},
        {exe, L"--Vorandel-Codec-Worker", L"500", hex},
        {exe, kWorkerSwitch, L"0", hex},
        {exe, kWorkerSwitch, L"-5", hex},
        {exe, kWorkerSwitch, L"0x1F4", hex},
        {exe, kWorkerSwitch, L"99999999999999999999", hex},
        {exe, kWorkerSwitch, L"500", hex.substr(1)},
        {exe, kWorkerSwitch, L"500", hex + L"0"},
        {exe, kWorkerSwitch, L"500", std::wstring(32, L'G')},
        {exe, kWorkerSwitch, L"500", std::wstring(32, L'A')},
    };
    for (const std::vector<std::wstring>& line : typed)
        EXPECT_FALSE(ParseWorkerArguments(line, handle, parsed)) << line.size();
}

bool AnyTemporaryFileIn(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    SearchHandle search(FindFirstFileW((folder + L"\\vor*.tmp").c_str(), &entry));
    return search.valid();
}

class CodecWorkerTest : public ::testing::Test {
protected:
    void TearDown() override { g_codecFileTimeLimitMs = 60000; }

    bool Convert(const std::wstring& input, const std::wstring& output, HANDLE stop = nullptr) {
        return ConvertInCodecWorker(input, output, L"image/png", 90, true, stop) == Placement::Placed;
    }
    // A file whose decoding never ends (Wine 8's EMF playback), so that the worker is caught
    // in the middle whenever it is ended.
    std::wstring EndlessInput() {
        for (const DecoderBreaker& breaker : DecoderBreakers())
            if (breaker.fault == DecoderFault::Hang) {
                EXPECT_TRUE(WriteHostileFiles(dir.path(), {breaker.file}));
                return dir / breaker.file.name;
            }
        ADD_FAILURE() << "no endless file";
        return {};
    }
    TempDir dir;
};

TEST_F(CodecWorkerTest, ConvertsFileAfterFileInOneReusedWorker) {
    SaveTestImage(dir / L"a.png", L"image/png");
    SaveTestImage(dir / L"b.gif", L"image/gif");
    WriteBytes(dir / L"broken.jpg", "not a picture");
    EXPECT_TRUE(Convert(dir / L"a.png", dir / L"a.out.png"));
    EXPECT_FALSE(Convert(dir / L"broken.jpg", dir / L"broken.png"));
    EXPECT_TRUE(Convert(dir / L"b.gif", dir / L"b.png"));
    EXPECT_EQ(DecodedSize(dir / L"a.out.png"), (ImageSize{16, 12}));
    EXPECT_EQ(DecodedSize(dir / L"b.png"), (ImageSize{16, 12}));
    EXPECT_FALSE(FileExists(dir / L"broken.png"));
    EXPECT_FALSE(AnyTemporaryFileIn(dir.path()));
    EXPECT_EQ(ChildProcesses().size(), 1u) << "one worker serves every file";
}

TEST_F(CodecWorkerTest, AWorkerThatDiesCostsOneFileAndLeavesNothing) {
    SaveTestImage(dir / L"small.png", L"image/png");
    ASSERT_TRUE(Convert(dir / L"small.png", dir / L"warm.png"));  // the worker is up
    const std::wstring endless = EndlessInput();
    std::thread killer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (DWORD id : ChildProcesses()) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
            if (process) TerminateProcess(process, 9);
            if (process) CloseHandle(process);
        }
    });
    bool converted = Convert(endless, dir / L"killed.png");
    killer.join();
    EXPECT_FALSE(converted);
    EXPECT_FALSE(FileExists(dir / L"killed.png"));
    EXPECT_FALSE(AnyTemporaryFileIn(dir.path()));
    EXPECT_TRUE(Convert(dir / L"small.png", dir / L"next.png")) << "a fresh worker takes over";
}

TEST_F(CodecWorkerTest, AFileOverTheTimeLimitIsEndedAndTheNextConverts) {
    const std::wstring endless = EndlessInput();
    SaveTestImage(dir / L"small.png", L"image/png");
    ASSERT_TRUE(Convert(dir / L"small.png", dir / L"warm.png"));
    g_codecFileTimeLimitMs = 500;
    EXPECT_FALSE(Convert(endless, dir / L"late.png"));
    EXPECT_FALSE(FileExists(dir / L"late.png"));
    EXPECT_FALSE(AnyTemporaryFileIn(dir.path()));
    g_codecFileTimeLimitMs = 60000;
    EXPECT_TRUE(Convert(dir / L"small.png", dir / L"after.png"));
}

TEST_F(CodecWorkerTest, AFileFinishesWithinTheGraceOfAClosingProgram) {
    SaveTestImage(dir / L"small.png", L"image/png");
    HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_TRUE(Convert(dir / L"small.png", dir / L"small.out.png", stop));
    CloseHandle(stop);
}

TEST_F(CodecWorkerTest, EndingTheWorkerEndsItsProcess) {
    SaveTestImage(dir / L"small.png", L"image/png");
    ASSERT_TRUE(Convert(dir / L"small.png", dir / L"small.out.png"));
    ASSERT_EQ(ChildProcesses().size(), 1u);
    EndCodecWorker();
    EXPECT_TRUE(ChildProcesses().empty());
    EXPECT_TRUE(Convert(dir / L"small.png", dir / L"again.png")) << "started again when needed";
}

// An editor or a sync client saves the original again and again while the worker converts it.
// Windows refuses such a save while any process maps the file (played under Wine), so the
// worker must hold no more than the bytes it read. What it converted may be any of the saves,
// or a file cut by one: a whole picture or a failure.
TEST_F(CodecWorkerTest, AnotherProcessSavesOverTheInputDuringItsConversion) {
    const std::wstring input = dir / L"edited.png";
    const ImageSize size{2400, 1800};
    SaveTestImage(input, L"image/png", size.width, size.height);
    const std::string picture = ReadBytes(input);
    std::atomic<bool> converting{true};
    int saves = 0;
    std::vector<DWORD> refusals;
    std::thread editor([&] {
        do {
            ++saves;
            DWORD error = SaveInPlace(input, picture);
            if (error != ERROR_SUCCESS) refusals.push_back(error);
        } while (converting);
    });
    const Placement placement =
        ConvertInCodecWorker(input, dir / L"out.png", L"image/png", 90, true, nullptr);
    converting = false;
    editor.join();
    EXPECT_TRUE(refusals.empty()) << refusals.size() << " of " << saves
                                  << " saves refused, the first with error " << refusals.front();
    EXPECT_EQ(ReadBytes(input), picture) << "the editor's last save is not whole";
    if (placement == Placement::Placed) {
        EXPECT_EQ(DecodedSize(dir / L"out.png"), size);
    }
    EXPECT_FALSE(AnyTemporaryFileIn(dir.path()));
    std::printf("%d saves during the conversion, which %s\n", saves,
                placement == Placement::Placed ? "converted" : "failed");
}

// The hostile runs expect a failure from every breaker whose fault is certain: each must fail
// in a fresh worker every time (VORANDEL_LARGE=1 tries each 50 times). A hang ends the worker;
// Wine 8's ICO decoder would fault on the crasher, which the header guard now refuses first.
TEST_F(CodecWorkerTest, CertainBreakersFailInEveryFreshWorker) {
    const int tries = LargeRun() ? 50 : 1;
    for (const DecoderBreaker& breaker : DecoderBreakers()) {
        if (breaker.fault == DecoderFault::WildWrite) continue;
        const std::string name(breaker.file.name.begin(), breaker.file.name.end());
        SCOPED_TRACE(name);
        ASSERT_TRUE(WriteHostileFiles(dir.path(), {breaker.file}));
        // Long enough for a worker's start; a hang is ended by it.
        g_codecFileTimeLimitMs = breaker.fault == DecoderFault::Hang ? 10000 : 60000;
        int failed = 0;
        int ended = 0;
        for (int i = 0; i < tries; ++i) {
            EndCodecWorker();
            failed += !Convert(dir / breaker.file.name, dir / L"out.png");
            // A worker that answered is still there; one that faulted or was ended is gone.
            ended += ChildProcesses().empty();
        }
        std::printf("%s: failed %d of %d times, the worker gone %d times\n", name.c_str(), failed,
                    tries, ended);
        EXPECT_EQ(failed, tries);
        if (breaker.fault == DecoderFault::Hang) {
            EXPECT_EQ(ended, tries);
        }
        EXPECT_FALSE(FileExists(dir / L"out.png"));
        EXPECT_FALSE(AnyTemporaryFileIn(dir.path()));
    }
}

// Not a test: what handing a file to the worker adds to converting it in this process.
// The two take turns batch by batch over the same small files, so that the machine's load
// falls on both alike, and the median of the paired differences is what is printed. Both
// sides create one temporary file per output; what the worker adds is the request, the
// answer and its opening of that file.
TEST(CodecWorkerMeasure, DISABLED_HandOverCostPerFile) {
    TempDir dir;
    const int files = 50;
    const int rounds = 15;
    for (int i = 0; i < files; ++i)
        SaveTestImage(dir / (L"in" + std::to_wstring(i) + L".png"), L"image/png", 32, 24);
    ASSERT_EQ(ConvertInCodecWorker(dir / L"in0.png", dir / L"warm.bmp", L"image/bmp", 90, true, nullptr),
              Placement::Placed);
    auto batch = [&](bool inWorker) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < files; ++i) {
            std::wstring in = dir / (L"in" + std::to_wstring(i) + L".png");
            std::wstring out = dir / (L"out" + std::to_wstring(i) + L".bmp");
            DeleteFileW(out.c_str());
            bool ok = inWorker ? ConvertInCodecWorker(in, out, L"image/bmp", 90, true, nullptr) ==
                                     Placement::Placed
                               : ConvertImageFile(in, out, L"image/bmp", 90);
            EXPECT_TRUE(ok);
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                   .count() / files;
    };
    std::vector<double> here, worker, added;
    for (int round = 0; round < rounds; ++round) {
        const bool workerFirst = round % 2 != 0;
        double first = batch(workerFirst);
        double second = batch(!workerFirst);
        here.push_back(workerFirst ? second : first);
        worker.push_back(workerFirst ? first : second);
        added.push_back(worker.back() - here.back());
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::sort(added.begin(), added.end());
    std::printf("32x24 PNG to BMP, medians of %d rounds of %d files: in process %.3f ms/file, in the "
                "worker %.3f ms/file; the hand-over adds %.3f ms/file (quartiles %.3f to %.3f)\n",
                rounds, files, median(here), median(worker), median(added), added[rounds / 4],
                added[rounds * 3 / 4]);
}

// Not a test: how long the largest picture Vorandel decodes takes in the worker, against
// which the worker's time limit is chosen.
TEST(CodecWorkerMeasure, DISABLED_LargestPictureTime) {
    TempDir dir;
    SaveTestImage(dir / L"large.jpg", L"image/jpeg", 10000, 10000);
    for (const wchar_t* mimeType : {L"image/jpeg", L"image/png", L"image/webp", L"image/gif"}) {
        auto start = std::chrono::steady_clock::now();
        bool ok = ConvertInCodecWorker(dir / L"large.jpg", dir / L"large.out", mimeType, 90, true,
                                       nullptr) == Placement::Placed;
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("100 megapixels to %ls: %s in %.1f s\n", mimeType, ok ? "converted" : "FAILED",
                    seconds);
    }
}

}  // namespace

