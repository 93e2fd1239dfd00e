// Class factories and the module lock: how an in-process module hands out its objects and
// tells the platform when it may be unloaded. Also the signatures of the four module entry
// points the platform looks up in a module (DllGetClassObject, DllCanUnloadNow,
// DllRegisterServer, DllUnregisterServer).
//
// What counts towards a module's lock (ModuleLockCount): every live object the module made
// (each holds a ModuleLock member) and every LockServer(1) not yet undone. The class
// factory object itself does not count, so a module may cache its factory and still be
// unloadable; a caller that keeps a factory across an unload check holds it under
// LockServer(1), as the classic rule asks.
//
// Thread rule: ModuleLockCount, ModuleLock and ClassFactory are thread-safe; the creator
// function a ClassFactory calls must be too.
#pragma once

#include <bxplatform/com_object.h>

#include <atomic>
#include <functional>

// Makes the objects of one class.
class IClassFactory : public IUnknown {
public:
    // A new object, answered for `iid`. `outer` is for aggregation, which none of our classes
    // support (CLASS_E_NOAGGREGATION when it is not null).
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    // Non-zero keeps the module loaded (counts like a live object); zero undoes one lock.
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

inline constexpr IID IID_IClassFactory =
    bx::com::GuidLiteral("{00000001-0000-0000-C000-000000000046}");
BX_COM_INTERFACE(IClassFactory, IUnknown, IID_IClassFactory);

// The module entry points, as the platform finds them by name in a loaded module.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();

namespace bx::com {

// A module's lock count (one per module). Changes are interlocked.
class ModuleLockCount {
public:
    LONG Lock() noexcept { return count_.fetch_add(1, std::memory_order_acq_rel) + 1; }
    LONG Unlock() noexcept { return count_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    LONG Count() const noexcept { return count_.load(std::memory_order_acquire); }
    // What DllCanUnloadNow answers: S_OK when nothing holds the module, else S_FALSE.
    HRESULT CanUnloadNow() const noexcept { return Count() == 0 ? S_OK : S_FALSE; }

private:
    std::atomic<LONG> count_{0};
};

// Holds one lock on a module for as long as it lives; an object of the module keeps one as a
// member so that the module stays while the object does.
class ModuleLock {
public:
    explicit ModuleLock(ModuleLockCount& count) noexcept : count_(count) { count_.Lock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
    ~ModuleLock() { count_.Unlock(); }

private:
    ModuleLockCount& count_;
};

// A class factory around a creator function, which makes one object and answers it for the
// given interface (as QueryInterface would). The counter must outlive the factory.
class ClassFactory final : public RefCounted<IClassFactory> {
public:
    using Creator = std::function<HRESULT(REFIID iid, void** object)>;
    ClassFactory(Creator create, ModuleLockCount& locks);

    // E_POINTER for a null object pointer, CLASS_E_NOAGGREGATION for a non-null outer;
    // otherwise the creator's answer (*object null on failure).
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT LockServer(BOOL lock) override;

private:
    Creator create_;
    ModuleLockCount& locks_;
};

}  // namespace bx::com
