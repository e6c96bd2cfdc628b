#include "codec_worker.h"

#include "codec.h"
#include "picture.h"
#include "resources.h"
#include "temporary_files.h"
#include "worker_protocol.h"

#include <bcrypt.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

// Longest the worker may take to decode one file, where hostile bytes can stall a decoder:
// a stuck file holds a run for one minute at most. The largest picture Vorandel decodes,
// 100 megapixels, decodes in seconds. Its encoding, of pixels already decoded, then gets this
// much again and as much once more for every 15 megapixels: on a loaded 2-core machine a
// 100-megapixel picture took 124 s to WEBP and over 160 s to GIF. An animation's or a TIFF's
// frames are decoded, composed and encoded one after another, and count together. Not in any
// header: tests shorten it.
DWORD g_codecFileTimeLimitMs = 60000;

namespace {

// How long a file in the worker may still finish once the program is closing.
constexpr DWORD kCloseGraceMs = 2000;
// What the worker may commit: a conversion of the largest picture, 100 megapixels, peaks at
// about 1.5 GB (to WebP with alpha); beyond the limit a decoder is running away, and the
// machine is left alone.
constexpr SIZE_T kWorkerMemoryLimit = SIZE_T{2} << 30;
constexpr DWORD kPipeBufferBytes = 64 * 1024;
constexpr unsigned long long kPixelsPerEncodingLimit = 15ull * 1000 * 1000;

// ---- The worker's side.

LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) {
    // A decoder that faulted leaves nothing worth keeping: no report, no debugger.
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool ReadExactly(HANDLE pipe, uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
        DWORD got = 0;
        if (!ReadFile(pipe, data + done, static_cast<DWORD>(size - done), &got, nullptr) || got == 0)
            return false;
        done += got;
    }
    return true;
}

// True when pipe is the one the program that started this process made: the secret that the
// command line names is waiting in it already, so nothing here ever waits.
bool IsFromParent(HANDLE pipe, const WorkerSecret& secret) {
    DWORD available = 0;
    if (GetFileType(pipe) != FILE_TYPE_PIPE ||
        !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) ||
        available < secret.size())
        return false;
    WorkerSecret received{};
    return ReadExactly(pipe, received.data(), received.size()) && received == secret;
}

bool Convert(HANDLE pipe, const CodecRequest& request) {
    auto decoded = [pipe](unsigned long long pixels) {
        if (pixels < kReportDecodedFromPixels) return;
        uint8_t message[1 + kPixelCountBytes] = {kAnswerDecoded};
        EncodePixelCount(pixels, message + 1);
        DWORD written = 0;
        WriteFile(pipe, message, sizeof message, &written, nullptr);
    };
    // The program's file, which this copy of its handle must not outlive.
    FileHandle output(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(request.output)));
    try {
        return ConvertImageInto(request.inputPath, output.get(), request.mimeType,
                                request.quality, decoded);
    } catch (...) {  // out of memory inside the codec: this file fails, the worker goes on
        return false;
    }
}

// Reads one request. The program sends each in one piece and nothing more before its
// answer, so one read mostly takes it all and no read takes more than it.
bool ReadRequest(HANDLE pipe, std::vector<uint8_t>& bytes, CodecRequest& request) {
    bytes.resize(kPipeBufferBytes);
    size_t have = 0;
    for (;;) {
        uint32_t length = 0;
        if (have >= kLengthBytes) {
            if (!DecodeRequestLength(bytes.data(), length) || have > kLengthBytes + length)
                return false;
            if (have == kLengthBytes + length)
                return DecodeRequestBody(bytes.data() + kLengthBytes, length, request);
            if (bytes.size() < kLengthBytes + length) bytes.resize(kLengthBytes + length);
        }
        DWORD got = 0;
        if (!ReadFile(pipe, bytes.data() + have, static_cast<DWORD>(bytes.size() - have), &got,
                      nullptr) ||
            got == 0)
            return false;
        have += got;
    }
}

// Answers requests until the program closes the pipe or breaks the protocol.
void Serve(HANDLE pipe) {
    std::vector<uint8_t> bytes;
    for (;;) {
        CodecRequest request;
        if (!ReadRequest(pipe, bytes, request)) return;
        uint8_t answer = Convert(pipe, request) ? kAnswerConverted : kAnswerFailed;
        DWORD written = 0;
        if (!WriteFile(pipe, &answer, 1, &written, nullptr) || written != 1) return;
    }
}

// ---- The program's side. Only the run thread uses it, one run at a time.

struct Worker {
    KernelHandle process;
    KernelHandle job;
    FileHandle pipe;
    KernelHandle transferDone;
};
Worker g_worker;

