// Stands in for an antivirus scanner, a sync or an indexing client: it watches a folder and
// everything below it and opens each new, renamed-to or changed file for a moment, sharing it
// only for reading, so that nobody can write, rename or delete the file meanwhile.
//
//   scanner_standin <folder> <holdMilliseconds>
//
// A file still held by its writer cannot be opened yet; it is tried again every few
// milliseconds, as a scanner scans a file once it is closed, and given up after a second.
// On the standard output it says "watching <folder>" once it watches, so that a test knows
// that what it writes next is new, and then "held <path>" for each file it held. It ends,
// closing every handle, when its standard input ends: a test stops it by closing a pipe.
#include "resources.h"

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <list>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
constexpr ULONGLONG kRetryMs = 5;
constexpr ULONGLONG kGiveUpMs = 1000;
// Under Wine, what a host program makes in a folder it has just made can go unreported (Wine
// watches a new folder only once it has seen it made), and changes are reported late: the
// tree is also read this often, and whenever the system lost changes.
constexpr ULONGLONG kPollMs = 100;

struct FileState {
    ULONGLONG size = 0;
    ULONGLONG written = 0;
    bool operator!=(const FileState& other) const {
        return size != other.size || written != other.written;
    }
};

ULONGLONG Combined(DWORD high, DWORD low) { return (static_cast<ULONGLONG>(high) << 32) | low; }

// From a folder's listing, a file's attributes or an open handle: they carry the same fields.
template <typename Information>
FileState StateOf(const Information& file) {
    return {Combined(file.nFileSizeHigh, file.nFileSizeLow),
            Combined(file.ftLastWriteTime.dwHighDateTime, file.ftLastWriteTime.dwLowDateTime)};
}

struct HeldFile {
    HeldFile(std::wstring filePath, HANDLE handle, ULONGLONG releaseAt)
        : path(std::move(filePath)), file(handle), until(releaseAt) {}
    std::wstring path;
    FileHandle file;
    ULONGLONG until;
};

struct Scanner {
    std::wstring folder;
    ULONGLONG holdMs = 0;
    std::map<std::wstring, FileState> seen;     // every file below folder, as last read or held
    std::map<std::wstring, ULONGLONG> waiting;  // not opened yet: when to give it up
    std::list<HeldFile> held;
    ULONGLONG nextPoll = 0;
};

void Say(const std::wstring& what, const std::wstring& path) {
    const std::wstring line = what + L" " + path + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()),
              &written, nullptr);
}

bool IsHeld(const Scanner& scanner, const std::wstring& path) {
    for (const HeldFile& held : scanner.held)
        if (held.path == path) return true;
    return false;
}

// A file already waiting or held is not taken twice: while held, nobody can change it.
void Queue(Scanner& scanner, const std::wstring& path, ULONGLONG now) {
    if (!scanner.waiting.count(path) && !IsHeld(scanner, path))
        scanner.waiting[path] = now + kGiveUpMs;
}

// Wine reports a change late, often after the tree was read or the file held: a file as it
// was already taken is not taken again.
void NoticeChanges(Scanner& scanner, const BYTE* buffer, ULONGLONG now) {
    for (const BYTE* at = buffer;;) {
        const auto* change = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
        const DWORD action = change->Action;
        const std::wstring path =
            scanner.folder + L"\\" +
            std::wstring(change->FileName, change->FileNameLength / sizeof(wchar_t));
        WIN32_FILE_ATTRIBUTE_DATA current;
        if ((action == FILE_ACTION_ADDED || action == FILE_ACTION_MODIFIED ||
             action == FILE_ACTION_RENAMED_NEW_NAME) &&
            GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &current) &&
            !(current.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const FileState state = StateOf(current);
            auto earlier = scanner.seen.find(path);
            if (earlier == scanner.seen.end() || earlier->second != state) {
                scanner.seen[path] = state;
                Queue(scanner, path, now);
            }
        }
        if (change->NextEntryOffset == 0) break;
        at += change->NextEntryOffset;
    }
}

// Reads the whole tree and takes what is new or changed since it was last seen; the first
// reading only learns what is there.
void Poll(Scanner& scanner, ULONGLONG now, bool take) {
    std::map<std::wstring, FileState> seen;
    std::vector<std::wstring> folders{scanner.folder};
    while (!folders.empty()) {
        const std::wstring folder = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAW entry;
        SearchHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
        if (!search.valid()) continue;
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            // A linked folder is not followed: it could lead back into the tree.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    folders.push_back(path);
                continue;
            }
            const FileState state = StateOf(entry);
            auto earlier = scanner.seen.find(path);
            if (take && (earlier == scanner.seen.end() || earlier->second != state))
                Queue(scanner, path, now);
            seen[path] = state;
        } while (FindNextFileW(search.get(), &entry));
    }
    scanner.seen.swap(seen);
    scanner.nextPoll = now + kPollMs;
}

