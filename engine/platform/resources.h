// One owner per kind of platform resource, so that every early return releases it.
#pragma once

#include "platform.h"

#include <shlobj.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

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

// GDI+ started for as long as this lives.
class GdiplusSession {
public:
    // As version 2, which goes with the GDI+ 1.1 functions Vorandel calls and without which
    // GDI+ keeps faults of 1.0 in its metafile drawing; as 1 where 2 is refused.
    GdiplusSession() {
        for (UINT32 version : {2u, 1u}) {
            StartupInput input;
            input.base.GdiplusVersion = version;
            started_ = GdiplusStartup(&token_, &input.base, nullptr) == Ok;
            if (started_) return;
        }
    }
    ~GdiplusSession() {
        if (started_) GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

    bool started() const { return started_; }

private:
    // The Windows SDK's GdiplusStartupInputEx, which mingw-w64 does not declare: version 2
    // reads the startup parameters after the fields of version 1 (0: the defaults).
    struct StartupInput {
        GdiplusStartupInput base;
        INT startupParameters = 0;
    };

    ULONG_PTR token_ = 0;
    bool started_ = false;
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

// A file opened with CreateFileW; INVALID_HANDLE_VALUE means none.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE handle) {
        close();
        handle_ = handle;
    }
    // Closes early, as before deleting the file; true when the handle closed cleanly.
    bool close() {
        if (handle_ == INVALID_HANDLE_VALUE) return true;
        bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

// A kernel object closed with CloseHandle whose "none" is null: a process, a thread, a job
// object or an event.
class KernelHandle {
public:
    explicit KernelHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~KernelHandle() { reset(); }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(HANDLE handle = nullptr) {
        if (handle_) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

struct AttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
        DeleteProcThreadAttributeList(list);
        std::free(list);
    }
};
// The attributes a new process is created with, such as the handles it may inherit.
using AttributeListPtr =
    std::unique_ptr<std::remove_pointer_t<LPPROC_THREAD_ATTRIBUTE_LIST>, AttributeListDeleter>;

struct WebPFreeDeleter {
    void operator()(void* block) const { WebPFree(block); }
};
// A block that libwebp allocated, such as an encoded image.
using WebPMemoryPtr = std::unique_ptr<uint8_t, WebPFreeDeleter>;

struct WebPAnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
// A libwebp animation decoder.
using WebPAnimDecoderPtr = std::unique_ptr<WebPAnimDecoder, WebPAnimDecoderDeleter>;

struct WebPAnimEncoderDeleter {
    void operator()(WebPAnimEncoder* encoder) const { WebPAnimEncoderDelete(encoder); }
};
// A libwebp animation encoder, with the frames it has encoded so far.
using WebPAnimEncoderPtr = std::unique_ptr<WebPAnimEncoder, WebPAnimEncoderDeleter>;

// A libwebp picture with the planes libwebp allocates for it, freed when the owner goes.
class WebPPictureOwner {
public:
    WebPPictureOwner() : ready_(WebPPictureInit(&picture_) != 0) {}
    ~WebPPictureOwner() { WebPPictureFree(&picture_); }
    WebPPictureOwner(const WebPPictureOwner&) = delete;
    WebPPictureOwner& operator=(const WebPPictureOwner&) = delete;

    // False when libwebp refused to set the picture up (a library of another version).
    bool ready() const { return ready_; }
    WebPPicture& get() { return picture_; }

private:
    WebPPicture picture_{};
    bool ready_;
};

// Pixels of a GDI+ bitmap locked for direct access; unlocked when the owner goes.
class BitmapBitsLock {
public:
    BitmapBitsLock(GpBitmap* bitmap, UINT width, UINT height, UINT mode, PixelFormat format)
        : BitmapBitsLock(bitmap, GpRect{0, 0, static_cast<INT>(width), static_cast<INT>(height)},
                         mode, format) {}
    // Only area: GDI+ converts, and holds a converted copy of, just what is locked.
    BitmapBitsLock(GpBitmap* bitmap, const GpRect& area, UINT mode, PixelFormat format)
        : bitmap_(bitmap) {
        locked_ = GdipBitmapLockBits(bitmap, &area, mode, format, &data_) == Ok;
    }
    ~BitmapBitsLock() {
        if (locked_) GdipBitmapUnlockBits(bitmap_, &data_);
    }
    BitmapBitsLock(const BitmapBitsLock&) = delete;
    BitmapBitsLock& operator=(const BitmapBitsLock&) = delete;

    bool locked() const { return locked_; }
    const BitmapData& data() const { return data_; }
    BYTE* row(UINT y) const {
        return static_cast<BYTE*>(data_.Scan0) + static_cast<ptrdiff_t>(y) * data_.Stride;
    }

private:
    GpBitmap* bitmap_;
    BitmapData data_{};
    bool locked_ = false;
};

struct GdipGraphicsDeleter {
    void operator()(GpGraphics* graphics) const { GdipDeleteGraphics(graphics); }
};
// A GDI+ drawing surface on an image.
using GraphicsPtr = std::unique_ptr<GpGraphics, GdipGraphicsDeleter>;

struct ComReleaseDeleter {
    void operator()(IUnknown* object) const { object->Release(); }
};
// A COM stream, such as a file held in memory.
using StreamPtr = std::unique_ptr<IStream, ComReleaseDeleter>;
// Any other COM object.
template <class Interface>
using ComPtr = std::unique_ptr<Interface, ComReleaseDeleter>;

// COM on the calling thread while this lives; a thread that has it already keeps it as it is.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

struct EnhMetafileDeleter {
    void operator()(HENHMETAFILE metafile) const { DeleteEnhMetaFile(metafile); }
};
// An enhanced metafile handle for GDI playback.
using EnhMetafilePtr = std::unique_ptr<std::remove_pointer_t<HENHMETAFILE>, EnhMetafileDeleter>;

struct MemoryDcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
// A memory device context to draw into a bitmap with GDI.
using MemoryDcPtr = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
// A GDI bitmap, such as a DIB section.
using GdiBitmapPtr = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