// Milliseconds this machine has been awake: a laptop that sleeps during a file has not spent
// that time on it. Waits count the same way from Windows 8 on.
ULONGLONG AwakeMs() {
    ULONGLONG hundredNs = 0;
    QueryUnbiasedInterruptTime(&hundredNs);
    return hundredNs / 10000;
}

struct Deadline {
    ULONGLONG at;
    HANDLE stop;  // null when there is none, or once the program's close has been seen
    bool closing = false;
    // From now, at most limitMs more; a close already seen keeps its shorter grace.
    void Allow(ULONGLONG limitMs) {
        if (!closing) at = AwakeMs() + limitMs;
    }
};

bool WorkerRunning() {
    return g_worker.process && WaitForSingleObject(g_worker.process.get(), 0) == WAIT_TIMEOUT;
}

void ForgetWorker() {
    g_worker.pipe.close();
    g_worker.job.reset();  // ends the worker if it still runs
    g_worker.process.reset();
}

void TerminateWorker() {
    TerminateProcess(g_worker.process.get(), 1);
    WaitForSingleObject(g_worker.process.get(), 5000);
}

// Waits for the pending transfer; false when the worker ended, the time ran out, or the
// program is closing and the grace has passed.
bool AwaitTransfer(Deadline& deadline) {
    for (;;) {
        ULONGLONG now = AwakeMs();
        if (now >= deadline.at) return false;
        HANDLE handles[] = {g_worker.transferDone.get(), g_worker.process.get(), deadline.stop};
        DWORD woken = WaitForMultipleObjects(deadline.stop ? 3 : 2, handles, FALSE,
                                             static_cast<DWORD>(deadline.at - now));
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 2) return false;
        deadline.at = std::min(deadline.at, now + kCloseGraceMs);
        deadline.stop = nullptr;
        deadline.closing = true;
    }
}

// Moves size bytes to or from the worker. On failure the worker has been ended.
bool Transfer(bool sending, uint8_t* data, size_t size, Deadline& deadline) {
    HANDLE pipe = g_worker.pipe.get();
    for (size_t done = 0; done < size;) {
        OVERLAPPED io{};
        io.hEvent = g_worker.transferDone.get();
        DWORD chunk = static_cast<DWORD>(size - done);
        BOOL immediate = sending ? WriteFile(pipe, data + done, chunk, nullptr, &io)
                                 : ReadFile(pipe, data + done, chunk, nullptr, &io);
        if (!immediate && GetLastError() != ERROR_IO_PENDING) {
            TerminateWorker();
            return false;
        }
        bool finished = immediate || AwaitTransfer(deadline);
        if (!finished) {
            TerminateWorker();
            CancelIoEx(pipe, &io);
        }
        // Also lets a cancelled transfer wind down: io must outlive it.
        DWORD moved = 0;
        BOOL ok = GetOverlappedResult(pipe, &io, &moved, TRUE);
        if (!finished || !ok || moved == 0) {
            if (finished) TerminateWorker();
            return false;
        }
        done += moved;
    }
    return true;
}

// Ends the worker with the program, whatever happens to the program, and bounds its memory.
void LimitWorkerJob(HANDLE job) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                                              JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = kWorkerMemoryLimit;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// Starts this executable as a worker that inherits client, and no other handle.
bool CreateWorkerProcess(HANDLE client, const WorkerSecret& secret, KernelHandle& process,
                         KernelHandle& thread) {
    std::vector<wchar_t> exe(32768);
    DWORD length = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (length == 0 || length >= exe.size()) return false;
    std::wstring line = WorkerCommandLine(exe.data(), reinterpret_cast<uintptr_t>(client), secret);
    std::vector<wchar_t> commandLine(line.begin(), line.end());
    commandLine.push_back(L'\0');

    SIZE_T listBytes = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listBytes);
    auto* list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(std::malloc(listBytes));
    if (!list) return false;
    if (!InitializeProcThreadAttributeList(list, 1, 0, &listBytes)) {
        std::free(list);
        return false;
    }
    AttributeListPtr attributes(list);
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &client,
                                   sizeof client, nullptr, nullptr))
        return false;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    // No "app starting" cursor: the worker shows no window that would end it.
    startup.StartupInfo.dwFlags = STARTF_FORCEOFFFEEDBACK;
    startup.lpAttributeList = list;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(exe.data(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT,
                        nullptr, nullptr, &startup.StartupInfo, &created))
        return false;
    process.reset(created.hProcess);
    thread.reset(created.hThread);
    return true;
}

