// The memory stream.
#include <bxplatform/com_stream.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

namespace bx::com {

namespace {

class MemoryStream final : public RefCounted<IStream> {
public:
    explicit MemoryStream(std::shared_ptr<std::string> bytes) : bytes_(std::move(bytes)) {}

    HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
        if (buffer == nullptr && count > 0) return E_POINTER;
        const size_t available = position_ < bytes_->size() ? bytes_->size() - position_ : 0;
        const size_t n = std::min<size_t>(count, available);
        if (n > 0) std::memcpy(buffer, bytes_->data() + position_, n);
        position_ += n;
        if (read) *read = static_cast<ULONG>(n);
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Write(const void* buffer, ULONG count, ULONG* written) override {
        if (buffer == nullptr && count > 0) return E_POINTER;
        if (bytes_->size() < position_ + count) bytes_->resize(position_ + count);
        if (count > 0) std::memcpy(bytes_->data() + position_, buffer, count);
        position_ += count;
        if (written) *written = count;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        const LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                              : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                              : origin == STREAM_SEEK_END ? static_cast<LONGLONG>(bytes_->size())
                                                          : -1;
        if (base < 0) return STG_E_INVALIDFUNCTION;
        if (move.QuadPart < -base || move.QuadPart > std::numeric_limits<LONGLONG>::max() - base)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(base + move.QuadPart);
        if (position) position->QuadPart = position_;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (size.QuadPart > (1ULL << 31)) return STG_E_MEDIUMFULL;
        bytes_->resize(static_cast<size_t>(size.QuadPart));
        return S_OK;
    }
    HRESULT CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                   ULARGE_INTEGER* written) override {
        if (target == nullptr) return E_POINTER;
        const size_t available = position_ < bytes_->size() ? bytes_->size() - position_ : 0;
        const size_t n = static_cast<size_t>(std::min<ULONGLONG>(count.QuadPart, available));
        ULONG done = 0;
        const HRESULT hr = target->Write(bytes_->data() + position_, static_cast<ULONG>(n), &done);
        position_ += n;
        if (read) read->QuadPart = n;
        if (written) written->QuadPart = done;
        return hr;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return E_POINTER;
        *stat = STATSTG{};
        stat->type = 2;  // a stream
        stat->cbSize.QuadPart = bytes_->size();
        return S_OK;
    }
    // A second position over the same bytes.
    HRESULT Clone(IStream** copy) override {
        if (copy == nullptr) return E_POINTER;
        auto clone = Make<MemoryStream>(bytes_);
        clone->position_ = position_;
        *copy = clone.Detach();
        return S_OK;
    }

private:
    std::shared_ptr<std::string> bytes_;
    size_t position_ = 0;
};

}  // namespace

ComPtr<IStream> MakeMemoryStream(std::string content) {
    return ComPtr<IStream>(
        Make<MemoryStream>(std::make_shared<std::string>(std::move(content))).Get());
}

std::string StreamContent(IStream* stream) {
    std::string out;
    if (stream == nullptr) return out;
    stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
    char buffer[4096];
    for (ULONG read = 0; SUCCEEDED(stream->Read(buffer, sizeof buffer, &read)) && read > 0;)
        out.append(buffer, read);
    return out;
}

}  // namespace bx::com
