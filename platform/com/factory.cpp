// The class factory around a creator function (see com_factory.h).
#include <bxplatform/com_factory.h>

#include <new>

namespace bx::com {

ClassFactory::ClassFactory(Creator create, ModuleLockCount& locks)
    : create_(std::move(create)), locks_(locks) {}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!create_) return E_UNEXPECTED;
    HRESULT hr;
    try {
        hr = create_(iid, object);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) *object = nullptr;  // whatever a failing creator left there is not ours
    return hr;
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        locks_.Lock();
    } else {
        locks_.Unlock();
    }
    return S_OK;
}

}  // namespace bx::com