bool StartWorker() {
    ForgetWorker();
    if (!g_worker.transferDone) g_worker.transferDone.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    WorkerSecret secret{};
    if (!g_worker.transferDone ||
        BCryptGenRandom(nullptr, secret.data(), static_cast<ULONG>(secret.size()),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return false;

    static std::atomic<unsigned> started{0};
    std::wstring name = L"\\\\.\\pipe\\vorandel-codec-" + std::to_wstring(GetCurrentProcessId()) +
                        L"-" + std::to_wstring(started++);
    // One instance, opened by this process at once: no other process can take the worker's end.
    g_worker.pipe.reset(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBufferBytes, kPipeBufferBytes, 0, nullptr));
    if (!g_worker.pipe.valid()) return false;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    FileHandle client(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable,
                                  OPEN_EXISTING, 0, nullptr));
    if (!client.valid()) return false;

    KernelHandle thread;
    g_worker.job.reset(CreateJobObjectW(nullptr, nullptr));
    if (g_worker.job) LimitWorkerJob(g_worker.job.get());
    if (!CreateWorkerProcess(client.get(), secret, g_worker.process, thread)) return false;
    // In the job before it runs an instruction. Where the program's own job forbids it, the
    // worker runs without a memory limit and is still ended on every path.
    if (g_worker.job && !AssignProcessToJobObject(g_worker.job.get(), g_worker.process.get()))
        g_worker.job.reset();
    // The secret is in the pipe before the worker looks for it.
    Deadline deadline{AwakeMs() + g_codecFileTimeLimitMs, nullptr};
    bool sent = Transfer(true, secret.data(), secret.size(), deadline);
    ResumeThread(thread.get());
    return sent;
}

// Converts inputPath into output, a file this process holds open, in the worker; true when all
// of the picture is there.
bool ConvertInto(const std::wstring& inputPath, HANDLE output, const std::wstring& mimeType,
                 int quality, HANDLE stopEvent) {
    if (!WorkerRunning() && !StartWorker()) {
        ForgetWorker();
        return false;
    }
    // The worker writes through a copy of the handle of its own, which ends with it: a worker
    // that dies or is ended holds nothing open.
    HANDLE workerOutput = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), output, g_worker.process.get(), &workerOutput, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    std::vector<uint8_t> request = EncodeRequest(
        {inputPath, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(workerOutput)), mimeType, quality});
    Deadline deadline{AwakeMs() + g_codecFileTimeLimitMs, stopEvent};
    uint8_t answer = kAnswerFailed;
    bool answered = Transfer(true, request.data(), request.size(), deadline) &&
                    Transfer(false, &answer, 1, deadline);
    if (answered && answer == kAnswerDecoded) {
        uint8_t pixels[kPixelCountBytes];
        answered = Transfer(false, pixels, sizeof pixels, deadline);
        unsigned long long count = DecodePixelCount(pixels);
        deadline.Allow(g_codecFileTimeLimitMs +
                       g_codecFileTimeLimitMs * std::min(count, kMaxFramePixels) / kPixelsPerEncodingLimit);
        answered = answered && Transfer(false, &answer, 1, deadline);
    }
    if (!answered) {
        ForgetWorker();
        return false;
    }
    return answer == kAnswerConverted;
}

}  // namespace

bool ServeAsCodecWorker() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return false;
    std::vector<std::wstring> arguments(argv, argv + count);
    LocalFree(argv);
    uint64_t handleValue = 0;
    WorkerSecret secret{};
    if (!ParseWorkerArguments(arguments, handleValue, secret)) return false;
    HANDLE pipe = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handleValue));
    if (!IsFromParent(pipe, secret)) return false;
    FileHandle owner(pipe);

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    // Without imaging every file fails, and says so.
    GdiplusSession imaging;
    Serve(pipe);
    return true;
}

Placement ConvertInCodecWorker(const std::wstring& inputPath, const std::wstring& outputPath,
                               const std::wstring& mimeType, int quality, bool replace,
                               HANDLE stopEvent) {
    // The output takes its name here, after the worker's answer: a worker that dies or runs
    // out of time never leaves a finished output behind a failure.
    TemporaryOutput output(FolderOf(outputPath));
    if (!output.valid() || !ConvertInto(inputPath, output.handle(), mimeType, quality, stopEvent))
        return Placement::Failed;
    return output.PlaceAt(inputPath, outputPath, replace);
}

void EndCodecWorker() {
    if (!g_worker.process) return;
    // A closed pipe tells an idle worker to end; one that does not is ended.
    g_worker.pipe.close();
    if (WaitForSingleObject(g_worker.process.get(), kCloseGraceMs) != WAIT_OBJECT_0)
        TerminateWorker();
    ForgetWorker();
}
