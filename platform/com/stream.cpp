// The memory stream and the memory storage.
#include <bxplatform/com_stream.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>

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
        stat->type = STGTY_STREAM;
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

// Streams by name. An element is its bytes; every open makes a new stream over them.
class MemoryStorage final : public RefCounted<IStorage> {
public:
    HRESULT CreateStream(LPCOLESTR name, DWORD mode, DWORD, DWORD, IStream** stream) override {
        if (stream == nullptr) return E_POINTER;
        *stream = nullptr;
        if (name == nullptr || *name == 0) return STG_E_INVALIDNAME;
        auto& bytes = elements_[name];
        if (bytes && !(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
        bytes = std::make_shared<std::string>();
        *stream = Make<MemoryStream>(bytes).Detach();
        return S_OK;
    }
    HRESULT OpenStream(LPCOLESTR name, void*, DWORD, DWORD, IStream** stream) override {
        if (stream == nullptr) return E_POINTER;
        *stream = nullptr;
        if (name == nullptr) return STG_E_INVALIDNAME;
        const auto found = elements_.find(name);
        if (found == elements_.end()) return STG_E_FILENOTFOUND;
        *stream = Make<MemoryStream>(found->second).Detach();
        return S_OK;
    }
    HRESULT CreateStorage(LPCOLESTR, DWORD, DWORD, DWORD, IStorage** storage) override {
        if (storage) *storage = nullptr;
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT OpenStorage(LPCOLESTR, IStorage*, DWORD, SNB, DWORD, IStorage** storage) override {
        if (storage) *storage = nullptr;
        return STG_E_INVALIDFUNCTION;
    }
    // Copies every stream into `target` (replacing streams of the same name there).
    HRESULT CopyTo(DWORD, const IID*, SNB, IStorage* target) override {
        if (target == nullptr) return E_POINTER;
        for (const auto& [name, bytes] : elements_) {
            ComPtr<IStream> copy;
            HRESULT hr =
                target->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE, 0, 0, copy.Put());
            if (SUCCEEDED(hr))
                hr = copy->Write(bytes->data(), static_cast<ULONG>(bytes->size()), nullptr);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }
    HRESULT MoveElementTo(LPCOLESTR, IStorage*, LPCOLESTR, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT Commit(DWORD) override { return S_OK; }  // direct mode: written is kept
    HRESULT Revert() override { return S_OK; }
    HRESULT EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** elements) override {
        if (elements) *elements = nullptr;
        return E_NOTIMPL;
    }
    HRESULT DestroyElement(LPCOLESTR name) override {
        if (name == nullptr) return STG_E_INVALIDNAME;
        return elements_.erase(name) > 0 ? S_OK : STG_E_FILENOTFOUND;
    }
    HRESULT RenameElement(LPCOLESTR oldName, LPCOLESTR newName) override {
        if (oldName == nullptr || newName == nullptr || *newName == 0) return STG_E_INVALIDNAME;
        const auto found = elements_.find(oldName);
        if (found == elements_.end()) return STG_E_FILENOTFOUND;
        if (elements_.count(newName) > 0) return STG_E_FILEALREADYEXISTS;
        auto bytes = found->second;
        elements_.erase(found);
        elements_[newName] = std::move(bytes);
        return S_OK;
    }
    HRESULT SetElementTimes(LPCOLESTR, const FILETIME*, const FILETIME*, const FILETIME*) override {
        return S_OK;
    }
    HRESULT SetClass(REFCLSID) override { return S_OK; }
    HRESULT SetStateBits(DWORD, DWORD) override { return S_OK; }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return E_POINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STORAGE;
        return S_OK;
    }

private:
    std::map<std::u16string, std::shared_ptr<std::string>> elements_;
};

}  // namespace

ComPtr<IStorage> MakeMemoryStorage() {
    return ComPtr<IStorage>(Make<MemoryStorage>().Get());
}

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
