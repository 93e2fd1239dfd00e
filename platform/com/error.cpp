// Error objects and the per-thread current error (see com_error.h).
#include <bxplatform/com_error.h>

#include <mutex>
#include <new>

namespace {

using bx::com::Bstr;
using bx::com::ComPtr;

// One error object. The fields sit behind a mutex because the object may be read from another
// thread than the one that filled it; once it is current nobody writes it any more, so the
// lock is never contended in practice.
class ErrorObject final : public bx::com::RefCounted<IErrorInfo, ICreateErrorInfo> {
public:
    HRESULT GetGUID(GUID* guid) override {
        if (!guid) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return Copy(source_, source); }
    HRESULT GetDescription(BSTR* text) override { return Copy(description_, text); }
    HRESULT GetHelpFile(BSTR* path) override { return Copy(help_file_, path); }
    HRESULT GetHelpContext(DWORD* context) override {
        if (!context) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *context = help_context_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override {
        std::lock_guard lock(mutex_);
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR source) override { return Store(source_, source); }
    HRESULT SetDescription(LPOLESTR text) override { return Store(description_, text); }
    HRESULT SetHelpFile(LPOLESTR path) override { return Store(help_file_, path); }
    HRESULT SetHelpContext(DWORD context) override {
        std::lock_guard lock(mutex_);
        help_context_ = context;
        return S_OK;
    }

private:
    HRESULT Copy(const Bstr& field, BSTR* out) {
        if (!out) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *out = nullptr;
        if (field.IsNull()) return S_OK;
        *out = SysAllocStringLen(field.Get(), field.Length());
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Store(Bstr& field, LPOLESTR text) {
        try {
            Bstr copy(static_cast<const OLECHAR*>(text));
            std::lock_guard lock(mutex_);
            field = std::move(copy);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    std::mutex mutex_;
    GUID guid_{};
    Bstr source_;
    Bstr description_;
    Bstr help_file_;
    DWORD help_context_ = 0;
};

// The calling thread's current error; released when the thread ends.
thread_local ComPtr<IErrorInfo> current_error;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    try {
        ComPtr<ErrorObject> object = bx::com::Make<ErrorObject>();
        *info = static_cast<ICreateErrorInfo*>(object.Detach());
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
    if (reserved != 0) return E_INVALIDARG;
    // Swap first, release after: the old object's release must not see a half-updated slot.
    ComPtr<IErrorInfo> old = std::exchange(current_error, ComPtr<IErrorInfo>(info));
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (reserved != 0) return E_INVALIDARG;
    *info = current_error.Detach();
    return *info ? S_OK : S_FALSE;
}

namespace bx::com {

HRESULT RaiseError(REFIID iid, std::string_view source, std::string_view description) {
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.Put()))) {
        create->SetGUID(iid);
        std::u16string source16 = ToUtf16(source);
        std::u16string description16 = ToUtf16(description);
        create->SetSource(source16.data());
        create->SetDescription(description16.data());
        SetErrorInfo(0, QueryAs<IErrorInfo>(create.Get()).Get());
    }
    return DISP_E_EXCEPTION;
}

void FillExcepInfo(EXCEPINFO* exception, HRESULT scode) {
    ComPtr<IErrorInfo> error;
    GetErrorInfo(0, error.Put());  // cleared even when there is no record to fill
    if (!exception) return;
    *exception = EXCEPINFO{};
    exception->scode = scode;
    if (!error) return;
    error->GetSource(&exception->bstrSource);
    error->GetDescription(&exception->bstrDescription);
    error->GetHelpFile(&exception->bstrHelpFile);
    error->GetHelpContext(&exception->dwHelpContext);
}

}  // namespace bx::com