// Opens what can be opened now; a folder, a file gone or one still held past its second is
// given up.
void OpenWaiting(Scanner& scanner, ULONGLONG now) {
    for (auto next = scanner.waiting.begin(); next != scanner.waiting.end();) {
        const std::wstring& path = next->first;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        bool done =
            attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (!done) {
            HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            done = file != INVALID_HANDLE_VALUE || now >= next->second;
            if (file != INVALID_HANDLE_VALUE) {
                scanner.held.emplace_back(path, file, now + scanner.holdMs);
                // Held as it is now: the next reading of the tree must not take it for changed.
                BY_HANDLE_FILE_INFORMATION information;
                if (GetFileInformationByHandle(file, &information))
                    scanner.seen[path] = StateOf(information);
                Say(L"held", path);
            }
        }
        next = done ? scanner.waiting.erase(next) : std::next(next);
    }
}

void ReleaseDue(Scanner& scanner, ULONGLONG now) {
    scanner.held.remove_if([now](const HeldFile& held) { return held.until <= now; });
}

DWORD MillisecondsToWait(const Scanner& scanner, ULONGLONG now) {
    ULONGLONG wake = scanner.nextPoll;
    if (!scanner.waiting.empty()) wake = std::min(wake, now + kRetryMs);
    for (const HeldFile& held : scanner.held) wake = std::min(wake, held.until);
    return static_cast<DWORD>(wake > now ? wake - now : 0);
}

// The folder opened for watching, with a request for its changes made.
struct Watch {
    FileHandle folder;
    KernelHandle changed;
    std::vector<DWORD> buffer = std::vector<DWORD>(16 * 1024);  // DWORD-aligned, as asked
    OVERLAPPED overlapped{};
    bool listening = false;
};

bool Listen(Watch& watch) {
    ResetEvent(watch.changed.get());
    watch.overlapped.hEvent = watch.changed.get();
    watch.listening =
        ReadDirectoryChangesW(watch.folder.get(), watch.buffer.data(),
                              static_cast<DWORD>(watch.buffer.size() * sizeof(DWORD)), TRUE,
                              kChanges, nullptr, &watch.overlapped, nullptr) != 0;
    return watch.listening;
}

bool StartWatching(Watch& watch, const std::wstring& folder) {
    watch.folder.reset(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                   nullptr));
    watch.changed.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return watch.folder.valid() && watch.changed && Listen(watch);
}

// The system writes into the buffer until the request has ended.
void StopWatching(Watch& watch) {
    DWORD bytes = 0;
    if (watch.listening && CancelIo(watch.folder.get()))
        GetOverlappedResult(watch.folder.get(), &watch.overlapped, &bytes, TRUE);
    watch.listening = false;
}

// Holds what changes until stop is set; once the folder cannot be watched any more (removed),
// the tree is only read.
void Scan(Scanner& scanner, Watch& watch, HANDLE stop) {
    const HANDLE events[] = {stop, watch.changed.get()};
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(watch.listening ? 2 : 1, events, FALSE,
                                                  MillisecondsToWait(scanner, GetTickCount64()));
        if (woke == WAIT_OBJECT_0) break;
        if (woke == WAIT_OBJECT_0 + 1) {
            DWORD bytes = 0;
            // No bytes: more changed than the buffer holds, and the tree tells what.
            if (GetOverlappedResult(watch.folder.get(), &watch.overlapped, &bytes, FALSE) &&
                bytes > 0)
                NoticeChanges(scanner, reinterpret_cast<const BYTE*>(watch.buffer.data()),
                              GetTickCount64());
            else
                scanner.nextPoll = GetTickCount64();
            Listen(watch);
        }
        if (GetTickCount64() >= scanner.nextPoll) Poll(scanner, GetTickCount64(), true);
        OpenWaiting(scanner, GetTickCount64());
        ReleaseDue(scanner, GetTickCount64());
    }
    StopWatching(watch);
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    Scanner scanner;
    wchar_t* end = nullptr;
    if (arguments && count == 3) {
        scanner.folder = arguments[1];
        scanner.holdMs = std::wcstoul(arguments[2], &end, 10);
    }
    const bool valid = end && *end == L'\0' && !scanner.folder.empty();
    LocalFree(arguments);
    if (!valid) {
        std::fputws(L"usage: scanner_standin <folder> <holdMilliseconds>\n", stderr);
        return 2;
    }
    while (scanner.folder.size() > 3 && scanner.folder.back() == L'\\') scanner.folder.pop_back();

    Watch watch;
    KernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!StartWatching(watch, scanner.folder) || !stop) {
        std::fputws(L"scanner_standin: cannot watch the folder\n", stderr);
        return 1;
    }
    // What is there before the watch began is not new.
    Poll(scanner, GetTickCount64(), false);
    Say(L"watching", scanner.folder);
    // Standard input gives no event to wait on: a thread reads it to its end.
    std::thread input([&stop] {
        char ignored[256];
        DWORD read = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), ignored, sizeof ignored, &read, nullptr) &&
               read > 0) {
        }
        SetEvent(stop.get());
    });
    Scan(scanner, watch, stop.get());
    input.join();
    return 0;  // every file still held is let go as scanner goes
}
