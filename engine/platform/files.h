// The one way Vorandel touches the file system. Every call takes a path as the user chose it
// and hands the platform its extended-length form, so no length limit applies; waits out
// another program's brief hold on a file (a virus scanner's, a sync client's); and falls back
// where a file system refuses a call that NTFS answers. Files are written and named through
// handles held here, never opened again by name.
#pragma once

#include "resources.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// An existing file opened for reading, shared with every other reader, writer and mover.
FileHandle OpenForReading(const std::wstring& path);

// A file or folder opened only to ask about it: its identity, its final path.
FileHandle OpenForAttributes(const std::wstring& path);

// The attributes of what is at path; INVALID_FILE_ATTRIBUTES when nothing can be read there.
DWORD ReadAttributes(const std::wstring& path);

// Makes one folder; true when it was made or something of that name exists already.
bool MakeFolder(const std::wstring& path);

// A folder opened for listing and for telling its identity.
FileHandle OpenFolder(const std::wstring& path);

// Calls each with the name and attributes of every entry of the open folder at path, "." and
// ".." left out, in the order the platform lists them, until each returns false. A file
// system that refuses the listing by handle (old network shares, some NAS and virtual
// drives) is listed by path instead. An error in the middle ends the listing with what came
// before it.
void ListFolder(HANDLE folder, const std::wstring& path,
                const std::function<bool(const std::wstring& name, DWORD attributes)>& each);

// When a file was made and when it was last written, in the platform's 100-ns units; 0
// where the file system does not tell.
struct FileDates {
    long long created = 0;
    long long written = 0;
};

// A whole input file read into memory, unless it is larger than maxBytes, and closed again.
// It is never mapped: Windows refuses other programs' saves over a mapped file and its
// deletion, so an editor or a sync client could not save the original while it converts.
// Others may go on reading, writing, renaming and deleting the file while it is read.
class InputFile {
public:
    InputFile(const std::wstring& path, unsigned long long maxBytes);

    // False when the file could not be opened, read or held in memory, or is too large.
    bool valid() const { return valid_; }
    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    // Its dates, read through the handle its bytes came through.
    const FileDates& dates() const { return dates_; }

private:
    std::vector<uint8_t> bytes_;
    FileDates dates_;
    bool valid_ = false;
};

// Gives the open file dates where they are known; false when the file system refuses.
bool SetFileDates(HANDLE file, const FileDates& dates);

// Writes all of bytes at the file's current position; false when any of it was not written.
bool WriteAll(HANDLE file, const uint8_t* bytes, size_t size);

enum class Placement { Placed, Exists, Failed };

// An output while it is written: a new file of a temporary name in the output's folder, held
// open by this program until it has its final name. Others may at most read it meanwhile, so
// no scanner can keep it from being renamed or removed. Marked for deletion from its creation
// until it takes its name, so that the file system removes it with the last handle to it even
// when this program or its codec worker is ended or crashes; removed when its owner goes,
// unless placed.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const std::wstring& folder);
    ~TemporaryOutput();
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    // False when no temporary file could be created.
    bool valid() const { return file_.valid(); }
    // Open for reading and writing; the content goes here.
    HANDLE handle() const { return file_.get(); }

    // Gives the finished file the name outputPath through the held handle and closes it.
    // Exists when replace is false and a file has that name; Failed when the output would
    // replace inputPath itself or a read-only file, or the name cannot be taken (a folder of
    // that name among the reasons).
    Placement PlaceAt(const std::wstring& inputPath, const std::wstring& outputPath, bool replace);

private:
    FileHandle file_;
};
