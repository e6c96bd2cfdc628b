#include "streams.h"

#include "files.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// One stream class for both kinds: over bytes when file is null, over the file otherwise.
class CodecStream final : public IStream {
public:
    CodecStream(const uint8_t* data, size_t size, HANDLE file)
        : data_(data), size_(size), file_(file) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) ||
            IsEqualIID(iid, IID_IStream)) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override {
        ULONG done = 0;
        if (file_ == nullptr) {
            size_t left = position_ < size_ ? size_ - position_ : 0;
            done = static_cast<ULONG>(std::min<size_t>(count, left));
            if (done > 0) std::memcpy(buffer, data_ + position_, done);
            position_ += done;
        } else if (!ReadFile(file_, buffer, count, &done, nullptr)) {
            return STG_E_READFAULT;
        }
        if (read) *read = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
        if (written) *written = 0;
        if (file_ == nullptr) return STG_E_ACCESSDENIED;
        if (!WriteAll(file_, static_cast<const uint8_t*>(buffer), count)) return STG_E_WRITEFAULT;
        if (written) *written = count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
        if (file_ != nullptr) {
            LARGE_INTEGER now;
            if (!SetFilePointerEx(file_, move, &now, origin)) return STG_E_INVALIDFUNCTION;
            if (at) at->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
            return S_OK;
        }
        long long base = origin == STREAM_SEEK_SET ? 0
                         : origin == STREAM_SEEK_CUR ? static_cast<long long>(position_)
                         : origin == STREAM_SEEK_END ? static_cast<long long>(size_)
                                                     : -1;
        if (base < 0 || base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(base + move.QuadPart);
        if (at) at->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        if (file_ == nullptr) return STG_E_ACCESSDENIED;
        LARGE_INTEGER here{};
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size.QuadPart);
        if (!SetFilePointerEx(file_, LARGE_INTEGER{}, &here, FILE_CURRENT) ||
            !SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file_) ||
            !SetFilePointerEx(file_, here, nullptr, FILE_BEGIN))
            return STG_E_MEDIUMFULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return E_POINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        if (file_ == nullptr) {
            stat->cbSize.QuadPart = size_;
            stat->grfMode = STGM_READ;
            return S_OK;
        }
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file_, &size)) return STG_E_ACCESSDENIED;
        stat->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        stat->grfMode = STGM_READWRITE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override {
        if (copy == nullptr) return E_POINTER;
        *copy = nullptr;
        // A file has one position, which two streams would share.
        if (file_ != nullptr) return E_NOTIMPL;
        auto* clone = new (std::nothrow) CodecStream(data_, size_, nullptr);
        if (clone == nullptr) return E_OUTOFMEMORY;
        clone->position_ = position_;
        *copy = clone;
        return S_OK;
    }

private:
    ~CodecStream() = default;

    LONG refs_ = 1;
    const uint8_t* data_;
    size_t size_;
    HANDLE file_;
    size_t position_ = 0;
};

}  // namespace

StreamPtr StreamOverBytes(const uint8_t* data, size_t size) {
    return StreamPtr(new (std::nothrow) CodecStream(data, size, nullptr));
}

StreamPtr StreamOverFile(HANDLE file) {
    return StreamPtr(new (std::nothrow) CodecStream(nullptr, 0, file));
}
