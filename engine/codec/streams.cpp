#include "streams.h"

#include "files.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// One stream class for all kinds: over the file when there is one, else over bytes that grow
// as they are written when there are such, else over fixed bytes that are only read.
class CodecStream final : public IStream {
public:
    CodecStream(const uint8_t* data, size_t size, HANDLE file, std::vector<uint8_t>* grown)
        : data_(data), size_(size), file_(file), grown_(grown) {}

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
            size_t left = position_ < Size() ? Size() - position_ : 0;
            done = static_cast<ULONG>(std::min<size_t>(count, left));
            if (done > 0) std::memcpy(buffer, Bytes() + position_, done);
            position_ += done;
        } else if (!ReadFile(file_, buffer, count, &done, nullptr)) {
            return STG_E_READFAULT;
        }
        if (read) *read = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
        if (written) *written = 0;
        if (grown_ != nullptr) {
            if (count > 0 && !Grow(position_ + count)) return STG_E_MEDIUMFULL;
            if (count > 0) std::memcpy(grown_->data() + position_, buffer, count);
            position_ += count;
        } else if (file_ == nullptr) {
            return STG_E_ACCESSDENIED;
        } else if (!WriteAll(file_, static_cast<const uint8_t*>(buffer), count)) {
            return STG_E_WRITEFAULT;
        }
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
                         : origin == STREAM_SEEK_END ? static_cast<long long>(Size())
                                                     : -1;
        if (base < 0 || base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(base + move.QuadPart);
        if (at) at->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
        if (grown_ != nullptr) {
            if (size.QuadPart > grown_->max_size()) return STG_E_MEDIUMFULL;
            size_t wanted = static_cast<size_t>(size.QuadPart);
            if (wanted < grown_->size()) grown_->resize(wanted);
            return Grow(wanted) ? S_OK : STG_E_MEDIUMFULL;
        }
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
            stat->cbSize.QuadPart = Size();
            stat->grfMode = grown_ != nullptr ? STGM_READWRITE : STGM_READ;
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
        // A file or growing bytes have one position or end, which two streams would share.
        if (file_ != nullptr || grown_ != nullptr) return E_NOTIMPL;
        auto* clone = new (std::nothrow) CodecStream(data_, size_, nullptr, nullptr);
        if (clone == nullptr) return E_OUTOFMEMORY;
        clone->position_ = position_;
        *copy = clone;
        return S_OK;
    }

private:
    ~CodecStream() = default;

    const uint8_t* Bytes() const { return grown_ != nullptr ? grown_->data() : data_; }
    size_t Size() const { return grown_ != nullptr ? grown_->size() : size_; }
    // Zeroes what a seek past the end skipped, as a file would read it.
    bool Grow(size_t size) {
        if (size <= grown_->size()) return true;
        try {
            grown_->resize(size);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    LONG refs_ = 1;
    const uint8_t* data_;
    size_t size_;
    HANDLE file_;
    std::vector<uint8_t>* grown_;
    size_t position_ = 0;
};

}  // namespace

StreamPtr StreamOverBytes(const uint8_t* data, size_t size) {
    return StreamPtr(new (std::nothrow) CodecStream(data, size, nullptr, nullptr));
}

StreamPtr StreamOverFile(HANDLE file) {
    return StreamPtr(new (std::nothrow) CodecStream(nullptr, 0, file, nullptr));
}

StreamPtr StreamIntoBytes(std::vector<uint8_t>& bytes) {
    return StreamPtr(new (std::nothrow) CodecStream(nullptr, 0, nullptr, &bytes));
}
