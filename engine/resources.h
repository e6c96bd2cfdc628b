// One owner per kind of platform resource, so that every early return releases it.
#pragma once

#include "platform.h"

#include <shlobj.h>

#include <cstdlib>
#include <memory>

// A directory search started with FindFirstFileW; INVALID_HANDLE_VALUE means none.
class SearchHandle {
public:
    explicit SearchHandle(HANDLE handle) : handle_(handle) {}
    ~SearchHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }
    SearchHandle(const SearchHandle&) = delete;
    SearchHandle& operator=(const SearchHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

struct GdipImageDeleter {
    void operator()(GpImage* image) const { GdipDisposeImage(image); }
};
// A decoded GDI+ image (bitmap or metafile).
using ImagePtr = std::unique_ptr<GpImage, GdipImageDeleter>;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
// A block from the C runtime heap.
template <typename T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

struct CoTaskMemDeleter {
    void operator()(void* block) const { CoTaskMemFree(block); }
};
// A shell item list as the folder picker returns it.
using ItemListPtr = std::unique_ptr<ITEMIDLIST, CoTaskMemDeleter>;
